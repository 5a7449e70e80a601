import math

import pytest

from _quernel import RateOfChange
from conftest import same, ulps

NAN, INF = math.nan, math.inf


@pytest.mark.parametrize(
    "period,inputs,expected",
    [
        # results 1 to period + 1 against the first input, then against the input `period`
        # places back; 133.1 - 110 rounds before the division, two ulps below 0.21
        (2, [100, 110, 121, 133.1], [0.0, 0.1, 0.21, ulps(0.21, -2)]),
        (3, [10, 11, 12, 13, 14, 15], [0.0, 0.1, 0.2, 0.3, 3 / 11, 0.25]),
        (1, [100, 110, 121], [0.0, 0.1, 0.1]),
        # no guard on the division: a zero reference gives NaN or a signed infinity
        (2, [0, 5, 6, 0, 7], [NAN, INF, INF, -1.0, 1 / 6]),
        (1, [-0.0, 3.0, -1.0], [NAN, -INF, -4 / 3]),
        # a NaN counts while it is the input or the reference, and no longer
        (2, [1, NAN, 2, 3, 4, 5], [0.0, NAN, 1.0, NAN, 1.0, 2 / 3]),
        (1, [2.0, INF, 4.0, 8.0], [0.0, INF, NAN, 1.0]),
    ],
)
def test_stated_results(period, inputs, expected):
    r = RateOfChange(period)
    got = [r.next(x) for x in inputs]
    assert all(same(g, e) for g, e in zip(got, expected)), got


@pytest.mark.parametrize(
    "x,expected", [(5.0, 0.0), (-5.0, -0.0), (0.0, NAN), (-0.0, NAN), (INF, NAN), (NAN, NAN)]
)
def test_first_call_compares_the_input_with_itself(x, expected):
    assert same(RateOfChange(3).next(x), expected)


def test_reset_starts_over_from_the_next_input():
    r = RateOfChange(2)
    for x in [1.0, 2.0, 3.0, 4.0, 5.0]:  # well into the steady state
        r.next(x)
    assert r.reset() is None
    assert same(r.next(50.0), 0.0)
    assert same(r.next(55.0), 0.1)
    assert same(r.next(60.0), 0.2)
    assert same(r.next(66.0), 0.2)  # against 55
    assert r.period() == 2


def test_period_and_zero_period():
    assert RateOfChange(period=9).period() == 9
    with pytest.raises(ValueError, match=r"^Period cannot be 0\.$"):
        RateOfChange(0)
