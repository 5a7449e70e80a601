"""The `quernel` command (also `python -m quernel`).

    quernel [demo] [--plot FILE | --no-plot]
    quernel compute --csv FILE --indicator sma:20 [--indicator rsi:14 ...] [--output FILE]
"""

from __future__ import annotations

import argparse
import importlib.util
import sys
from typing import List, Optional, TextIO

from . import compute as compute_module
from . import demo, indicators

DEFAULT_CHART = "quernel-demo.png"


def has_matplotlib() -> bool:
    return importlib.util.find_spec("matplotlib") is not None


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(
        prog="quernel",
        description="Streaming technical-analysis indicators: the demo, or indicators over a "
                    "CSV file.")
    commands = top.add_subparsers(dest="command")

    show = commands.add_parser(
        "demo", help="run the demo on the bundled sample bars (the default)",
        description="Stream the bundled sample bars through every indicator and both "
                    "strategies and print a table. With matplotlib installed (the plot extra) "
                    f"it also writes a chart, by default to {DEFAULT_CHART}.")
    chart = show.add_mutually_exclusive_group()
    chart.add_argument("--plot", metavar="FILE", help="write the chart (PNG) to FILE")
    chart.add_argument("--no-plot", action="store_true", help="do not draw the chart")

    run = commands.add_parser(
        "compute", help="indicators over a CSV file of prices or OHLCV bars",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Read a CSV file of prices (one per row) or OHLCV bars, with or without a "
                    "header row, and write a CSV file with the close and one column per result.",
        epilog="indicators (parameters in the order of the class's constructor):\n"
               + indicators.describe()
               + "\n\nsharpe is fed the per-row returns of the close (its first row is empty); "
                 "tr and atr need high and low columns.")
    run.add_argument("--csv", required=True, metavar="FILE", help="the input file")
    run.add_argument("--indicator", "-i", action="append", required=True, metavar="NAME:PARAMS",
                     help="an indicator such as sma:20, rsi:14, macd:26,12,9 (repeatable)")
    run.add_argument("--output", "-o", metavar="FILE", help="the output file (default: stdout)")
    progress = run.add_mutually_exclusive_group()
    progress.add_argument("--progress", dest="progress", action="store_true", default=None,
                          help="show a progress line on stderr (default: for large files on "
                               "a terminal)")
    progress.add_argument("--no-progress", dest="progress", action="store_false")
    return top


def main(argv: Optional[List[str]] = None, out: TextIO = sys.stdout,
         err: TextIO = sys.stderr) -> int:
    args_list = list(sys.argv[1:] if argv is None else argv)
    if not args_list or args_list[0] not in ("demo", "compute", "-h", "--help"):
        args_list.insert(0, "demo")
    args = parser().parse_args(args_list)
    if args.command == "compute":
        return run_compute(args, out, err)
    plot: Optional[str] = args.plot
    if plot is None and not args.no_plot and has_matplotlib():
        plot = DEFAULT_CHART
    code = demo.main(plot, out)
    if plot is None and not args.no_plot:
        print("\n(install matplotlib, e.g. pip install 'quernel[plot]', for a chart)", file=out)
    return code


def run_compute(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    try:
        chosen = [indicators.parse(text) for text in args.indicator]
    except indicators.IndicatorError as error:
        print(f"quernel compute: error: {error}", file=err)
        return 2
    try:
        if args.output:
            with open(args.output, "w", newline="", encoding="utf-8") as target:
                rows = compute_module.compute(args.csv, chosen, target, args.progress, err)
            print(f"quernel compute: {rows:,} rows written to {args.output}", file=err)
        else:
            compute_module.compute(args.csv, chosen, out, args.progress, err)
    except compute_module.InputError as error:
        print(f"quernel compute: error: {error}", file=err)
        return 2
    except BrokenPipeError:
        # The reader went away (quernel compute ... | head): stop quietly, as other tools do.
        try:
            import os

            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        except (OSError, ValueError):
            pass
        return 141
    except OSError as error:
        print(f"quernel compute: error: {error}", file=err)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
