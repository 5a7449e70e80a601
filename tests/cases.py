"""One table of every stateful class with a few parameter sets, and streams to feed them, for
the tests of the quernel package (batch feeding, peeking, snapshots)."""

import random

import _quernel
from conftest import SPECIAL, stream

# (class name, constructor arguments)
CASES = [
    ("SimpleMovingAverage", (1,)),
    ("SimpleMovingAverage", (7,)),
    ("ExponentialMovingAverage", (1,)),
    ("ExponentialMovingAverage", (9,)),
    ("StandardDeviation", (1,)),
    ("StandardDeviation", (6,)),
    ("Minimum", (1,)),
    ("Minimum", (5,)),
    ("Maximum", (5,)),
    ("RateOfChange", (1,)),
    ("RateOfChange", (4,)),
    ("RelativeStrengthIndex", (1,)),
    ("RelativeStrengthIndex", (6,)),
    ("MovingAverageConvergenceDivergence", (26, 12, 9)),
    ("MovingAverageConvergenceDivergence", (3, 1, 3)),
    ("SharpeRatio", (1, 0.0)),
    ("SharpeRatio", (5, 0.01)),
    ("SimpleMovingAverageCrossover", (1, 2)),
    ("SimpleMovingAverageCrossover", (3, 8)),
    ("ExponentialMovingAverageCrossover", (2, 5)),
    ("TrueRange", ()),
    ("AverageTrueRange", (1,)),
    ("AverageTrueRange", (4,)),
]

BAR_CLASSES = {"TrueRange", "AverageTrueRange"}
STRATEGIES = {"SimpleMovingAverageCrossover", "ExponentialMovingAverageCrossover"}


def case_id(case):
    name, args = case
    return f"{name}{args}"


def make(case):
    name, args = case
    return getattr(_quernel, name)(*args)


def bar_stream(rng, n):
    """Bars with the values that break arithmetic mixed in, as (high, low, close) triples."""
    out, close = [], 100.0
    for _ in range(n):
        if rng.random() < 0.08:
            out.append(tuple(rng.choice(SPECIAL + [close]) for _ in range(3)))
            continue
        high = close + abs(rng.gauss(0, 1))
        low = close - abs(rng.gauss(0, 1))
        if rng.random() < 0.05:
            high, low = low, high
        close = close + rng.gauss(0, 1)
        out.append((high, low, close))
    return out


def inputs_for(case, rng, n):
    """Inputs for one class: numbers, or (high, low, close) triples for the bar classes."""
    return bar_stream(rng, n) if case[0] in BAR_CLASSES else stream(rng, n)


def to_next_input(case, x):
    if case[0] in BAR_CLASSES:
        high, low, close = x
        return _quernel.Bar(0.0, high, low, close, 0)
    return x


def plain(value):
    """A result as plain data: a float, a tuple of floats, or a signal's code."""
    if isinstance(value, _quernel.Signal):
        return int(value)
    return value


def step_by_step(obj, case, inputs):
    return [plain(obj.next(to_next_input(case, x))) for x in inputs]


def seeded(*parts):
    return random.Random("-".join(str(p) for p in parts))


def same_results(got, want):
    """Two lists of plain results carry the same bits (a NaN equals every NaN)."""
    from conftest import same

    assert len(got) == len(want)
    for i, (g, w) in enumerate(zip(got, want)):
        assert (g == w) if isinstance(w, int) else same(g, w), (i, g, w)


def same_state(case, a, b, probe=60):
    """Two objects hold the same state: their snapshots are equal, or differ only where a NaN
    was computed (which NaN an operation on two NaNs yields depends on how the compiler ordered
    its operands, as IEEE 754 allows) and then they give the same results from here on.
    Neither object is changed."""
    import quernel

    first, second = quernel.snapshot(a), quernel.snapshot(b)
    if first == second:
        return
    assert len(first) == len(second)
    a, b = quernel.restore(first), quernel.restore(second)
    rng = seeded("probe", case)
    for _ in range(3):
        xs = inputs_for(case, rng, probe)
        same_results(step_by_step(a, case, xs), step_by_step(b, case, xs))
        a.reset()
        b.reset()
