"""Demo: stream the bundled sample bars through every indicator and both strategies and print
what they compute."""

import sys

import quernel as q


def main() -> int:
    rows = q.load_sample()
    streams = {
        "SMA(20)": (q.SimpleMovingAverage(20), "close"),
        "EMA(20)": (q.ExponentialMovingAverage(20), "close"),
        "StdDev(20)": (q.StandardDeviation(20), "close"),
        "Min(20)": (q.Minimum(20), "close"),
        "Max(20)": (q.Maximum(20), "close"),
        "ROC(10)": (q.RateOfChange(10), "close"),
        "RSI(14)": (q.RelativeStrengthIndex(14), "close"),
        "TR": (q.TrueRange(), "bar"),
        "ATR(14)": (q.AverageTrueRange(14), "bar"),
        "MACD(26,12,9)": (q.MovingAverageConvergenceDivergence(26, 12, 9), "close"),
        "Sharpe(20)": (q.SharpeRatio(20, 0.0), "return"),
        "SMAx(10,30)": (q.SimpleMovingAverageCrossover(10, 30), "close"),
        "EMAx(12,26)": (q.ExponentialMovingAverageCrossover(12, 26), "close"),
    }
    last_close = None
    table = []
    for row in rows:
        bar = q.Bar(row.open, row.high, row.low, row.close, row.volume)
        ret = 0.0 if last_close is None else row.close / last_close - 1.0
        last_close = row.close
        values = {}
        for name, (indicator, feed) in streams.items():
            x = bar if feed == "bar" else ret if feed == "return" else row.close
            values[name] = indicator.next(x)
        table.append((row, values))

    print(f"quernel demo: {len(rows)} bars of bundled sample data "
          f"({rows[0].date} .. {rows[-1].date})\n")
    columns = ["SMA(20)", "EMA(20)", "StdDev(20)", "RSI(14)", "ATR(14)", "MACD(26,12,9)",
               "Sharpe(20)", "SMAx(10,30)", "EMAx(12,26)"]
    header = f"{'date':<10} {'close':>8} " + " ".join(f"{c:>13}" for c in columns)
    print(header)
    print("-" * len(header))
    for row, values in table[-15:]:
        cells = []
        for c in columns:
            v = values[c]
            if isinstance(v, tuple):
                cells.append(f"{v[0]:>13.4f}")
            elif isinstance(v, q.Signal):
                cells.append(f"{str(v)[7:]:>13}")
            else:
                cells.append(f"{v:>13.4f}")
        print(f"{row.date:<10} {row.close:>8.2f} " + " ".join(cells))

    signals = [values["SMAx(10,30)"] for _, values in table]
    changes = sum(1 for a, b in zip(signals, signals[1:]) if a != b)
    print(f"\nSMA crossover (10, 30): {changes} changes of signal over the series; "
          f"last: {signals[-1]}")
    last = table[-1][1]
    print(f"20-bar range of the close: {last['Min(20)']:.2f} .. {last['Max(20)']:.2f}; "
          f"10-bar rate of change: {last['ROC(10)']:+.4%}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
