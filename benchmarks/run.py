"""Benchmark suite: the cost of one call, against the interpreter's floor, pure Python and peers.

    python benchmarks/run.py                 # full run, prints the table
    python benchmarks/run.py --markdown benchmarks/RESULTS.md
    python benchmarks/run.py --quick         # fewer repeats, for a smoke test

Every figure is nanoseconds per call: the median over several repeats (after a warm-up) of a
loop over the same inputs, divided by the number of calls. The floor is the same loop calling
`math.fabs(x)`, a builtin that takes one float and returns a new float; the bare loop is the
loop alone. Peers (wickra, TA-Lib's stream handles, talipp) are measured when installed, each
for the indicators it has; they are benchmark-only dependencies (benchmarks/requirements.txt).
"""

import argparse
import gc
import math
import os
import platform
import random
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

import _quernel as q  # noqa: E402
import model  # noqa: E402

N = 20_000  # calls per loop


def prices(n, seed=1):
    rng = random.Random(seed)
    level, out = 100.0, []
    for _ in range(n):
        level *= math.exp(rng.gauss(0.0, 0.01))
        out.append(level)
    return out


def bars(n, seed=2):
    rng = random.Random(seed)
    out = []
    for close in prices(n, seed):
        high = close * (1 + abs(rng.gauss(0, 0.005)))
        low = close * (1 - abs(rng.gauss(0, 0.005)))
        out.append((close, high, low, close, rng.randrange(1000, 100000)))
    return out


XS = prices(N)
BARS = bars(N)
QBARS = [q.Bar(*b) for b in BARS]
MBARS = [model.Bar(*b) for b in BARS]


# ---------------------------------------------------------------------------------------------
# Timing


def loop_calls(f, inputs):
    def run():
        for x in inputs:
            f(x)

    return run


def loop_calls3(f, triples):
    def run():
        for h, l, c in triples:
            f(h, l, c)

    return run


def bare_loop(inputs):
    def run():
        for x in inputs:
            pass

    return run


def measure(run, calls, repeats):
    run()  # warm-up
    times = []
    gc_was = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeats):
            t0 = time.perf_counter_ns()
            run()
            times.append(time.perf_counter_ns() - t0)
    finally:
        if gc_was:
            gc.enable()
    return statistics.median(times) / calls


FLOOR = None  # set by run(): the floor loop


def measure_against_floor(run, calls, repeats):
    """Times `run` and the floor loop alternately, so that both see the same machine (a shared
    or throttled machine drifts by several per cent over a run): returns the median ns per call
    and the median of the per-repeat ratios to the floor."""
    run()
    FLOOR()
    times, ratios = [], []
    gc_was = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeats):
            t0 = time.perf_counter_ns()
            FLOOR()
            t1 = time.perf_counter_ns()
            run()
            t2 = time.perf_counter_ns()
            times.append(t2 - t1)
            ratios.append((t2 - t1) / (t1 - t0))
    finally:
        if gc_was:
            gc.enable()
    return statistics.median(times) / calls, statistics.median(ratios)


# ---------------------------------------------------------------------------------------------
# What is measured

# name -> (constructor arguments at period p, input kind)
CLASSES = {
    "SimpleMovingAverage": (lambda p: (p,), "x"),
    "ExponentialMovingAverage": (lambda p: (p,), "x"),
    "StandardDeviation": (lambda p: (p,), "x"),
    "Minimum": (lambda p: (p,), "x"),
    "Maximum": (lambda p: (p,), "x"),
    "RateOfChange": (lambda p: (p,), "x"),
    "RelativeStrengthIndex": (lambda p: (p,), "x"),
    "SharpeRatio": (lambda p: (p, 0.0), "x"),
    "MovingAverageConvergenceDivergence": (lambda p: (p, max(1, p // 2), 9), "x"),
    "TrueRange": (lambda p: (), "bar"),
    "AverageTrueRange": (lambda p: (p,), "bar"),
    "SimpleMovingAverageCrossover": (lambda p: (max(1, p // 4), p), "x"),
    "ExponentialMovingAverageCrossover": (lambda p: (max(1, p // 4), p), "x"),
}
WINDOWLESS = {"TrueRange"}
# classes whose next costs the same whatever the period
CONSTANT_TIME = [
    "SimpleMovingAverage", "ExponentialMovingAverage", "StandardDeviation", "RateOfChange",
    "SharpeRatio", "MovingAverageConvergenceDivergence", "AverageTrueRange",
    "SimpleMovingAverageCrossover", "ExponentialMovingAverageCrossover",
]
STRATEGIES = {"SimpleMovingAverageCrossover", "ExponentialMovingAverageCrossover"}


def peers():
    """Peer implementations, as name -> {class name: factory(period) -> (call, input kind)}."""
    found = {}
    try:
        import wickra as w

        def wk(cls, args):
            return lambda p: getattr(w, cls)(*args(p)).update

        candle = "candle"
        found["wickra"] = {
            "SimpleMovingAverage": (wk("SMA", lambda p: (p,)), "x"),
            "ExponentialMovingAverage": (wk("EMA", lambda p: (p,)), "x"),
            "StandardDeviation": (wk("StdDev", lambda p: (p,)), "x"),
            "RateOfChange": (wk("ROCP", lambda p: (p,)), "x"),
            "RelativeStrengthIndex": (wk("RSI", lambda p: (p,)), "x"),
            "MovingAverageConvergenceDivergence": (
                wk("MACD", lambda p: (max(1, p // 2), p, 9)), "x"),
            "AverageTrueRange": (wk("ATR", lambda p: (p,)), candle),
            "TrueRange": (wk("TrueRange", lambda p: ()), candle),
        }
    except ImportError:
        pass
    try:
        import numpy as np
        import talib.stream as ts

        seed = np.array(XS[:1024])

        def tl(cls, args):
            def make(p):
                handle, _ = getattr(ts, cls).open_and_fill(seed, *args(p))
                return handle.update

            return make

        def tl3(cls):
            def make(p):
                handle, _ = getattr(ts, cls).open_and_fill(seed * 1.01, seed * 0.99, seed, p)
                return handle.update

            return make

        found["TA-Lib"] = {
            "SimpleMovingAverage": (tl("SMA", lambda p: (p,)), "x"),
            "ExponentialMovingAverage": (tl("EMA", lambda p: (p,)), "x"),
            "StandardDeviation": (tl("STDDEV", lambda p: (p,)), "x"),
            "Minimum": (tl("MIN", lambda p: (p,)), "x"),
            "Maximum": (tl("MAX", lambda p: (p,)), "x"),
            "RateOfChange": (tl("ROCP", lambda p: (p,)), "x"),
            "RelativeStrengthIndex": (tl("RSI", lambda p: (p,)), "x"),
            "MovingAverageConvergenceDivergence": (
                tl("MACD", lambda p: (max(1, p // 2), p, 9)), "x"),
            "AverageTrueRange": (tl3("ATR"), "hlc"),
        }
    except ImportError:
        pass
    try:
        import talipp.indicators as ti
        from talipp.ohlcv import OHLCV

        def tp(cls, args):
            return lambda p: getattr(ti, cls)(*args(p)).add

        found["talipp"] = {
            "SimpleMovingAverage": (tp("SMA", lambda p: (p,)), "x"),
            "ExponentialMovingAverage": (tp("EMA", lambda p: (p,)), "x"),
            "StandardDeviation": (tp("StdDev", lambda p: (p,)), "x"),
            "RateOfChange": (tp("ROC", lambda p: (p,)), "x"),
            "RelativeStrengthIndex": (tp("RSI", lambda p: (p,)), "x"),
            "MovingAverageConvergenceDivergence": (
                tp("MACD", lambda p: (max(1, p // 2), p, 9)), "x"),
            "AverageTrueRange": (tp("ATR", lambda p: (p,)), "ohlcv"),
        }
        found["talipp"]["_ohlcv"] = [OHLCV(*b) for b in BARS]
    except ImportError:
        pass
    return found


def peer_inputs(kind, extra):
    if kind == "x":
        return XS
    if kind == "candle":
        return [(o, h, l, c, float(v), i) for i, (o, h, l, c, v) in enumerate(BARS)]
    if kind == "hlc":
        return [(h, l, c) for (_, h, l, c, _) in BARS]
    if kind == "ohlcv":
        return extra
    raise ValueError(kind)


# ---------------------------------------------------------------------------------------------
# The run


def machine():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as handle:
            for line in handle:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return (f"{cpu}, {os.cpu_count()} cores; {platform.python_implementation()} "
            f"{platform.python_version()} on {platform.system()} {platform.machine()}")


def warm_up(seconds=1.0):
    """Brings the processor to a steady clock before anything is timed."""
    end = time.perf_counter() + seconds
    f = math.fabs
    while time.perf_counter() < end:
        for x in XS:
            f(x)


def run(repeats, periods_for_scaling):
    rows = []  # (group, case, ns, extra columns dict)
    global FLOOR
    warm_up()
    FLOOR = loop_calls(math.fabs, XS)
    floor = measure(FLOOR, N, repeats)
    bare = measure(bare_loop(XS), N, repeats)
    rows.append(("floor", "math.fabs(x)", floor, {}))
    rows.append(("floor", "bare loop", bare, {}))

    peer_table = peers()

    for period in (14, 200):
        for name, (args, kind) in CLASSES.items():
            if name in WINDOWLESS and period != 14:
                continue
            obj = getattr(q, name)(*args(period))
            inputs = QBARS if kind == "bar" else XS
            ns, ratio = measure_against_floor(loop_calls(obj.next, inputs), N, repeats)
            mobj = getattr(model, name)(*args(period))
            py = measure(loop_calls(mobj.next, MBARS if kind == "bar" else XS), N,
                         max(3, repeats // 2))
            extra = {"python": py, "ratio": ratio}
            for peer, table in peer_table.items():
                if name in table:
                    factory, pkind = table[name]
                    try:
                        call = factory(period)
                        pin = peer_inputs(pkind, table.get("_ohlcv"))
                        if pkind == "hlc":
                            pns = measure(loop_calls3(call, pin), N, repeats)
                        else:
                            pns = measure(loop_calls(call, pin), N, repeats)
                        extra[peer] = pns
                    except Exception as error:  # a peer that does not run is left out
                        print(f"  ({peer} {name}: {type(error).__name__}: {error})",
                              file=sys.stderr)
            label = f"{name}({', '.join(map(str, args(period)))}).next"
            rows.append((f"next, period {period}" if name not in WINDOWLESS else "next",
                         label, ns, extra))

    # constructors and reset
    for name, (args, kind) in CLASSES.items():
        cls = getattr(q, name)
        a = args(14)
        calls = N // 4

        def construct(cls=cls, a=a, calls=calls):
            for _ in range(calls):
                cls(*a)

        rows.append(("constructor", f"{name}({', '.join(map(str, a))})",
                     measure(construct, calls, repeats), {}))
        obj = cls(*a)
        reset = obj.reset

        def resets(reset=reset, calls=calls):
            for _ in range(calls):
                reset()

        rows.append(("reset", f"{name}.reset() at period 14", measure(resets, calls, repeats),
                     {}))
    bar_args = BARS[0]

    def make_bars(calls=N // 4):
        for _ in range(calls):
            q.Bar(*bar_args)

    rows.append(("constructor", "Bar(open, high, low, close, volume)",
                 measure(make_bars, N // 4, repeats), {}))

    # cost against period
    scaling = {}
    for name in CONSTANT_TIME:
        args, kind = CLASSES[name]
        inputs = QBARS if kind == "bar" else XS
        scaling[name] = {}
        for period in periods_for_scaling:
            obj = getattr(q, name)(*args(period))
            # A new window is mapped lazily by the operating system, so the first pass through
            # a large ring also pays a page fault per 4 KiB; reset() writes every slot and so
            # measures the steady state that a long-running indicator is in.
            obj.reset()
            scaling[name][period] = measure(loop_calls(obj.next, inputs), N, repeats)
    return floor, bare, rows, scaling


# windows per object: (number of rings, period they hold)
WINDOWS = {
    "SimpleMovingAverage": 1, "StandardDeviation": 1, "Minimum": 1, "Maximum": 1,
    "RateOfChange": 1, "RelativeStrengthIndex": 1, "SharpeRatio": 2,
    "SimpleMovingAverageCrossover": 2,
}


def rss_bytes():
    try:
        with open("/proc/self/statm") as handle:
            return int(handle.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except (OSError, ValueError):
        return None


def memory():
    """Bytes per object: the instance (its type's basic size) plus its windows. The window part
    is checked against the process's resident memory for one large window."""
    rows = []
    for name, (args, kind) in CLASSES.items():
        for period in (14, 200):
            if name in WINDOWLESS and period != 14:
                continue
            obj = getattr(q, name)(*args(period))
            instance = sys.getsizeof(obj)
            a = args(period)
            if name == "SimpleMovingAverageCrossover":
                window = 8 * (a[0] + a[1])
            else:
                window = 8 * period * WINDOWS.get(name, 0)
            rows.append((f"{name}({', '.join(map(str, a))})", instance, window))
    rows.append(("Bar(...)", sys.getsizeof(q.Bar(1.0, 2.0, 0.5, 1.5, 1)), 0))
    rows.append(("Signal result", sys.getsizeof(q.Signal.BUY), 0))
    check = None
    before = rss_bytes()
    if before is not None:
        big = q.SimpleMovingAverage(10_000_000)
        big.reset()  # writes every slot, so the window is resident
        after = rss_bytes()
        check = (after - before) / 10_000_000
        del big
    return rows, check


def render_memory(rows, check):
    out = ["Memory per object (bytes; nothing is allocated per call besides the result):", ""]
    out.append("| object | instance | windows | total |")
    out.append("|---|---|---|---|")
    for name, instance, window in rows:
        out.append(f"| `{name}` | {instance} | {window} | {instance + window} |")
    if check is not None:
        out.append("")
        out.append(f"Resident memory of `SimpleMovingAverage(10_000_000)` after `reset()`: "
                   f"{check:.2f} bytes per slot.")
    return "\n".join(out)


def render(floor, bare, rows, scaling, periods, peers_present):
    out = []
    out.append(f"Machine: {machine()}")
    out.append(f"{N} calls per loop; median of repeats after a warm-up; ns per call.")
    out.append("")
    head = ["case", "ns/call", "x floor", "faster than Python"] + [
        f"x {p}" for p in peers_present]
    out.append("| " + " | ".join(head) + " |")
    out.append("|" + "---|" * len(head))
    for group, case, ns, extra in rows:
        cells = [f"{group}: `{case}`", f"{ns:.1f}", f"{extra.get('ratio', ns / floor):.2f}"]
        cells.append(f"{extra['python'] / ns:.0f}x" if "python" in extra else "")
        for p in peers_present:
            cells.append(f"{ns / extra[p]:.2f} ({extra[p]:.0f} ns)" if p in extra else "")
        out.append("| " + " | ".join(cells) + " |")
    out.append("")
    out.append("Cost against period (ns per `next`, windows resident: see run.py):")
    out.append("")
    head = ["class"] + [f"period {p}" for p in periods] + [f"{periods[-1]} / {periods[0]}"]
    out.append("| " + " | ".join(head) + " |")
    out.append("|" + "---|" * len(head))
    for name, by_period in scaling.items():
        cells = [name] + [f"{by_period[p]:.1f}" for p in periods]
        cells.append(f"{by_period[periods[-1]] / by_period[periods[0]]:.2f}")
        out.append("| " + " | ".join(cells) + " |")
    out.append("")
    out.append("`x floor`: for `next`, the median ratio to the floor timed alternately with it "
               "(elsewhere ns/call over the floor's); `faster than Python`: the pure-Python "
               "model (tests/model.py) divided by ours; `x peer`: ours divided by the peer's "
               "(below 1 means quernel is faster), with the peer's own ns/call.")
    return "\n".join(out)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer repeats (smoke test)")
    parser.add_argument("--repeats", type=int, default=None)
    parser.add_argument("--markdown", metavar="FILE", help="also write the tables to FILE")
    args = parser.parse_args(argv)
    repeats = args.repeats or (3 if args.quick else 11)
    periods = (10, 10_000) if args.quick else (10, 10_000, 1_000_000)
    floor, bare, rows, scaling = run(repeats, periods)
    present = [p for p in ("wickra", "TA-Lib", "talipp")
               if any(p in extra for _, _, _, extra in rows)]
    text = render(floor, bare, rows, scaling, periods, present)
    text += "\n\n" + render_memory(*memory())
    print(text)
    if args.markdown:
        try:
            commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=HERE,
                                    capture_output=True, text=True).stdout.strip()
        except OSError:
            commit = ""
        with open(args.markdown, "w") as handle:
            handle.write("# Benchmark results\n\n")
            handle.write("Produced by `python benchmarks/run.py --markdown "
                         "benchmarks/RESULTS.md`" + (f" at commit {commit}" if commit else "")
                         + ".\n\n")
            handle.write(text + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
