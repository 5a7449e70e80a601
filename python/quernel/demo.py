"""The demo: the bundled sample bars through every indicator and both strategies.

The history is fed in one batch per indicator (`feed`), then the last bars are streamed one at
a time (`next`) into the very same objects, the way a live feed continues from history. With
matplotlib installed (the `plot` extra) it also draws a chart.
"""

from __future__ import annotations

from typing import Any, Dict, List, Optional, Sequence, TextIO

from _quernel import (
    AverageTrueRange,
    Bar,
    ExponentialMovingAverage,
    ExponentialMovingAverageCrossover,
    Maximum,
    Minimum,
    MovingAverageConvergenceDivergence,
    RateOfChange,
    RelativeStrengthIndex,
    SharpeRatio,
    Signal,
    SimpleMovingAverage,
    SimpleMovingAverageCrossover,
    StandardDeviation,
    TrueRange,
)

from . import _native
from .sample import Row, load_sample

STREAMED = 15  # bars streamed with next after the batch; also the rows of the table

COLUMNS = ["SMA(20)", "EMA(20)", "StdDev(20)", "RSI(14)", "ATR(14)", "MACD(26,12,9)",
           "Sharpe(20)", "SMAx(10,30)", "EMAx(12,26)"]


def make_streams() -> Dict[str, Any]:
    return {
        "SMA(10)": SimpleMovingAverage(10),
        "SMA(20)": SimpleMovingAverage(20),
        "SMA(30)": SimpleMovingAverage(30),
        "EMA(20)": ExponentialMovingAverage(20),
        "StdDev(20)": StandardDeviation(20),
        "Min(20)": Minimum(20),
        "Max(20)": Maximum(20),
        "ROC(10)": RateOfChange(10),
        "RSI(14)": RelativeStrengthIndex(14),
        "TR": TrueRange(),
        "ATR(14)": AverageTrueRange(14),
        "MACD(26,12,9)": MovingAverageConvergenceDivergence(26, 12, 9),
        "Sharpe(20)": SharpeRatio(20, 0.0),
        "SMAx(10,30)": SimpleMovingAverageCrossover(10, 30),
        "EMAx(12,26)": ExponentialMovingAverageCrossover(12, 26),
    }


BAR_FED = {"TR", "ATR(14)"}
RETURN_FED = {"Sharpe(20)"}


def returns_of(rows: Sequence[Row]) -> List[float]:
    """Per-bar returns of the close; the first bar has none and counts as 0.0."""
    out, last = [], None
    for row in rows:
        out.append(0.0 if last is None else row.close / last - 1.0)
        last = row.close
    return out


def run(rows: Sequence[Row]) -> Dict[str, List[Any]]:
    """Every stream's result for every row: history by batch, the rest by next."""
    streams = make_streams()
    history, live = rows[:-STREAMED], rows[-STREAMED:]
    closes = [r.close for r in history]
    returns = returns_of(rows)
    results: Dict[str, List[Any]] = {}
    for name, obj in streams.items():
        if name in BAR_FED:
            out = _native.feed(obj, [r.high for r in history], [r.low for r in history], closes)
        elif name in RETURN_FED:
            out = _native.feed(obj, returns[: len(history)])
        else:
            out = _native.feed(obj, closes)
        values: List[Any] = out.tolist()
        if isinstance(obj, (SimpleMovingAverageCrossover, ExponentialMovingAverageCrossover)):
            members = (Signal.BUY, Signal.SELL, Signal.HOLD)
            values = [members[code] for code in values]
        elif isinstance(obj, MovingAverageConvergenceDivergence):
            values = [tuple(v) for v in values]
        results[name] = values
    for offset, row in enumerate(live):
        bar = Bar(row.open, row.high, row.low, row.close, row.volume)
        for name, obj in streams.items():
            if name in BAR_FED:
                x: Any = bar
            elif name in RETURN_FED:
                x = returns[len(history) + offset]
            else:
                x = row.close
            results[name].append(obj.next(x))
    return results


def cell(value: Any) -> str:
    if isinstance(value, tuple):
        return f"{value[0]:>13.4f}"
    if isinstance(value, Signal):
        return f"{str(value)[len('Signal.'):]:>13}"
    return f"{value:>13.4f}"


def print_table(rows: Sequence[Row], results: Dict[str, List[Any]], out: TextIO) -> None:
    print(f"quernel demo: {len(rows)} bars of bundled sample data "
          f"({rows[0].date} .. {rows[-1].date}); the first {len(rows) - STREAMED} fed in one "
          f"batch, the last {STREAMED} streamed one by one\n", file=out)
    header = f"{'date':<10} {'close':>8} " + " ".join(f"{c:>13}" for c in COLUMNS)
    print(header, file=out)
    print("-" * len(header), file=out)
    for k in range(len(rows) - STREAMED, len(rows)):
        cells = " ".join(cell(results[c][k]) for c in COLUMNS)
        print(f"{rows[k].date:<10} {rows[k].close:>8.2f} {cells}", file=out)
    signals = [int(s) for s in results["SMAx(10,30)"]]
    changes = sum(1 for a, b in zip(signals, signals[1:]) if a != b)
    print(f"\nSMA crossover (10, 30): {changes} changes of signal over the series; "
          f"last: {results['SMAx(10,30)'][-1]}", file=out)
    print(f"20-bar range of the close: {results['Min(20)'][-1]:.2f} .. "
          f"{results['Max(20)'][-1]:.2f}; 10-bar rate of change: "
          f"{results['ROC(10)'][-1]:+.4%}; true range of the last bar: {results['TR'][-1]:.2f}",
          file=out)


def main(plot: Optional[str], out: TextIO) -> int:
    rows = load_sample()
    results = run(rows)
    print_table(rows, results, out)
    if plot is not None:
        from .chart import draw  # matplotlib is imported only here

        draw(rows, results, plot)
        print(f"\nchart written to {plot}", file=out)
    return 0
