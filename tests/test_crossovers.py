import math

import pytest

from _quernel import (
    ExponentialMovingAverageCrossover as EMAX,
    Signal,
    SimpleMovingAverageCrossover as SMAX,
)
from conftest import MAX_WINDOW, WORD_MAX

NAN, INF = math.nan, math.inf
B, S, H = 0, 1, 2
MEMBERS = (Signal.BUY, Signal.SELL, Signal.HOLD)
BOTH = [SMAX, EMAX]


def feed(obj, inputs):
    results = [obj.next(x) for x in inputs]
    for r in results:
        assert type(r) is Signal
        assert [r == m for m in MEMBERS].count(True) == 1
        assert all(r is not m for m in MEMBERS)  # always a new instance
    return [int(r) for r in results]


@pytest.mark.parametrize(
    "cls,periods,inputs,expected",
    [
        # the relation is reported at every step, not only when it changes
        (SMAX, (2, 3), [1.0, 2.0, 3.0, 2.0, 1.0, 1.0], [H, H, B, B, S, S]),
        (SMAX, (1, 2), [1.0, 2.0, 3.0, 2.0, 1.0, 1.0], [H, B, B, S, S, H]),
        # the long sum, carried as (x - old) + sum, ends one ulp above 0.2: its mean exceeds 0.1
        (SMAX, (1, 2), [0.2, 0.1, 0.1], [H, S, S]),
        # warm-up: both averages have seen the same inputs
        (SMAX, (3, 7), [5.0, -1.0, 9.0, 0.0], [H, H, H, S]),
        (EMAX, (2, 3), [1.0, 2.0, 1.0, 1.0, 5.0], [H, B, S, S, B]),
        (EMAX, (1, 2), [1.0, 2.0, 2.0, 1.0], [H, B, B, S]),
        # the long average of a constant 0.1 becomes one ulp above it; the short stays 0.1
        (EMAX, (3, 9), [0.1, 0.1, 0.1], [H, S, S]),
        (EMAX, (2, 3), [5.0, 5.0, 5.0], [H, H, H]),
        (EMAX, (1, WORD_MAX), [1.0, 2.0, 0.5], [H, B, S]),
        # after a NaN or an infinity, HOLD until reset
        (SMAX, (1, 2), [1.0, NAN, 5.0, 1.0, 9.0], [H, H, H, H, H]),
        (SMAX, (1, 2), [1.0, INF, 5.0, 1.0], [H, H, H, H]),
        (EMAX, (1, 2), [1.0, NAN, 5.0, 1.0], [H, H, H, H]),
        (EMAX, (1, 2), [1.0, -INF, 5.0, 1.0], [H, H, H, H]),
    ],
)
def test_stated_results(cls, periods, inputs, expected):
    assert feed(cls(*periods), inputs) == expected


@pytest.mark.parametrize("cls", BOTH)
def test_reset_behaves_as_new(cls):
    inputs = [1.0, 3.0, 2.0, 8.0, 1.0, 0.5, 4.0]
    obj = cls(2, 4)
    feed(obj, [7.0, NAN, 2.0])
    assert obj.reset() is None
    assert feed(obj, inputs) == feed(cls(2, 4), inputs)


@pytest.mark.parametrize("cls", BOTH)
def test_failed_input_leaves_the_state_unchanged(cls):
    obj, twin = cls(1, 3), cls(1, 3)
    feed(obj, [1.0, 2.0])
    feed(twin, [1.0, 2.0])
    with pytest.raises(TypeError) as info:
        obj.next("x")
    assert str(info.value).startswith("argument 'input': ")
    tail = [0.5, 0.5, 3.0, 3.0]
    assert feed(obj, tail) == feed(twin, tail)


def failure(call):
    with pytest.raises(BaseException) as info:  # noqa: B017 - the type is checked below
        call()
    return type(info.value), str(info.value)


ORDER_TEXT = "Short period must be less than long period."


@pytest.mark.parametrize("cls", BOTH)
@pytest.mark.parametrize(
    "args,expected",
    [
        # both periods are converted before any value is checked
        ((2, 2.5), (TypeError, "argument 'long_period': ")),
        ((0, 2.5), (TypeError, "argument 'long_period': ")),
        ((9, None), (TypeError, "argument 'long_period': ")),
        (("x", -1), (TypeError, "argument 'short_period': ")),
        ((-1, 5), (OverflowError, "")),
        ((3, -1), (OverflowError, "")),
        # then the order of the periods, before the zero check
        ((3, 3), (ValueError, ORDER_TEXT)),
        ((5, 2), (ValueError, ORDER_TEXT)),
        ((0, 0), (ValueError, ORDER_TEXT)),
        ((False, False), (ValueError, ORDER_TEXT)),
        ((WORD_MAX, WORD_MAX), (ValueError, ORDER_TEXT)),
        # then the zero period
        ((0, 5), (ValueError, "Period cannot be 0.")),
        ((0, WORD_MAX), (ValueError, "Period cannot be 0.")),
    ],
)
def test_constructor_check_order(cls, args, expected):
    exc_type, text = failure(lambda: cls(*args))
    assert exc_type is expected[0]
    if exc_type is ValueError:
        assert text == expected[1]
    elif exc_type is TypeError:
        assert text.startswith(expected[1])
    else:
        assert "period" not in text  # the host's own text, unprefixed


@pytest.mark.parametrize("cls", BOTH)
def test_constructors_by_keyword(cls):
    obj = cls(long_period=3, short_period=2)
    assert feed(obj, [1.0, 2.0, 3.0]) == feed(cls(2, 3), [1.0, 2.0, 3.0])


def test_long_window_beyond_the_capacity_limit():
    # the window's byte size is checked after the periods, and the short window is freed again
    exc_type, text = failure(lambda: SMAX(1, MAX_WINDOW + 1))
    assert exc_type.__name__ == "InternalPanic" and not issubclass(exc_type, Exception)
    assert text == "capacity overflow"
    assert failure(lambda: SMAX(0, MAX_WINDOW + 1)) == (ValueError, "Period cannot be 0.")
    # the exponential crossover owns no window
    assert feed(EMAX(MAX_WINDOW, MAX_WINDOW + 1), [1.0]) == [H]

