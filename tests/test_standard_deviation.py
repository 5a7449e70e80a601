import math

import pytest

from _quernel import StandardDeviation
from conftest import same, ulps

NAN, INF = math.nan, math.inf
ROOT_2_3 = math.sqrt(2 / 3)  # correctly rounded (2 / 3 is the double nearest 2/3)


@pytest.mark.parametrize(
    "period,inputs,expected",
    [
        (2, [1, 3, 5, 5], [0.0, 1.0, 1.0, 0.0]),
        (3, [2, 2, 2, 2], [0.0, 0.0, 0.0, 0.0]),
        # (1, 2, 3) and (2, 3, 4) have the same deviation, but mean of squares minus square of
        # the mean rounds differently for them; a two-pass formula would give ROOT_2_3 twice
        (3, [1, 2, 3, 4], [0.0, 0.5, ulps(ROOT_2_3, 2), ulps(ROOT_2_3, -3)]),
        # the running sums drift: sum_sq ends one ulp below sum * sum, the variance is about
        # -5.55e-17 and is not clamped
        (1, [0.1, 0.3, 0.7], [0.0, 0.0, NAN]),
        # a NaN stays in both sums after it has left the ring
        (2, [1.0, NAN, 2.0, 3.0, 4.0], [0.0, NAN, NAN, NAN, NAN]),
        (2, [1.0, INF, 2.0, 3.0], [0.0, NAN, NAN, NAN]),
        # a square that overflows makes sum_sq infinite: the deviation is +inf while the mean's
        # square stays finite, and NaN once the value leaves the ring (inf - inf)
        (2, [1.0, 1.5e154, 1.0, 2.0, 3.0], [0.0, INF, INF, NAN, NAN]),
        # on the first call mean * mean overflows as well
        (2, [1.5e154], [NAN]),
    ],
)
def test_stated_results(period, inputs, expected):
    s = StandardDeviation(period)
    got = [s.next(x) for x in inputs]
    assert all(same(g, e) for g, e in zip(got, expected)), got


@pytest.mark.parametrize("x", [0.1, -3.7, 1e150, -1e-300, 5e-324, -0.0, 1e16 + 2])
def test_first_call_is_zero(x):
    s = StandardDeviation(3)
    assert same(s.next(x), 0.0)
    s.next(NAN)
    s.reset()
    assert same(s.next(x), 0.0)


def test_reset_clears_sums_and_ring():
    s, fresh = StandardDeviation(3), StandardDeviation(3)
    for x in [5.0, NAN, 7.0, 1.0]:
        s.next(x)
    assert s.reset() is None
    assert same(s.next(4.0), 0.0)
    s.reset()
    inputs = [0.1, 0.3, 0.7, 2.5, -1.0]
    assert all(same(s.next(x), fresh.next(x)) for x in inputs)
    assert s.period() == 3


def test_period_and_zero_period():
    assert StandardDeviation(period=7).period() == 7
    with pytest.raises(ValueError, match=r"^Period cannot be 0\.$"):
        StandardDeviation(0)
