import math
from fractions import Fraction

import pytest

from _quernel import ExponentialMovingAverage as EMA
from conftest import WORD_BITS, WORD_MAX, same, ulps

NAN, INF = math.nan, math.inf


def run(period, inputs):
    e = EMA(period)
    return [e.next(x) for x in inputs]


def alpha_of(period):
    """The smoothing factor as the object applies it: after a first input of 0.0, the next
    input 1.0 gives 0.0 * (1 - alpha) + 1.0 * alpha, which is alpha exactly."""
    return run(period, [0.0, 1.0])[1]


def fused(a, b, c):
    """a * b + c rounded once, as a fused multiply-add would give it."""
    return float(Fraction(a) * Fraction(b) + Fraction(c))


# 2**53 + 1 converts to 2**53 (ties to even), and 2**53 + 1.0 rounds back to 2**53, while the
# exact successor 2**53 + 2 is a double: the two smoothing factors differ.
ABOVE_2_53 = 2**53 + 1


@pytest.mark.parametrize(
    "period,alpha",
    [
        (1, 1.0),
        (2, 2 / 3),
        (3, 0.5),
        (9, 0.2),
        (10, 2 / 11),
        (4294967295, 2.0**-31),
        (ABOVE_2_53, 2.0 / float(ABOVE_2_53 + 1)),
        (WORD_MAX, 2.0 ** (1 - WORD_BITS)),  # 2 / 2**WORD_BITS: the successor does not wrap
    ],
)
def test_smoothing_factor(period, alpha):
    if period > WORD_MAX:
        pytest.skip("the period does not fit this platform's machine word")
    # Python's int-to-float and true division round once each, like the module
    assert same(alpha_of(period), alpha)


@pytest.mark.skipif(ABOVE_2_53 > WORD_MAX, reason="periods above 2**53 need a 64-bit word")
def test_smoothing_factor_takes_the_exact_successor_above_2_53():
    converted_first = 2.0 / (float(ABOVE_2_53) + 1.0)
    exact_successor = 2.0 / float(ABOVE_2_53 + 1)
    assert converted_first != exact_successor
    assert same(alpha_of(ABOVE_2_53), exact_successor)


@pytest.mark.parametrize(
    "period,inputs,expected",
    [
        (3, [1.0, 2.0, 3.0, 4.0], [1.0, 1.5, 2.25, 3.125]),
        (10, [10.0, 20.0], [10.0, float(Fraction(130, 11))]),
        (100, [-7.25], [-7.25]),
        # a constant input does not always reproduce itself
        (9, [0.1, 0.1], [0.1, ulps(0.1, 1)]),
        (4294967295, [1.0, 2.0], [1.0, 1.0 + 2.0**-31]),
        (1, [2.0, 3.0, -5.0], [2.0, 3.0, -5.0]),
        # period 1: current * 0.0 is NaN once the average is infinite or NaN
        (1, [INF, 3.0, 4.0], [INF, NAN, NAN]),
        (1, [NAN, 3.0], [NAN, NAN]),
        # an infinity stays until the opposite one arrives
        (3, [1.0, INF, 5.0, -INF, 2.0], [1.0, INF, INF, NAN, NAN]),
        (3, [1.0, NAN, 2.0, 3.0], [1.0, NAN, NAN, NAN]),
    ],
)
def test_stated_results(period, inputs, expected):
    got = run(period, inputs)
    assert all(same(g, e) for g, e in zip(got, expected)), got


def test_update_order_is_exact():
    # period 2: one ulp above both the rearranged form and a fused multiply-add
    alpha = 2 / 3
    third = run(2, [0.1, 0.1, 0.3])[2]
    rearranged = 0.1 + alpha * (0.3 - 0.1)
    assert same(third, ulps(rearranged, 1))
    assert same(third, ulps(fused(0.3, alpha, 0.1 * (1.0 - alpha)), 1))
    # period 5: fusing x * alpha into the final addition would give one ulp above 0.1
    alpha = 2 / 6
    assert run(5, [0.1, 0.1]) == [0.1, 0.1]
    assert same(fused(0.1, alpha, 0.1 * (1.0 - alpha)), ulps(0.1, 1))


def test_reset_returns_to_fresh_and_keeps_the_configuration():
    e = EMA(3)
    for x in [4.0, NAN, 1.0]:
        e.next(x)
    assert e.reset() is None
    assert e.period() == 3
    assert e.next(5.0) == 5.0  # taken as is
    assert e.next(7.0) == 6.0  # alpha still 0.5
    assert EMA(WORD_MAX).period() == WORD_MAX


def test_zero_period():
    with pytest.raises(ValueError) as info:
        EMA(0)
    assert str(info.value) == "Period cannot be 0."


def test_failed_input_leaves_the_state_unchanged():
    e, twin = EMA(3), EMA(3)
    e.next(2.0)
    twin.next(2.0)
    with pytest.raises(TypeError):
        e.next("4.0")
    with pytest.raises(TypeError):
        e.next(input=None)
    assert same(e.next(4.0), twin.next(4.0))
