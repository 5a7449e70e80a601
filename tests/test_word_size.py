"""What depends on the machine word: the unsigned-word conversion of periods and volumes, the
byte-size limit of windows, and the smoothing factor of the largest periods. Every expectation
is computed from this host's word size, so on a 32-bit host the 32-bit limits are the ones
tested (periods from 268435456 overflow a window's byte size, values above 4294967295 do not
fit a period at all)."""

import pytest

import _quernel
import model
from conftest import MAX_WINDOW, WORD_BITS, WORD_MAX, same

U32_MAX = 2**32 - 1
U64_MAX = 2**64 - 1
NOT_A_WORD = "out of range integral type conversion attempted"

# Every parameter converted to an unsigned machine word: (label, construct with that value in
# that place, whether the value sizes a window).
WORD_PARAMETERS = [
    ("SimpleMovingAverage", lambda v: _quernel.SimpleMovingAverage(v), True),
    ("ExponentialMovingAverage", lambda v: _quernel.ExponentialMovingAverage(v), False),
    ("StandardDeviation", lambda v: _quernel.StandardDeviation(v), True),
    ("Minimum", lambda v: _quernel.Minimum(v), True),
    ("Maximum", lambda v: _quernel.Maximum(v), True),
    ("RateOfChange", lambda v: _quernel.RateOfChange(v), True),
    ("RelativeStrengthIndex", lambda v: _quernel.RelativeStrengthIndex(v), True),
    ("AverageTrueRange", lambda v: _quernel.AverageTrueRange(v), False),
    ("MACD.long_period", lambda v: _quernel.MovingAverageConvergenceDivergence(v, 1, 1), False),
    ("MACD.short_period", lambda v: _quernel.MovingAverageConvergenceDivergence(1, v, 1), False),
    ("MACD.signal_period", lambda v: _quernel.MovingAverageConvergenceDivergence(1, 1, v), False),
    ("SharpeRatio", lambda v: _quernel.SharpeRatio(v, 0.0), True),
    ("SimpleMovingAverageCrossover.long_period",
     lambda v: _quernel.SimpleMovingAverageCrossover(1, v), True),
    ("ExponentialMovingAverageCrossover.long_period",
     lambda v: _quernel.ExponentialMovingAverageCrossover(1, v), False),
    ("Bar.volume", lambda v: _quernel.Bar(1.0, 2.0, 0.5, 1.5, v), False),
]
WINDOWED = [p for p in WORD_PARAMETERS if p[2]]
UNWINDOWED = [p for p in WORD_PARAMETERS if not p[2]]


def ids(parameters):
    return [label for label, _, _ in parameters]


def panic_type():
    try:
        _quernel.SimpleMovingAverage(MAX_WINDOW + 1)
    except BaseException as error:  # noqa: B902
        return type(error)
    raise AssertionError("no internal failure")


def test_word_size_is_the_pointer_size():
    assert WORD_BITS in (32, 64)
    assert WORD_MAX == 2**WORD_BITS - 1
    assert MAX_WINDOW == (2 ** (WORD_BITS - 1) - 1) // 8
    if WORD_BITS == 32:
        assert (WORD_MAX, MAX_WINDOW + 1) == (4294967295, 268435456)


# Values that fit 64 bits but not 32. On a 64-bit host a window of 2**32 or 2**40 doubles
# would really be asked for, so only the values beyond the byte limit are tried for windows.
BEYOND_32_BITS = [
    pytest.param(label, make, windowed, value, id=f"{label}-{value:#x}")
    for label, make, windowed in WORD_PARAMETERS
    for value in (U32_MAX + 1, 2**40, U64_MAX)
    if WORD_BITS == 32 or not windowed or value > MAX_WINDOW
]


@pytest.mark.parametrize("label,make,windowed,value", BEYOND_32_BITS)
def test_values_beyond_a_32_bit_word(label, make, windowed, value):
    if WORD_BITS == 32:
        # Fits the 64-bit conversion, not the machine word: the module's own OverflowError,
        # without the parameter's name.
        with pytest.raises(OverflowError) as info:
            make(value)
        assert type(info.value) is OverflowError
        assert str(info.value) == NOT_A_WORD
    elif windowed:
        with pytest.raises(panic_type(), match="^capacity overflow$"):
            make(value)
    else:
        obj = make(value)
        if label in ("ExponentialMovingAverage", "AverageTrueRange"):
            assert obj.period() == value
        elif label == "Bar.volume":
            assert obj.volume() == value


@pytest.mark.parametrize("label,make,windowed", WORD_PARAMETERS, ids=ids(WORD_PARAMETERS))
def test_values_beyond_64_bits_are_refused_by_the_host(label, make, windowed):
    with pytest.raises(OverflowError) as info:
        make(U64_MAX + 1)
    assert str(info.value) != NOT_A_WORD  # the host's own text
    assert "argument" not in str(info.value)


@pytest.mark.parametrize("value", [MAX_WINDOW + 1, WORD_MAX // 8 + 1, WORD_MAX])
@pytest.mark.parametrize("label,make,windowed", WINDOWED, ids=ids(WINDOWED))
def test_windows_beyond_the_byte_limit(label, make, windowed, value):
    # On a 32-bit host: every period from 268435456 up to 4294967295.
    with pytest.raises(panic_type()) as info:
        make(value)
    assert str(info.value) == "capacity overflow"
    assert not isinstance(info.value, Exception)


@pytest.mark.parametrize("label,make,windowed", UNWINDOWED, ids=ids(UNWINDOWED))
def test_the_largest_word_is_taken_where_nothing_is_sized_by_it(label, make, windowed):
    obj = make(WORD_MAX)
    if label == "Bar.volume":
        assert obj.volume() == WORD_MAX
    elif hasattr(obj, "period"):
        assert obj.period() == WORD_MAX


@pytest.mark.parametrize("period", [U32_MAX, WORD_MAX])
def test_smoothing_of_the_largest_periods(period):
    # 4294967295 gives alpha = 2 / 2**32 = 2**-31 on every host; the largest word of this
    # host gives 2 / 2**WORD_BITS (the successor taken exactly, not wrapped to 0).
    ema = _quernel.ExponentialMovingAverage(period)
    alpha = 2.0 / float(period + 1)
    assert alpha == 2.0 ** (1 - 32 if period == U32_MAX else 1 - WORD_BITS)
    assert ema.next(1.0) == 1.0
    got = ema.next(2.0)
    assert same(got, 1.0 * (1.0 - alpha) + 2.0 * alpha)
    oracle = model.ExponentialMovingAverage(period)
    oracle.next(1.0)
    assert same(got, oracle.next(2.0))
    if period == U32_MAX:
        assert got == 1.0 + 2.0**-31  # exact in double


def test_smoothing_inside_the_composite_classes():
    a = 2.0**-31
    macd = _quernel.MovingAverageConvergenceDivergence(U32_MAX, 1, U32_MAX)
    macd.next(1.0)
    # short average 2.0, long average 1 + 2**-31; the signal line follows the MACD line by
    # 2**-31 of the way
    line = 2.0 - (1.0 + a)
    assert macd.next(2.0) == (line, line * a, line - line * a)
    atr = _quernel.AverageTrueRange(U32_MAX)
    assert atr.next(_quernel.Bar(1.0, 2.0, 1.0, 1.5, 0)) == 1.0
    assert atr.next(_quernel.Bar(1.5, 3.5, 1.5, 3.0, 0)) == 1.0 + a
