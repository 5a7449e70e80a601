"""The demo's chart (needs matplotlib: `pip install 'quernel[plot]'`).

Top: the close with its 10- and 30-bar simple moving averages, and the crossover signals marked
where they change: a green triangle where the short average rises above the long one (BUY), a
red one where it falls below (SELL). Below: the relative strength index, then MACD.
"""

from __future__ import annotations

from typing import Any, Dict, List, Sequence

from .sample import Row


def draw(rows: Sequence[Row], results: Dict[str, List[Any]], path: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    x = list(range(len(rows)))
    close = [r.close for r in rows]
    figure, (top, middle, bottom) = plt.subplots(
        3, 1, figsize=(12, 8), sharex=True, gridspec_kw={"height_ratios": [3, 1, 1]})
    top.plot(x, close, color="0.35", linewidth=1.0, label="close")
    top.plot(x, results["SMA(10)"], color="tab:blue", linewidth=1.1, label="SMA(10)")
    top.plot(x, results["SMA(30)"], color="tab:orange", linewidth=1.1, label="SMA(30)")
    codes = [int(s) for s in results["SMAx(10,30)"]]
    buys = [k for k in range(1, len(codes)) if codes[k] == 0 and codes[k - 1] != 0]
    sells = [k for k in range(1, len(codes)) if codes[k] == 1 and codes[k - 1] != 1]
    top.scatter(buys, [close[k] for k in buys], marker="^", color="tab:green", s=60, zorder=3,
                label="crossover BUY")
    top.scatter(sells, [close[k] for k in sells], marker="v", color="tab:red", s=60, zorder=3,
                label="crossover SELL")
    top.set_title("quernel demo: bundled sample bars")
    top.set_ylabel("price")
    top.legend(loc="upper left", fontsize="small", ncol=3)
    top.grid(alpha=0.3)

    middle.plot(x, results["RSI(14)"], color="tab:purple", linewidth=1.0)
    for level in (30, 70):
        middle.axhline(level, color="0.6", linewidth=0.8, linestyle="--")
    middle.set_ylim(0, 100)
    middle.set_ylabel("RSI(14)")
    middle.grid(alpha=0.3)

    macd = [v[0] for v in results["MACD(26,12,9)"]]
    signal = [v[1] for v in results["MACD(26,12,9)"]]
    histogram = [v[2] for v in results["MACD(26,12,9)"]]
    bottom.bar(x, histogram, color=["tab:green" if h >= 0 else "tab:red" for h in histogram],
               width=1.0, alpha=0.5, label="histogram")
    bottom.plot(x, macd, color="tab:blue", linewidth=1.0, label="MACD(26,12,9)")
    bottom.plot(x, signal, color="tab:orange", linewidth=1.0, label="signal")
    bottom.set_ylabel("MACD")
    bottom.legend(loc="upper left", fontsize="small", ncol=3)
    bottom.grid(alpha=0.3)

    step = max(len(rows) // 8, 1)
    bottom.set_xticks(x[::step])
    bottom.set_xticklabels([rows[k].date for k in x[::step]], rotation=0, fontsize="small")
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
