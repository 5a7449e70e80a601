"""Every operation of every class, each success and each failure path, repeated many times:
the reference counts of the arguments, results and shared singletons, the interpreter's
allocated blocks and the process's resident memory must stay flat.

The ordinary run repeats each operation QUERNEL_LEAK_CALLS times (2000 unless set); CI also
runs this file with 100000. A leaked reference per call shows in the counts, a leaked Python
object in the blocks, a leaked window or other native buffer in the resident memory (and in
LeakSanitizer on the sanitizer build).
"""

import gc
import os
import sys

import pytest

import _quernel
from arguments import (
    BAR_FED,
    CROSSOVERS,
    INDEX_QUERY,
    MAX_WINDOW,
    SHAPES,
    WINDOWED,
    WITH_PERIOD,
    WORD_BITS,
    WORD_MAX,
    Boom,
    ChainedTypeError,
    Index,
    Raising,
    Real,
    Reentrant,
    ReentrantIndex,
    bar,
    construct,
)
from conftest import IS_PYPY

CALLS = int(os.environ.get("QUERNEL_LEAK_CALLS", "2000"))
WARMUP = max(200, CALLS // 20)
BLOCK_SLACK = 200  # blocks that caches and free lists may still take after the warm-up
RSS_SLACK = 1 << 20  # bytes
REFCOUNT_SLACK = 8

pytestmark = pytest.mark.skipif(IS_PYPY, reason="reference counts and blocks are CPython's")

# Argument objects are made once, so that their reference counts can be watched.
BAR = bar()
FLOAT, INT, TRUE = 2.5, 7, True
STRING, NONE = "1.0", None
HUGE_INT = 2**1100  # beyond a double
BEYOND_64 = 2**64
REAL, INDEX = Real(3.25), Index(4)
NON_FLOAT = Real("x")
RAISING = Raising(lambda: Boom("boom"))
CHAINED = ChainedTypeError()
NEGATIVE_INDEX = Index(-5)
SINGLETONS = [None, True, False, NotImplemented, _quernel.Signal.BUY, _quernel.Signal.SELL,
              _quernel.Signal.HOLD]

FLOAT_FAILURES = [
    ("str", STRING, TypeError), ("None", NONE, TypeError), ("huge int", HUGE_INT, OverflowError),
    ("raising", RAISING, Boom), ("chained TypeError", CHAINED, TypeError),
    ("non-float result", NON_FLOAT, TypeError), ("Bar", BAR, TypeError),
]
WORD_FAILURES = [
    ("float", FLOAT, TypeError), ("str", STRING, TypeError), ("None", NONE, TypeError),
    ("negative", -1, OverflowError), ("negative index", NEGATIVE_INDEX, OverflowError),
    ("beyond 64 bits", BEYOND_64, OverflowError), ("raising", RAISING, Boom),
    ("chained TypeError", CHAINED, TypeError),
]
if WORD_BITS == 32:
    WORD_FAILURES.append(("beyond the word", 2**40, OverflowError))


class Quiet:
    """Standard error sent to /dev/null at the descriptor: each internal failure writes a
    diagnostic line there."""

    def __enter__(self):
        sys.stderr.flush()
        self.saved = os.dup(2)
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 2)
        os.close(null)

    def __exit__(self, *exc):
        os.dup2(self.saved, 2)
        os.close(self.saved)


def internal_panic():
    try:
        with Quiet():
            _quernel.SimpleMovingAverage(MAX_WINDOW + 1)
    except BaseException as error:  # noqa: B902
        return type(error)


class Op:
    """One operation: `call` either returns or raises `raises`; `watch` are the objects whose
    reference counts must not move."""

    def __init__(self, label, call, raises=None, watch=(), quiet=False):
        self.label, self.call, self.raises, self.watch, self.quiet = (
            label, call, raises, tuple(watch), quiet)

    def run(self, times):
        call, raises = self.call, self.raises
        if raises is None:
            for _ in range(times):
                call()
        else:
            for _ in range(times):
                try:
                    call()
                except raises:
                    pass
                else:
                    raise AssertionError(f"{self.label}: no {raises.__name__}")


def constructor_ops(name, unallocatable):
    cls = getattr(_quernel, name)
    params, kinds, good = SHAPES[name]
    ops = [
        Op("new", lambda: cls(*good)),
        Op("new: larger", lambda: cls(*(1000 + 5 * i if k == "w" else x
                                      for i, (k, x) in enumerate(zip(kinds, good))))),
        Op("new by keyword", lambda: cls(**dict(zip(params, good)))),
        Op("new: too many", lambda: cls(*good, 1), TypeError),
        Op("new: unknown keyword", lambda: cls(*good, bogus=1), TypeError),
    ]
    if params:
        ops += [
            Op("new: missing", lambda: cls(), TypeError),
            Op("new: twice", lambda: cls(*good, **{params[-1]: good[-1]}), TypeError),
        ]

    def replacing(i, value):
        args = list(good)
        args[i] = value
        return lambda: cls(*args)

    for i, (param, kind) in enumerate(zip(params, kinds)):
        for label, value, error in FLOAT_FAILURES if kind == "f" else WORD_FAILURES:
            ops.append(Op(f"new: {param} {label}", replacing(i, value), error, [value]))
        if kind == "w" and name != "Bar":
            ops.append(Op(f"new: {param} zero", replacing(i, 0), ValueError))
            ops.append(Op(f"new: {param} as index", replacing(i, Index(good[i]))))
    if name in CROSSOVERS:
        ops.append(Op("new: periods out of order", lambda: cls(3, 3), ValueError))
    panic = internal_panic()
    if name in WINDOWED:
        def sized(period):
            if name == "SharpeRatio":
                return lambda: cls(period, 0.0)
            if name in CROSSOVERS:
                return lambda: cls(1, period)  # the short window is made, then freed
            return lambda: cls(period)
        ops.append(Op("new: capacity overflow", sized(MAX_WINDOW + 1), panic, quiet=True))
        ops.append(Op("new: window not granted", sized(unallocatable), MemoryError))
    elif name in WITH_PERIOD or name in CROSSOVERS:
        ops.append(Op("new: largest word", lambda: cls(*good[:-1], WORD_MAX)))
    return ops


def method_ops(name):
    obj = construct(name)
    ops = []
    good_input = BAR if name in BAR_FED else FLOAT
    ops += [
        Op("next", lambda: obj.next(good_input), watch=[good_input]),
        Op("next by keyword", lambda: obj.next(input=good_input), watch=[good_input]),
        Op("next: missing", lambda: obj.next(), TypeError),
        Op("next: too many", lambda: obj.next(good_input, good_input), TypeError,
           [good_input]),
        Op("next: twice", lambda: obj.next(good_input, input=good_input), TypeError,
           [good_input]),
        Op("next: unknown keyword", lambda: obj.next(value=good_input), TypeError,
           [good_input]),
        Op("next: non-str keyword", lambda: obj.next(**{"inpu\u00e9": good_input}), TypeError),
    ]
    if name in BAR_FED:
        for label, value in [("float", FLOAT), ("None", NONE), ("str", STRING), ("int", INT)]:
            ops.append(Op(f"next: {label}", lambda v=value: obj.next(v), TypeError, [value]))
    else:
        for label, value in [("int", INT), ("bool", TRUE), ("huge int accepted", 2**80),
                             ("float conversion", REAL), ("index conversion", INDEX)]:
            ops.append(Op(f"next: {label}", lambda v=value: obj.next(v), watch=[value]))
        for label, value, error in FLOAT_FAILURES:
            ops.append(Op(f"next: {label}", lambda v=value: obj.next(v), error, [value]))
        refused = Reentrant(obj, lambda o: o.reset())
        refused_index = ReentrantIndex(obj, lambda o: o.next(1.0), value=3)
        swallowed = Reentrant(obj, lambda o: o.next(1.0), swallow=True)
        ops += [
            Op("next: refused re-entrance", lambda: obj.next(refused), RuntimeError,
               [refused]),
            Op("next: refused re-entrance through __index__", lambda: obj.next(refused_index),
               RuntimeError, [refused_index]),
            Op("next: swallowed re-entrance", lambda: obj.next(swallowed), watch=[swallowed]),
        ]
        if name in INDEX_QUERY:
            shared = Reentrant(obj, lambda o: getattr(o, INDEX_QUERY[name])())
            ops.append(Op("next: refused shared claim", lambda: obj.next(shared),
                          RuntimeError, [shared]))
    ops += [
        Op("reset", obj.reset),
        Op("reset: argument", lambda: obj.reset(1), TypeError),
    ]
    if name in WITH_PERIOD:
        ops += [Op("period", obj.period), Op("period: argument", lambda: obj.period(1),
                                              TypeError)]
    if name in INDEX_QUERY:
        query = getattr(obj, INDEX_QUERY[name])
        ops += [Op("index query", query), Op("index query: argument", lambda: query(1),
                                             TypeError)]
    return ops


def bar_ops():
    accessors = [getattr(BAR, field) for field in ("open", "high", "low", "close", "volume")]
    ops = [Op(f"Bar.{a.__name__}", a) for a in accessors]
    ops += [Op(f"Bar.{a.__name__}: argument", lambda a=a: a(1), TypeError) for a in accessors]
    ops.append(Op("Bar.close not settable", lambda: setattr(BAR, "close", 3.0),
                  AttributeError))
    return ops


def signal_ops():
    Signal = _quernel.Signal
    result = _quernel.SimpleMovingAverageCrossover(1, 2).next(1.0)  # a non-member instance
    return [
        Op("repr", lambda: repr(Signal.BUY)),
        Op("str", lambda: str(result)),
        Op("int", lambda: int(Signal.HOLD)),
        Op("== Signal", lambda: Signal.BUY == result, watch=[result]),
        Op("!= Signal", lambda: Signal.SELL != result, watch=[result]),
        Op("== int", lambda: Signal.HOLD == 2),
        Op("== index", lambda: Signal.SELL == INDEX, watch=[INDEX]),
        Op("== str", lambda: Signal.BUY == STRING, watch=[STRING]),
        Op("== None", lambda: Signal.BUY == None),  # noqa: E711
        Op("== beyond a word", lambda: Signal.BUY == HUGE_INT, watch=[HUGE_INT]),
        Op("== raising __index__", lambda: Signal.BUY == RAISING, watch=[RAISING]),
        Op("ordering", lambda: Signal.BUY < Signal.SELL, TypeError),
        Op("ordering with int", lambda: Signal.BUY >= 1, TypeError),
        Op("hash", lambda: hash(Signal.BUY), TypeError),
        Op("construct", lambda: Signal(), TypeError),
        Op("construct with code", lambda: Signal(1), TypeError),
        Op("new instance per result",
           lambda: _quernel.ExponentialMovingAverageCrossover(1, 2).next(FLOAT)),
    ]


def operations(name, unallocatable):
    if name == "Signal":
        return signal_ops()
    ops = constructor_ops(name, unallocatable)
    return ops + (bar_ops() if name == "Bar" else method_ops(name))


def under_address_sanitizer():
    try:
        with open("/proc/self/maps") as maps:
            names = {line.rsplit("/", 1)[-1] for line in maps}
        return any(n.startswith(("libasan", "libclang_rt.asan", "asan_with_fuzzer")) for n in names)
    except OSError:
        return False


# AddressSanitizer holds freed memory back in quarantine, so resident memory says nothing on
# the sanitizer build: LeakSanitizer watches the native allocations there instead.
WATCH_RSS = not under_address_sanitizer()


def resident_bytes():
    if not WATCH_RSS:
        return 0
    try:
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except OSError:
        return 0


def measure(op):
    """Runs `op` CALLS times after a warm-up; returns what moved."""
    watched = list(op.watch) + SINGLETONS + [type(x) for x in op.watch]
    op.run(WARMUP)
    gc.collect()
    refs = [sys.getrefcount(x) for x in watched]
    blocks, rss = sys.getallocatedblocks(), resident_bytes()
    op.run(CALLS)
    gc.collect()
    moved = {
        "blocks": sys.getallocatedblocks() - blocks,
        "rss": resident_bytes() - rss,
    }
    for x, before in zip(watched, refs):
        delta = sys.getrefcount(x) - before
        if abs(delta) > REFCOUNT_SLACK:
            moved[f"refcount of {x!r:.40}"] = delta
    return moved


CLASS_NAMES = list(SHAPES) + ["Signal"]


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_operations_do_not_leak(name, unallocatable):
    problems = []
    ops = operations(name, unallocatable)
    gc.collect()
    gc.freeze()  # the collections between operations then look at their garbage only
    try:
        for op in ops:
            if op.quiet:
                with Quiet():
                    moved = measure(op)
            else:
                moved = measure(op)
            if (
                moved["blocks"] > BLOCK_SLACK
                or moved["rss"] > RSS_SLACK
                or any(key.startswith("refcount") for key in moved)
            ):
                problems.append((op.label, moved))
    finally:
        gc.unfreeze()
    assert not problems, f"{CALLS} calls each: {problems}"
    assert len(ops) >= 10

