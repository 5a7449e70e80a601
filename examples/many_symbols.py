"""Indicators for many independent symbols, warmed in parallel processes.

Every indicator is an ordinary object, and importing quernel makes every one picklable (its
snapshot travels, and `restore` checks it on arrival). So a symbol's indicators can go to a
worker process, be warmed there on the symbol's history in one `feed` per indicator, and come
back with their full state, ready to keep streaming live prices with `next` in the parent:

    python examples/many_symbols.py [--symbols 200] [--bars 5000] [--workers 2]

The same pattern runs on a cluster when one machine is not enough, since a job is just a
picklable function of picklable arguments:

- Dask: `client = dask.distributed.Client(...)`, then
  `futures = client.map(warm, jobs)` and `client.gather(futures)` in place of `pool.map`.
- Ray: `warm_remote = ray.remote(warm)`, then
  `ray.get([warm_remote.remote(job) for job in jobs])`.

Either way, ship each worker a symbol's history and its indicators, and get the warmed
indicators back; keep the objects of one symbol together, since each carries its own state.
"""

from __future__ import annotations

import argparse
import random
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from typing import Dict, List, NamedTuple, Optional, Union

import quernel as q

Indicator = Union[
    q.SimpleMovingAverage,
    q.ExponentialMovingAverage,
    q.RelativeStrengthIndex,
    q.MovingAverageConvergenceDivergence,
    q.SimpleMovingAverageCrossover,
]


class Job(NamedTuple):
    symbol: str
    closes: List[float]
    indicators: Dict[str, Indicator]


class Warmed(NamedTuple):
    symbol: str
    indicators: Dict[str, Indicator]
    last: Dict[str, float]  # each indicator's last value (MACD: its line; crossover: the code)


def make_indicators() -> Dict[str, Indicator]:
    return {
        "sma20": q.SimpleMovingAverage(20),
        "ema50": q.ExponentialMovingAverage(50),
        "rsi14": q.RelativeStrengthIndex(14),
        "macd": q.MovingAverageConvergenceDivergence(26, 12, 9),
        "cross": q.SimpleMovingAverageCrossover(10, 30),
    }


def warm(job: Job) -> Warmed:
    """Feeds a symbol's history to each of its indicators (in a worker process)."""
    last: Dict[str, float] = {}
    for name, indicator in job.indicators.items():
        out = q.feed(indicator, job.closes)
        if not len(out):
            continue
        value = out.tolist()[-1]
        last[name] = float(value[0] if isinstance(value, list) else value)
    return Warmed(job.symbol, job.indicators, last)


def history(symbol: str, bars: int) -> List[float]:
    """A made-up price history, the same for the same symbol."""
    rng = random.Random(symbol)
    level, out = 100.0, []
    for _ in range(bars):
        level *= 1.0 + rng.gauss(0.0, 0.01)
        out.append(level)
    return out


def warm_all(jobs: List[Job], workers: Optional[int]) -> List[Warmed]:
    with ProcessPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(warm, jobs, chunksize=max(1, len(jobs) // (4 * (workers or 2)))))


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description="Indicators for many symbols in parallel.")
    parser.add_argument("--symbols", type=int, default=200)
    parser.add_argument("--bars", type=int, default=5000)
    parser.add_argument("--workers", type=int, default=2)
    args = parser.parse_args(argv)

    jobs = [Job(f"SYM{k:04d}", history(f"SYM{k:04d}", args.bars), make_indicators())
            for k in range(args.symbols)]
    start = time.perf_counter()
    warmed = warm_all(jobs, args.workers)
    took = time.perf_counter() - start
    print(f"warmed {len(warmed)} symbols x {args.bars} bars x {len(jobs[0].indicators)} "
          f"indicators in {took:.2f} s with {args.workers} worker processes")

    # Back in this process the warmed objects carry on with live prices.
    book = {w.symbol: w.indicators for w in warmed}
    for symbol, indicators in list(book.items())[:3]:
        tick = history(symbol, args.bars + 1)[-1]
        sma = indicators["sma20"]
        cross = indicators["cross"]
        assert isinstance(sma, q.SimpleMovingAverage)
        assert isinstance(cross, q.SimpleMovingAverageCrossover)
        print(f"{symbol}: next tick {tick:.4f} -> SMA(20) {sma.next(tick):.4f}, "
              f"SMA crossover {cross.next(tick)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
