"""Batch speed: quernel.feed against a loop of next and against TA-Lib's batch functions.

Run it in a venv of its own, since TA-Lib is a peer library used only for comparison here:

    python3 -m venv .venv-bench
    .venv-bench/bin/pip install . numpy TA-Lib
    .venv-bench/bin/python benchmarks/feed_vs_talib.py [--n 1000000] [--repeats 15]

Each figure is the median over `repeats` runs of the time per input element, in nanoseconds.
The median, not the mean or the best, because the machines this runs on are shared and noisy;
compare figures from one run with each other rather than across runs. Without NumPy the feed
rows use array.array('d'); without TA-Lib its column is left empty.
"""

import argparse
import array
import platform
import random
import statistics
import sys
import time
from typing import Any, Callable, Dict, List, Optional

import quernel as q

try:
    import numpy as np
except ImportError:  # pragma: no cover - optional
    np = None

try:
    import talib
except ImportError:  # pragma: no cover - optional
    talib = None


def per_element_ns(run: Callable[[], Any], n: int, repeats: int) -> float:
    """The median over `repeats` runs of run()'s time, per element, in nanoseconds."""
    run()  # warm up: first touches of the memory, lazy imports
    times = []
    for _ in range(repeats):
        start = time.perf_counter_ns()
        run()
        times.append(time.perf_counter_ns() - start)
    return statistics.median(times) / n


def prices(n: int, seed: int = 7) -> List[float]:
    rng = random.Random(seed)
    level, out = 100.0, []
    for _ in range(n):
        level += rng.gauss(0.0, 1.0)
        out.append(level)
    return out


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--n", type=int, default=1_000_000, help="inputs per batch")
    parser.add_argument("--loop-n", type=int, default=200_000, help="inputs per loop of next")
    parser.add_argument("--repeats", type=int, default=15)
    args = parser.parse_args(argv)
    n, loop_n, repeats = args.n, args.loop_n, args.repeats

    close = prices(n)
    high = [c + 0.5 for c in close]
    low = [c - 0.5 for c in close]
    if np is not None:
        c_buf: Any = np.asarray(close)
        h_buf: Any = np.asarray(high)
        l_buf: Any = np.asarray(low)
    else:
        c_buf, h_buf, l_buf = (array.array("d", s) for s in (close, high, low))
    loop_close = close[:loop_n]
    loop_bars = [q.Bar(c, h, lo, c, 0) for c, h, lo in zip(close, high, low)][:loop_n]

    def loop(obj: Any, inputs: List[Any]) -> Callable[[], None]:
        def run() -> None:
            step = obj.next
            for x in inputs:
                step(x)
        return run

    rows: List[Dict[str, Any]] = []

    def measure(label: str, make: Callable[[], Any], bars: bool,
                ta: Optional[Callable[[], Any]]) -> None:
        if bars:
            feed = lambda: q.feed(make(), h_buf, l_buf, c_buf)  # noqa: E731
            step = loop(make(), loop_bars)
        else:
            feed = lambda: q.feed(make(), c_buf)  # noqa: E731
            step = loop(make(), loop_close)
        rows.append({
            "label": label,
            "feed": per_element_ns(feed, n, repeats),
            "next": per_element_ns(step, loop_n, max(3, repeats // 3)),
            "talib": per_element_ns(ta, n, repeats) if ta is not None and talib else None,
        })

    has_ta = talib is not None and np is not None
    measure("SimpleMovingAverage(20)", lambda: q.SimpleMovingAverage(20), False,
            (lambda: talib.SMA(c_buf, timeperiod=20)) if has_ta else None)
    measure("ExponentialMovingAverage(20)", lambda: q.ExponentialMovingAverage(20), False,
            (lambda: talib.EMA(c_buf, timeperiod=20)) if has_ta else None)
    measure("StandardDeviation(20)", lambda: q.StandardDeviation(20), False,
            (lambda: talib.STDDEV(c_buf, timeperiod=20)) if has_ta else None)
    measure("RelativeStrengthIndex(14)", lambda: q.RelativeStrengthIndex(14), False,
            (lambda: talib.RSI(c_buf, timeperiod=14)) if has_ta else None)
    measure("MovingAverageConvergenceDivergence(26, 12, 9)",
            lambda: q.MovingAverageConvergenceDivergence(26, 12, 9), False,
            (lambda: talib.MACD(c_buf, 12, 26, 9)) if has_ta else None)
    measure("Maximum(20)", lambda: q.Maximum(20), False,
            (lambda: talib.MAX(c_buf, timeperiod=20)) if has_ta else None)
    measure("RateOfChange(10)", lambda: q.RateOfChange(10), False,
            (lambda: talib.ROCR(c_buf, timeperiod=10)) if has_ta else None)
    measure("AverageTrueRange(14)", lambda: q.AverageTrueRange(14), True,
            (lambda: talib.ATR(h_buf, l_buf, c_buf, timeperiod=14)) if has_ta else None)
    measure("SimpleMovingAverageCrossover(10, 30)",
            lambda: q.SimpleMovingAverageCrossover(10, 30), False, None)

    print(f"quernel.feed vs a loop of next vs TA-Lib: {n:,} inputs per batch "
          f"({loop_n:,} for the loop of next), median of {repeats} runs, ns per element")
    print(f"{platform.python_implementation()} {platform.python_version()} on "
          f"{platform.machine()}; numpy {'yes' if np is not None else 'no'}, "
          f"TA-Lib {getattr(talib, '__version__', 'no')}")
    print("shared, noisy machine: compare figures within one run\n")
    header = f"{'class':<48} {'feed':>8} {'next loop':>10} {'TA-Lib':>8} {'loop/feed':>10}"
    print(header)
    print("-" * len(header))
    for r in rows:
        ta = f"{r['talib']:8.2f}" if r["talib"] is not None else f"{'':>8}"
        print(f"{r['label']:<48} {r['feed']:8.2f} {r['next']:10.1f} {ta} "
              f"{r['next'] / r['feed']:9.0f}x")
    print("\nTA-Lib's functions are its own algorithms (RSI and ATR use Wilder smoothing, ROCR is "
          "a ratio); only SMA and EMA compute the same thing. Each column is just a measure of "
          "speed.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
