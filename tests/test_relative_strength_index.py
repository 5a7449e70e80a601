import itertools
import math
import random

import pytest

import model
from _quernel import RelativeStrengthIndex
from conftest import same, ulps

NAN, INF = math.nan, math.inf


@pytest.mark.parametrize(
    "period,inputs,expected",
    [
        # (2.5 / 3) / (0.5 / 3) rounds to the double just above 5: the averages are formed
        # and divided, not cancelled, so the fourth result is one ulp above 2.5 / 0.5's
        (3, [10, 11, 10.5, 12, 12], [100.0, 100.0, 2200 / 23, ulps(250 / 3, 1), 75.0]),
        (1, [10, 11, 10, 10], [100.0, 100.0, 0.0, NAN]),
        # a NaN price makes its own change and the next one NaN: period + 1 NaN results
        (3, [1, 2, NAN, 3, 4, 5, 6, 7], [100.0, 100.0, NAN, NAN, NAN, NAN, 100.0, 100.0]),
    ],
)
def test_stated_results(period, inputs, expected):
    r = RelativeStrengthIndex(period)
    got = [r.next(x) for x in inputs]
    assert all(same(g, e) for g, e in zip(got, expected)), got


def test_sums_run_in_slot_order():
    # After five prices the ring holds changes of about -0.3, -1.9, 1.3, -0.2 in slots 0 to 3
    # (the newest in slot 0). Summing the losses oldest first would give 35.135135135135144.
    r = RelativeStrengthIndex(4)
    got = [r.next(x) for x in [2.9, 1.0, 2.3, 2.1, 1.8]]
    assert same(got[-1], 35.13513513513513)


@pytest.mark.parametrize("x,expected", [(5.0, 100.0), (-5.0, 0.0), (0.0, NAN), (NAN, NAN)])
def test_first_price_is_measured_against_zero(x, expected):
    assert same(RelativeStrengthIndex(14).next(x), expected)


@pytest.mark.parametrize("period", [1, 2, 3])
def test_every_change_that_is_not_a_gain_is_a_loss(period):
    # Changes of both signed zeros, infinities, NaN and subnormals in every order: the sums,
    # added slot by slot, must carry the same bits as a plain if/else over the slots.
    values = [0.0, -0.0, 5e-324, -5e-324, 1.0, -1.0, INF, -INF, NAN]
    rng = random.Random(period)
    runs = [list(p) for p in itertools.permutations(values, 4)]
    rng.shuffle(runs)
    for run in runs[:400]:
        real, oracle = RelativeStrengthIndex(period), model.RelativeStrengthIndex(period)
        for x in run:
            got, want = real.next(x), oracle.next(x)
            assert same(got, want), (run, x, got, want)


def test_reset_measures_against_zero_again():
    r, fresh = RelativeStrengthIndex(3), RelativeStrengthIndex(3)
    for x in [10.0, 11.0, NAN, 12.0]:
        r.next(x)
    assert r.reset() is None
    inputs = [5.0, 4.0, 4.5, 7.0, 6.0]
    assert all(same(r.next(x), fresh.next(x)) for x in inputs)
    assert r.period() == 3


def test_period_and_zero_period():
    assert RelativeStrengthIndex(period=14).period() == 14
    with pytest.raises(ValueError, match=r"^Period cannot be 0\.$"):
        RelativeStrengthIndex(0)
