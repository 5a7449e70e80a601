import operator
import sys
import warnings

import pytest

from _quernel import Signal, SimpleMovingAverageCrossover
from arguments import Index
from conftest import WORD_BITS

BUY, SELL, HOLD = Signal.BUY, Signal.SELL, Signal.HOLD
MEMBERS = [(BUY, "BUY", 0), (SELL, "SELL", 1), (HOLD, "HOLD", 2)]


def fresh(code):
    """A new instance of the given code, as the strategies return them."""
    s = SimpleMovingAverageCrossover(1, 2)
    inputs = {0: [1.0, 2.0], 1: [2.0, 1.0], 2: [1.0, 1.0]}[code]
    return [s.next(x) for x in inputs][-1]


@pytest.mark.parametrize("member,name,code", MEMBERS)
def test_members(member, name, code):
    assert member is getattr(Signal, name)
    assert type(member) is Signal
    assert repr(member) == str(member) == f"Signal.{name}"
    assert int(member) == code and type(int(member)) is int
    assert bool(member) is True  # BUY included, although its code is 0
    other = fresh(code)
    assert other is not member and other == member
    assert repr(other) == repr(member) and int(other) == code


class FailingIndex:
    def __index__(self):
        raise ValueError("no index")


def handled(signal, other):
    """What the Signal's own comparison gives (NotImplemented when unhandled)."""
    return signal.__eq__(other), signal.__ne__(other)


@pytest.mark.parametrize(
    "signal,other,equal",
    [
        (BUY, BUY, True),
        (BUY, SELL, False),
        (SELL, HOLD, False),
        (HOLD, fresh(2), True),
        (BUY, 0, True),
        (BUY, 1, False),
        (HOLD, 2, True),
        (BUY, 256, False),  # the code is widened, not truncated
        (BUY, -1, False),
        (SELL, True, True),
        (BUY, False, True),
        (HOLD, Index(2), True),
        (HOLD, Index(3), False),
        (BUY, -(2 ** (WORD_BITS - 1)), False),  # the most negative machine word still fits
    ],
)
def test_handled_comparisons(signal, other, equal):
    assert handled(signal, other) == (equal, not equal)
    assert (signal == other) is equal
    assert (signal != other) is (not equal)
    # reflected: the other operand declines, the signal answers
    assert (other == signal) is equal
    assert (other != signal) is (not equal)


@pytest.mark.parametrize(
    "other",
    [
        "BUY",
        None,
        2**70,
        2**63,
        -(2**63) - 1,
        2 ** (WORD_BITS - 1),  # beyond a signed machine word
        Index(2**70),
        FailingIndex(),
        object(),
    ],
)
def test_unhandled_comparisons_fall_back_to_identity(other):
    # NotImplemented, with no exception left set: a call through the wrapper would turn a
    # leftover exception into SystemError
    assert handled(BUY, other) == (NotImplemented, NotImplemented)
    assert (BUY == other) is False and (BUY != other) is True
    assert (other == BUY) is False and (other != BUY) is True


def test_float_operand():
    if sys.implementation.name == "cpython" and sys.version_info < (3, 10):
        # CPython 3.9's signed 64-bit conversion still falls back on __int__ (deprecated), so
        # there a float operand is converted and compared like an integer.
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            assert (BUY == 0.0) is True and (BUY == 1.0) is False
        return
    # the signed 64-bit conversion refuses floats: not handled, identity decides
    assert handled(BUY, 0.0) == (NotImplemented, NotImplemented)
    assert (BUY == 0.0) is False and (0.0 != BUY) is True


@pytest.mark.parametrize("op", [operator.lt, operator.le, operator.gt, operator.ge])
@pytest.mark.parametrize("left,right", [(BUY, SELL), (SELL, 1), (1, HOLD), (HOLD, HOLD)])
def test_ordering_is_refused(op, left, right):
    with pytest.raises(TypeError):
        op(left, right)


def test_ordering_slots_are_unhandled():
    assert BUY.__lt__(SELL) is NotImplemented
    assert SELL.__ge__(1) is NotImplemented


def test_unhashable_and_not_an_index():
    for s in (BUY, fresh(0)):
        with pytest.raises(TypeError):
            hash(s)
        with pytest.raises(TypeError):
            {s}
        with pytest.raises(TypeError):
            {s: 1}
        with pytest.raises(TypeError):
            operator.index(s)
        with pytest.raises(TypeError):
            [1, 2][s]


@pytest.mark.parametrize(
    "call", [lambda: Signal(), lambda: Signal(1), lambda: Signal(code=0),
             lambda: Signal.__new__(Signal)]
)
def test_no_constructor(call):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == "No constructor defined for Signal"
