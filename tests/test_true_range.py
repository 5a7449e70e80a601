"""TrueRange and AverageTrueRange, which embeds its state."""

import math

import pytest

from _quernel import AverageTrueRange as ATR, Bar, TrueRange
from conftest import same

NAN, INF = math.nan, math.inf


def bar(high, low, close=0.0):
    # open and volume are never read by the bar indicators
    return Bar(-123.0, high, low, close, 7)


def feed(obj, bars):
    return [obj.next(bar(*b)) for b in bars]


def agree(got, expected):
    return len(got) == len(expected) and all(same(g, e) for g, e in zip(got, expected))


@pytest.mark.parametrize(
    "bars,expected",
    [
        # the first bar: high - low, whatever its close, with no absolute value
        ([(12.0, 7.0, 99.0)], [5.0]),
        ([(7.0, 12.0)], [-5.0]),
        ([(NAN, 7.0)], [NAN]),
        ([(12.0, NAN)], [NAN]),
        # candidates high - low, |high - prev|, |low - prev|
        ([(11.0, 9.0, 10.0), (15.0, 12.0)], [2.0, 5.0]),  # 3, 5, 2
        ([(21.0, 19.0, 20.0), (15.0, 12.0)], [2.0, 8.0]),  # 3, 5, 8
        ([(11.0, 9.0, 10.0), (10.5, 9.5)], [2.0, 1.0]),  # 1, 0.5, 0.5
        ([(11.0, 9.0, 20.0), (7.0, 12.0)], [2.0, 13.0]),  # -5, 13, 8
        ([(11.0, 9.0, 10.0), (7.0, 12.0)], [2.0, 3.0]),  # -5, 3, 2
        # a NaN candidate is passed over
        ([(11.0, 9.0, 10.0), (NAN, 12.0)], [2.0, 2.0]),  # NaN, NaN, 2
        ([(11.0, 9.0, 10.0), (15.0, NAN)], [2.0, 5.0]),  # NaN, 5, NaN
        ([(11.0, 9.0, NAN), (15.0, 12.0)], [2.0, 3.0]),  # 3, NaN, NaN
        ([(11.0, 9.0, NAN), (7.0, 12.0)], [2.0, -5.0]),
        ([(11.0, 9.0, 10.0), (NAN, NAN)], [2.0, NAN]),  # all three NaN
        # infinities: inf - inf is a NaN candidate
        ([(11.0, 9.0, 10.0), (INF, INF)], [2.0, INF]),  # NaN, inf, inf
        ([(11.0, 9.0, INF), (INF, 5.0)], [2.0, INF]),  # inf, NaN, inf
        # a tie goes to the first operand, compared as (a against b) against c: -0.0 stays
        ([(1.0, 0.0, 0.0), (-0.0, 0.0)], [1.0, -0.0]),  # -0.0, 0.0, 0.0
        # the close of every bar is remembered, NaN included, and replaced by the next one
        ([(11.0, 9.0, NAN), (5.0, 4.0, 3.0), (4.0, 3.5)], [2.0, 1.0, 1.0]),
    ],
)
def test_true_range(bars, expected):
    got = feed(TrueRange(), bars)
    assert agree(got, expected), got


def test_true_range_reset():
    tr = TrueRange()
    feed(tr, [(21.0, 19.0, 20.0)])
    assert tr.reset() is None
    # a first bar again, then measured against its close
    assert feed(tr, [(15.0, 12.0, 13.0), (7.0, 12.0)]) == [3.0, 6.0]


@pytest.mark.parametrize(
    "period,bars,expected",
    [
        (14, [(12.0, 7.0)], [5.0]),
        (3, [(12.0, 7.0, 10.0), (15.0, 12.0, 14.0), (14.5, 13.5)], [5.0, 5.0, 3.0]),
        (3, [(7.0, 12.0)], [-5.0]),
        # period 1: current * 0.0 + tr, until the average is infinite or NaN
        (1, [(12.0, 7.0, 10.0), (15.0, 12.0, 14.0), (14.5, 13.5)], [5.0, 5.0, 1.0]),
        (1, [(INF, 0.0, 1.0), (3.0, 2.0)], [INF, NAN]),
        # a NaN true range poisons the average; a NaN candidate does not
        (3, [(NAN, 7.0, 10.0), (15.0, 12.0)], [NAN, NAN]),
        (3, [(12.0, 8.0, 10.0), (NAN, 12.0, 14.0), (NAN, 15.0)], [4.0, 3.0, 2.0]),
    ],
)
def test_average_true_range(period, bars, expected):
    got = feed(ATR(period), bars)
    assert agree(got, expected), got


def test_average_true_range_reset_keeps_the_close():
    atr = ATR(3)
    assert feed(atr, [(25.0, 10.0, 20.0)]) == [15.0]
    assert atr.reset() is None
    assert atr.period() == 3
    # measured against the close before the reset, and the new starting value of the average
    assert feed(atr, [(15.0, 12.0, 14.0), (14.5, 13.5, 13.0)]) == [8.0, 4.5]
    atr.reset()
    atr.reset()
    assert feed(atr, [(16.0, 15.5)]) == [3.0]


@pytest.mark.parametrize("make", [TrueRange, lambda: ATR(2)])
def test_wrong_input_leaves_the_state_unchanged(make):
    fresh, primed, twin = make(), make(), make()
    feed(primed, [(11.0, 9.0, 10.0)])
    feed(twin, [(11.0, 9.0, 10.0)])
    for obj in (fresh, primed):
        for wrong in (10.0, "bar", None, (15.0, 12.0, 0.0)):
            with pytest.raises(TypeError):
                obj.next(wrong)
    assert feed(fresh, [(15.0, 12.0)]) == [3.0]  # still a first bar
    assert feed(primed, [(21.0, 19.0)]) == feed(twin, [(21.0, 19.0)])


def test_period_and_zero_period():
    assert ATR(14).period() == 14
    with pytest.raises(ValueError) as info:
        ATR(0)
    assert str(info.value) == "Period cannot be 0."
