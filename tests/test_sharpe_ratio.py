import math

import pytest

from _quernel import SharpeRatio
from conftest import MAX_WINDOW, same, ulps

NAN, INF = math.nan, math.inf
RETURNS = [0.01, 0.02, 0.03, 0.04]


@pytest.mark.parametrize(
    "period,rf,inputs,expected",
    [
        # near 3, sqrt(6) and 1.5 * sqrt(6) = sqrt(13.5); the running sums carry rounding
        (3, 0.0, RETURNS, [0.0, ulps(3.0, -2), ulps(math.sqrt(6), 1), ulps(math.sqrt(13.5), 4)]),
        # near 1, sqrt(1.5) and sqrt(6)
        (3, 0.01, RETURNS, [0.0, ulps(1.0, -3), ulps(math.sqrt(1.5), 1), ulps(math.sqrt(6), 3)]),
        # constant inputs: the deviation is 0 or rounds to a tiny negative (NaN) or positive
        # variance; nothing guards the division
        (3, 0.0, [0.1] * 4, [0.0, INF, NAN, NAN]),
        (3, 0.0, [0.3] * 4, [0.0, INF, 80530636.8, 80530636.8]),
        (2, 0.1, [0.1] * 2, [0.0, NAN]),
        (3, 0.5, [0.1] * 2, [0.0, -INF]),
        (1, 0.0, [1.0, 2.0, 3.0], [0.0, INF, INF]),
        (1, 0.0, [0.2, 0.9], [0.0, 60397977.599999994]),
        # non-finite values: the first result is still 0.0, the sums stay poisoned
        (2, 0.0, [NAN, 1.0, 2.0, 3.0], [0.0, NAN, NAN, NAN]),
        (2, 0.0, [1.0, INF, 2.0], [0.0, NAN, NAN]),
        (3, NAN, RETURNS, [0.0, NAN, NAN, NAN]),
        (2, INF, [1.0, 3.0], [0.0, -INF]),
        (2, 1, [1.0, 3.0], [0.0, 1.0]),  # an int rate converts to a double
        # a square that overflows: the deviation is +inf (a ratio of 0.0) while the mean's
        # square stays finite, and NaN once the value leaves the window
        (2, 0.0, [1.0, 1.5e154, 1.0, 2.0], [0.0, 0.0, 0.0, NAN]),
    ],
)
def test_stated_results(period, rf, inputs, expected):
    s = SharpeRatio(period, rf)
    got = [s.next(x) for x in inputs]
    assert all(same(g, e) for g, e in zip(got, expected)), got


def test_reset_repeats_the_results_of_a_fresh_object():
    s = SharpeRatio(period=3, rf=0.01)
    first = [s.next(x) for x in RETURNS + [0.05]]
    s.next(NAN)
    assert s.reset() is None
    assert same(s.next(NAN), 0.0)  # the first call after reset, whatever the input
    s.reset()
    again = [s.next(x) for x in RETURNS + [0.05]]
    assert all(same(a, b) for a, b in zip(first, again)), (first, again)
    assert s.period() == 3


@pytest.mark.parametrize(
    "args,exc_type,start",
    [
        # both conversions come first, period then rf
        ((0, "x"), TypeError, "argument 'rf': "),
        ((3, "x"), TypeError, "argument 'rf': "),
        ((2.5, "x"), TypeError, "argument 'period': "),
        ((-1, "x"), OverflowError, None),
        ((MAX_WINDOW + 1, "x"), TypeError, "argument 'rf': "),
        ((0, 0.0), ValueError, "Period cannot be 0."),
        ((0, NAN), ValueError, "Period cannot be 0."),
    ],
)
def test_constructor_errors(args, exc_type, start):
    with pytest.raises(exc_type) as info:
        SharpeRatio(*args)
    assert type(info.value) is exc_type
    if exc_type is ValueError:
        assert str(info.value) == start
    elif start is not None:
        assert str(info.value).startswith(start)
    else:
        assert "period" not in str(info.value)


def test_capacity_overflow_before_any_window():
    with pytest.raises(BaseException) as info:
        SharpeRatio(MAX_WINDOW + 1, 0.0)
    assert type(info.value).__name__ == "InternalPanic"
    assert str(info.value) == "capacity overflow"

