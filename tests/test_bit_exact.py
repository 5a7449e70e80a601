"""Every class against its pure-Python model on long randomized streams with resets: every
result must carry the same bits."""

import random

import pytest

import _quernel
import model
from conftest import SPECIAL, same, stream

# (class name, constructor arguments) for each class fed numbers
NUMBER_CASES = [
    ("SimpleMovingAverage", (1,)),
    ("SimpleMovingAverage", (3,)),
    ("SimpleMovingAverage", (50,)),
    ("ExponentialMovingAverage", (1,)),
    ("ExponentialMovingAverage", (2,)),
    ("ExponentialMovingAverage", (9,)),
    ("ExponentialMovingAverage", (200,)),
    ("StandardDeviation", (1,)),
    ("StandardDeviation", (3,)),
    ("StandardDeviation", (30,)),
    ("Minimum", (1,)),
    ("Minimum", (4,)),
    ("Minimum", (25,)),
    ("Maximum", (1,)),
    ("Maximum", (4,)),
    ("Maximum", (25,)),
    ("RateOfChange", (1,)),
    ("RateOfChange", (3,)),
    ("RateOfChange", (20,)),
    ("RelativeStrengthIndex", (1,)),
    ("RelativeStrengthIndex", (3,)),
    ("RelativeStrengthIndex", (14,)),
    ("MovingAverageConvergenceDivergence", (26, 12, 9)),
    ("MovingAverageConvergenceDivergence", (12, 26, 9)),
    ("MovingAverageConvergenceDivergence", (3, 1, 3)),
    ("SharpeRatio", (1, 0.0)),
    ("SharpeRatio", (3, 0.01)),
    ("SharpeRatio", (20, -0.5)),
    ("SimpleMovingAverageCrossover", (1, 2)),
    ("SimpleMovingAverageCrossover", (5, 20)),
    ("ExponentialMovingAverageCrossover", (1, 2)),
    ("ExponentialMovingAverageCrossover", (12, 26)),
]

BAR_CASES = [("TrueRange", ()), ("AverageTrueRange", (1,)), ("AverageTrueRange", (14,))]


def result_of(value):
    """A strategy result as its code, anything else as it is."""
    if isinstance(value, _quernel.Signal):
        return int(value)
    return value


def agree(a, b):
    return a == b if isinstance(a, int) else same(a, b)


def drive(make_real, make_model, inputs, rng, to_real=lambda x: x):
    real, oracle = make_real(), make_model()
    for step, x in enumerate(inputs):
        if rng.random() < 0.01:
            assert real.reset() is None
            oracle.reset()
        got, want = result_of(real.next(to_real(x))), oracle.next(x)
        assert agree(got, want), (step, x, got, want)


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("name,args", NUMBER_CASES)
def test_numbers(name, args, seed):
    rng = random.Random(f"{name}{args}{seed}")
    inputs = stream(rng, 600)
    drive(
        lambda: getattr(_quernel, name)(*args),
        lambda: getattr(model, name)(*args),
        inputs,
        rng,
    )


def random_bar(rng, close):
    if rng.random() < 0.1:
        fields = [rng.choice(SPECIAL + [close]) for _ in range(4)]
    else:
        high = close + abs(rng.gauss(0, 1))
        low = close - abs(rng.gauss(0, 1))
        if rng.random() < 0.05:
            high, low = low, high  # high below low is accepted
        fields = [close, high, low, close + rng.gauss(0, 1)]
    return tuple(fields) + (rng.randrange(0, 10**6),)


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("name,args", BAR_CASES)
def test_bars(name, args, seed):
    rng = random.Random(f"{name}{args}{seed}")
    bars, close = [], 100.0
    for _ in range(600):
        bar = random_bar(rng, close)
        if bar[3] == bar[3] and abs(bar[3]) < 1e9:
            close = bar[3]
        bars.append(bar)
    drive(
        lambda: getattr(_quernel, name)(*args),
        lambda: getattr(model, name)(*args),
        [model.Bar(*b) for b in bars],
        rng,
        to_real=lambda b: _quernel.Bar(b.open(), b.high(), b.low(), b.close(), b.volume()),
    )


@pytest.mark.parametrize("name", ["Minimum", "Maximum"])
def test_index_queries(name, rng):
    real, oracle = getattr(_quernel, name)(7), getattr(model, name)(7)
    query = "find_min_index" if name == "Minimum" else "find_max_index"
    for x in stream(rng, 500) + [1.0] * 20:
        if rng.random() < 0.02:
            real.reset()
            oracle.reset()
        assert same(real.next(x), oracle.next(x))
        assert getattr(real, query)() == getattr(oracle, query)()
