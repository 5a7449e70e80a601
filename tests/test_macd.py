import math

import pytest

from _quernel import MovingAverageConvergenceDivergence as MACD
from conftest import same

NAN, INF = math.nan, math.inf
ZERO = (0.0, 0.0, 0.0)
PRICES = [10.0, 10.5, 9.75, 11.2, 0.1, 3e5, 12.0]


@pytest.mark.parametrize("x", [10.0, -0.0, 1e-300, -7.25, 1e308])
def test_first_call_is_all_zero(x):
    assert same(MACD(26, 12, 9).next(x), ZERO)


def test_stated_results():
    # long alpha 0.5, short alpha 1.0, signal alpha 0.5
    m = MACD(3, 1, 3)
    got = [m.next(x) for x in [10, 12, 14]]
    assert all(same(g, e) for g, e in zip(got, [ZERO, (1.0, 0.5, 0.5), (1.5, 1.0, 0.5)])), got


def test_long_period_comes_first():
    # (12, 26, 9) averages over 12 as the long period: its lines are those of (26, 12, 9)
    # with the sign turned, so on rising prices its MACD line is negative
    a, b = MACD(12, 26, 9), MACD(26, 12, 9)
    for x in [10.0, 10.5, 11.25, 12.0, 13.5, 14.0]:
        ra, rb = a.next(x), b.next(x)
        assert all(u == -v for u, v in zip(ra, rb)), (ra, rb)
    assert ra[0] < 0 < rb[0]


def test_equal_long_and_short_periods_give_zero():
    m = MACD(5, 5, 3)
    assert all(same(m.next(x), ZERO) for x in PRICES)


@pytest.mark.parametrize("first", [[INF], [-INF], [1.0, NAN]])
def test_non_finite_prices_poison_until_reset(first):
    m = MACD(3, 2, 4)
    got = [m.next(x) for x in first + [1.0, 2.0, 3.0, 4.0, 5.0]]
    assert all(same(g, (NAN, NAN, NAN)) for g in got[len(first) - 1:]), got
    assert m.reset() is None
    assert same(m.next(7.0), ZERO)


def test_reset_returns_all_three_averages_to_fresh():
    m, fresh = MACD(4, 2, 3), MACD(4, 2, 3)
    for x in PRICES:
        m.next(x)
    assert m.reset() is None
    assert all(same(m.next(x), fresh.next(x)) for x in reversed(PRICES))


@pytest.mark.parametrize(
    "args,exc_type,text",
    [
        # every conversion comes before any zero check, in parameter order
        ((-1, 0, 0), OverflowError, None),
        ((0, 2.5, 0), TypeError, "argument 'short_period': "),
        ((0, 0, "9"), TypeError, "argument 'signal_period': "),
        ((1, 1, -1), OverflowError, None),
        ((0, 12, 9), ValueError, "Period cannot be 0."),
        ((26, 0, 9), ValueError, "Period cannot be 0."),
        ((26, 12, 0), ValueError, "Period cannot be 0."),
        ((0, 0, 0), ValueError, "Period cannot be 0."),
    ],
)
def test_constructor_errors(args, exc_type, text):
    with pytest.raises(exc_type) as info:
        MACD(*args)
    assert type(info.value) is exc_type
    if exc_type is ValueError:
        assert str(info.value) == text
    elif text is not None:
        assert str(info.value).startswith(text)
    else:
        assert "period" not in str(info.value)
