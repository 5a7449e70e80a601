import math

import pytest

from _quernel import SimpleMovingAverage
from conftest import same, ulps

NAN, INF = math.nan, math.inf


@pytest.mark.parametrize(
    "period,inputs,expected",
    [
        (3, [1, 2, 3, 4, 5], [1.0, 1.5, 2.0, 3.0, 4.0]),
        # the running sum carries rounding: one ulp above 0.15, 0.2 and 0.3, although the
        # mean of 0.2, 0.3, 0.4 computed afresh is the double nearest 0.3
        (3, [0.1, 0.2, 0.3, 0.4], [0.1, ulps(0.15, 1), ulps(0.2, 1), ulps(0.3, 1)]),
        # (1.0 - 1e16) + 1e16: the difference rounds to -1e16
        (1, [1e16, 1.0], [1e16, 0.0]),
        (1, [2.0, 3.0, 5.0], [2.0, 3.0, 5.0]),
        # the infinity leaving the window gives 4.0 - inf, then -inf + inf
        (2, [1.0, INF, 3.0, 4.0, 5.0], [1.0, INF, INF, NAN, NAN]),
        (3, [1.0, NAN, 2.0, 3.0, 4.0, 5.0], [1.0, NAN, NAN, NAN, NAN, NAN]),
    ],
)
def test_stated_results(period, inputs, expected):
    s = SimpleMovingAverage(period)
    got = [s.next(x) for x in inputs]
    assert all(same(g, e) for g, e in zip(got, expected)), got


def test_reset_returns_to_fresh():
    s = SimpleMovingAverage(4)
    for x in [1.0, NAN, 3.0]:
        s.next(x)
    assert s.reset() is None
    assert s.period() == 4
    assert s.next(7.5) == 7.5
    assert s.next(2.5) == 5.0


def test_period_reports_the_argument():
    assert SimpleMovingAverage(14).period() == 14
    assert SimpleMovingAverage(True).period() == 1
