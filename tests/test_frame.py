"""The rules every call follows: binding, conversions, claims, errors and internal failures."""

import math
import re
import sys

import pytest

import _quernel
from arguments import Index, Real, Reentrant
from conftest import IS_PYPY, MAX_WINDOW, WORD_BITS, WORD_MAX, same

SMA = _quernel.SimpleMovingAverage
PERIOD_CLASSES = [
    "AverageTrueRange", "ExponentialMovingAverage", "Maximum", "Minimum", "RateOfChange",
    "RelativeStrengthIndex", "SimpleMovingAverage", "StandardDeviation",
]
WINDOWED = ["Maximum", "Minimum", "RateOfChange", "RelativeStrengthIndex",
            "SimpleMovingAverage", "StandardDeviation"]


def raises(exc_type, text, call):
    with pytest.raises(exc_type) as info:
        call()
    assert type(info.value) is exc_type
    assert str(info.value) == text
    return info.value


# ---------------------------------------------------------------------------------------------
# Binding


@pytest.mark.parametrize(
    "call,text",
    [
        (lambda s: s.next(), "SimpleMovingAverage.next() missing 1 required positional "
         "argument: 'input'"),
        (lambda s: s.next(1.0, 2.0), "SimpleMovingAverage.next() takes 1 positional arguments "
         "but 2 were given"),
        (lambda s: s.next(1.0, 2.0, 3.0), "SimpleMovingAverage.next() takes 1 positional "
         "arguments but 3 were given"),
        (lambda s: s.next(1.0, input=2.0), "SimpleMovingAverage.next() got multiple values for "
         "argument 'input'"),
        (lambda s: s.next(value=1.0), "SimpleMovingAverage.next() got an unexpected keyword "
         "argument 'value'"),
        # a surplus positional argument is reported before a bad keyword
        (lambda s: s.next(1.0, 2.0, value=1.0), "SimpleMovingAverage.next() takes 1 positional "
         "arguments but 2 were given"),
        # a bad keyword before a missing parameter
        (lambda s: s.next(value=1.0, input=2.0), "SimpleMovingAverage.next() got an unexpected "
         "keyword argument 'value'"),
        (lambda s: s.next(**{"inpu\u00e9": 1.0}), "SimpleMovingAverage.next() got an unexpected "
         "keyword argument 'inpu\u00e9'"),
    ],
)
def test_next_binding_errors(call, text):
    raises(TypeError, text, lambda: call(SMA(3)))


def test_next_accepts_position_or_keyword():
    s = SMA(2)
    assert s.next(1.0) == 1.0
    assert s.next(input=3.0) == 2.0
    # keyword names that are equal but not the interned string
    assert s.next(**{"".join(["in", "put"]): 5.0}) == 4.0


@pytest.mark.parametrize(
    "call,text",
    [
        (lambda: _quernel.TrueRange(5), "TrueRange.__new__() takes 0 positional arguments but 1 "
         "was given"),
        (lambda: _quernel.TrueRange(period=5), "TrueRange.__new__() got an unexpected keyword "
         "argument 'period'"),
        (lambda: _quernel.Bar(1.0, 2.0), "Bar.__new__() missing 3 required positional arguments:"
         " 'low', 'close', and 'volume'"),
        (lambda: _quernel.Bar(1.0, 2.0, 3.0), "Bar.__new__() missing 2 required positional "
         "arguments: 'close' and 'volume'"),
        (lambda: _quernel.Bar(), "Bar.__new__() missing 5 required positional arguments: 'open',"
         " 'high', 'low', 'close', and 'volume'"),
        (lambda: _quernel.Bar(1, 2, 3, 4, 5, 6), "Bar.__new__() takes 5 positional arguments "
         "but 6 were given"),
        (lambda: _quernel.Bar(1, 2, 3, 4, open=5), "Bar.__new__() got multiple values for "
         "argument 'open'"),
        (lambda: SMA(), "SimpleMovingAverage.__new__() missing 1 required positional argument: "
         "'period'"),
        (lambda: SMA(1, 2), "SimpleMovingAverage.__new__() takes 1 positional arguments but 2 "
         "were given"),
        (lambda: _quernel.SharpeRatio(3), "SharpeRatio.__new__() missing 1 required positional "
         "argument: 'rf'"),
        (lambda: _quernel.SharpeRatio(rf=3), "SharpeRatio.__new__() missing 1 required "
         "positional argument: 'period'"),
        (lambda: _quernel.MovingAverageConvergenceDivergence(short_period=1), "MovingAverage"
         "ConvergenceDivergence.__new__() missing 2 required positional arguments: "
         "'long_period' and 'signal_period'"),
        (lambda: _quernel.SimpleMovingAverageCrossover(1, 2, 3, short_period=1), "SimpleMoving"
         "AverageCrossover.__new__() takes 2 positional arguments but 3 were given"),
        (lambda: _quernel.ExponentialMovingAverageCrossover(1, short_period=1), "Exponential"
         "MovingAverageCrossover.__new__() got multiple values for argument 'short_period'"),
    ],
)
def test_constructor_binding_errors(call, text):
    raises(TypeError, text, call)


def test_constructor_keywords_are_taken_in_the_order_passed():
    # Both keywords are wrong; the first one passed is reported.
    raises(TypeError, "Bar.__new__() got an unexpected keyword argument 'b'",
           lambda: _quernel.Bar(1, 2, 3, 4, 5, **{"b": 1, "a": 2}))
    raises(TypeError, "Bar.__new__() got an unexpected keyword argument 'a'",
           lambda: _quernel.Bar(1, 2, 3, 4, 5, **{"a": 1, "b": 2}))


def test_constructors_by_keyword():
    assert SMA(period=3).period() == 3
    bar = _quernel.Bar(volume=10, close=1.5, low=0.5, high=2.0, open=1.0)
    assert (bar.open(), bar.high(), bar.low(), bar.close(), bar.volume()) == (1.0, 2.0, 0.5, 1.5,
                                                                            10)
    x = _quernel.SimpleMovingAverageCrossover(long_period=3, short_period=2)
    assert int(x.next(1.0)) == 2


@pytest.mark.parametrize("method", ["period", "reset"])
def test_no_argument_methods_refuse_arguments(method):
    with pytest.raises(TypeError):
        getattr(SMA(3), method)(1)


# ---------------------------------------------------------------------------------------------
# Conversions


class FloatSubclass(float):
    pass


class IntSubclass(int):
    pass


@pytest.mark.parametrize(
    "value,expected",
    [
        (2.5, 2.5), (-1.0, -1.0), (True, 1.0), (False, 0.0), (7, 7.0), (2**80, float(2**80)),
        (Real(3.25), 3.25), (Index(4), 4.0), (FloatSubclass(1.5), 1.5), (-0.0, -0.0),
        (math.inf, math.inf), (-math.inf, -math.inf),
    ],
)
def test_input_conversion(value, expected):
    if IS_PYPY and isinstance(value, Index):
        # PyPy's PyFloat_AsDouble, unlike its float() and CPython's, does not fall back on
        # __index__: the host refuses the object.
        with pytest.raises(TypeError, match="^argument 'input': must be real number, not Index$"):
            _quernel.ExponentialMovingAverage(3).next(value)
        return
    # the first input of an exponential average comes back unchanged
    assert same(_quernel.ExponentialMovingAverage(3).next(value), expected)


def test_nan_input_is_accepted():
    assert math.isnan(SMA(1).next(math.nan))


# The host's texts follow the prefix; PyPy words one of them differently (last column).
@pytest.mark.parametrize(
    "value,exc_type,pattern,pypy_pattern",
    [
        ("1.0", TypeError, r"argument 'input': must be real number, not str", None),
        (None, TypeError, r"argument 'input': must be real number, not NoneType", None),
        (2**1100, OverflowError, r"int too large to convert to float", None),
        (Real("x"), TypeError, r"argument 'input': Real.__float__ returned non-float .*",
         r"argument 'input': __float__ returned non-float \(type 'str'\)"),
        (_quernel.Signal.BUY, TypeError, r"argument 'input': must be real number, not .*Signal",
         None),
    ],
)
def test_input_conversion_errors(value, exc_type, pattern, pypy_pattern):
    s = SMA(2)
    s.next(4.0)
    with pytest.raises(exc_type) as info:
        s.next(value)
    assert type(info.value) is exc_type
    if IS_PYPY and pypy_pattern is not None:
        pattern = pypy_pattern
    assert re.fullmatch(pattern, str(info.value)), str(info.value)
    assert str(info.value).startswith("argument 'input': ") == (exc_type is TypeError)
    assert s.next(6.0) == 5.0  # the failed call changed nothing


@pytest.mark.parametrize(
    "value,expected",
    [(3, 3), (True, 1), (Index(5), 5), (IntSubclass(6), 6)],
)
def test_period_conversion(value, expected):
    assert SMA(value).period() == expected


def test_period_errors():
    raises(ValueError, "Period cannot be 0.", lambda: SMA(0))
    raises(ValueError, "Period cannot be 0.", lambda: SMA(False))
    for value in (-1, -(2**70), 2**64, 2**100):
        with pytest.raises(OverflowError) as info:
            SMA(value)
        assert type(info.value) is OverflowError
        assert "period" not in str(info.value)
    for value in (2.0, "3", None, Real(3.0)):
        with pytest.raises(TypeError) as info:
            SMA(value)
        assert str(info.value).startswith("argument 'period': ")


def test_period_beyond_a_machine_word():
    if WORD_BITS == 64:
        pytest.skip("every 64-bit value fits the machine word here")
    raises(OverflowError, "out of range integral type conversion attempted", lambda: SMA(2**40))
    raises(OverflowError, "out of range integral type conversion attempted",
           lambda: _quernel.Bar(1, 2, 3, 4, WORD_MAX + 1))


class Cause(Exception):
    pass


class ChainedIndex:
    def __index__(self):
        try:
            raise Cause("inner")
        except Cause as inner:
            raise TypeError("no index here") from inner


def test_prefix_keeps_the_cause():
    with pytest.raises(TypeError) as info:
        SMA(ChainedIndex())
    assert str(info.value) == "argument 'period': no index here"
    assert isinstance(info.value.__cause__, Cause)


def test_other_errors_of_conversions_pass_unchanged():
    class Raising:
        def __float__(self):
            raise KeyError("boom")

    with pytest.raises(KeyError) as info:
        SMA(1).next(Raising())
    assert info.value.args == ("boom",)

    class RaisingSubclassOfTypeError(TypeError):
        pass

    class Special:
        def __index__(self):
            raise RaisingSubclassOfTypeError("special")

    with pytest.raises(RaisingSubclassOfTypeError) as info:
        SMA(Special())
    assert str(info.value) == "special"  # not exactly TypeError: no prefix


@pytest.mark.parametrize("argument", [1, 1.0, "x", None])
def test_bar_conversion(argument):
    type_name = type(argument).__qualname__
    for cls in (_quernel.TrueRange(), _quernel.AverageTrueRange(3)):
        raises(TypeError,
               f"argument 'input': '{type_name}' object cannot be converted to 'Bar'",
               lambda: cls.next(argument))


# ---------------------------------------------------------------------------------------------
# Claims


@pytest.mark.parametrize(
    "make,action,refusal",
    [
        (lambda: SMA(3), lambda o: o.period(), "Already borrowed"),
        (lambda: SMA(3), lambda o: o.reset(), "Already borrowed"),
        (lambda: SMA(3), lambda o: o.next(1.0), "Already borrowed"),
        (lambda: _quernel.Minimum(3), lambda o: o.find_min_index(), "Already mutably borrowed"),
        (lambda: _quernel.Maximum(3), lambda o: o.find_max_index(), "Already mutably borrowed"),
        (lambda: _quernel.ExponentialMovingAverageCrossover(1, 2), lambda o: o.reset(),
         "Already borrowed"),
    ],
)
def test_reentrant_call_is_refused(make, action, refusal):
    obj = make()
    obj.next(1.0)
    escaping = Reentrant(obj, action)
    with pytest.raises(RuntimeError) as info:
        obj.next(escaping)
    assert str(info.value) == refusal  # unprefixed
    assert escaping.seen == refusal
    # swallowed inside the conversion: the outer call goes on with the value produced
    swallowed = Reentrant(obj, action, swallow=True)
    twin = make()
    twin.next(1.0)
    assert obj.next(swallowed) == twin.next(2.0)
    assert swallowed.seen == refusal
    # and afterwards the object is free again
    assert obj.next(3.0) == twin.next(3.0)


def test_reentrant_constructor_argument_is_not_a_claim():
    s = SMA(3)

    class Period:
        def __index__(self):
            return s.period()

    assert SMA(Period()).period() == 3


def test_bar_is_claimed_shared_while_fed():
    bar = _quernel.Bar(1.0, 12.0, 7.0, 10.0, 1)
    reads = []

    class Feeding:
        def __float__(self):
            reads.append(bar.close())
            return 1.0

    tr, sma = _quernel.TrueRange(), SMA(1)
    assert tr.next(bar) == 5.0
    assert sma.next(Feeding()) == 1.0
    # one bar, many indicators, read between the calls
    for indicator in (_quernel.TrueRange(), _quernel.AverageTrueRange(3), tr):
        indicator.next(bar)
        assert bar.high() == 12.0


# ---------------------------------------------------------------------------------------------
# Internal failures and memory


def internal_panic_type():
    try:
        SMA(MAX_WINDOW + 1)
    except BaseException as error:  # noqa: B902
        return type(error)
    raise AssertionError("no internal failure")


def test_capacity_overflow_raises_internal_panic(capfd):
    panic = internal_panic_type()
    assert panic.__name__ == "InternalPanic"
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
    assert not hasattr(_quernel, "InternalPanic")
    for name in WINDOWED:
        with pytest.raises(panic) as info:
            getattr(_quernel, name)(MAX_WINDOW + 1)
        assert str(info.value) == "capacity overflow"
        assert info.value.args == ("capacity overflow",)
    err = capfd.readouterr().err
    assert "capacity overflow" in err and "src/window.hpp" in err
    assert internal_panic_type() is panic  # created once


def test_internal_panic_passes_except_exception():
    panic = internal_panic_type()
    with pytest.raises(panic):
        try:
            SMA(MAX_WINDOW + 1)
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("InternalPanic was caught as an Exception")


def test_capacity_limit_follows_the_word_size():
    assert MAX_WINDOW == (2 ** (WORD_BITS - 1) - 1) // 8
    if WORD_BITS == 32:
        assert MAX_WINDOW + 1 == 268435456


@pytest.mark.parametrize("name", WINDOWED + ["SharpeRatio", "SimpleMovingAverageCrossover"])
def test_window_that_cannot_be_allocated_raises_memory_error(name, unallocatable):
    cls = getattr(_quernel, name)
    for _ in range(3):
        with pytest.raises(MemoryError):
            if name == "SharpeRatio":
                cls(unallocatable, 0.0)
            elif name == "SimpleMovingAverageCrossover":
                cls(1, unallocatable)  # the short window is made, then freed again
            else:
                cls(unallocatable)


def test_largest_word_periods_without_windows():
    ema = _quernel.ExponentialMovingAverage(WORD_MAX)
    assert ema.period() == WORD_MAX
    assert _quernel.ExponentialMovingAverageCrossover(1, WORD_MAX).next(1.0) == 2
    assert _quernel.AverageTrueRange(WORD_MAX).period() == WORD_MAX


def test_objects_are_released():
    # every object frees what it owns; a leak of a window per object would show here
    before = sys.getallocatedblocks() if hasattr(sys, "getallocatedblocks") else 0
    for _ in range(2000):
        SMA(1000).next(1.0)
    after = sys.getallocatedblocks() if hasattr(sys, "getallocatedblocks") else 0
    assert after - before < 100


set_nomemory = None
if not IS_PYPY:  # PyPy's _testcapi is a different module (built from C on first import)
    try:
        from _testcapi import remove_mem_hooks, set_nomemory
    except ImportError:  # not every CPython ships its test module
        pass


def call_with_first_allocation_failing(call):
    """Runs call() with the interpreter's next memory allocation failing; returns the
    exception it raised. Holding many new floats first empties the float free list, so a float
    result really has to be allocated."""
    held = [float(i) + 0.5 for i in range(1000)]
    set_nomemory(0, 1)
    try:
        call()
    except BaseException as error:  # noqa: B902
        raised = error
    else:
        raised = None
    finally:
        remove_mem_hooks()
    del held
    return raised


@pytest.mark.skipif(set_nomemory is None, reason="needs CPython's _testcapi.set_nomemory")
def test_result_that_cannot_be_created_is_an_internal_failure(capfd):
    panic = internal_panic_type()
    macd = _quernel.MovingAverageConvergenceDivergence(3, 2, 2)
    twin = _quernel.MovingAverageConvergenceDivergence(3, 2, 2)
    error = call_with_first_allocation_failing(lambda: macd.next(1.0))
    assert type(error) is panic and str(error) == "Python API call failed"
    err = capfd.readouterr().err
    assert "MemoryError" in err  # the host's error, printed first
    assert "Python API call failed" in err
    # the update stayed and the claim was released
    twin.next(1.0)
    assert same(macd.next(2.0), twin.next(2.0))


@pytest.mark.skipif(set_nomemory is None, reason="needs CPython's _testcapi.set_nomemory")
def test_signal_that_cannot_be_created_raises_the_host_error():
    cross = _quernel.SimpleMovingAverageCrossover(1, 2)
    twin = _quernel.SimpleMovingAverageCrossover(1, 2)
    signals = [cross.next(x) for x in range(40)]  # hold many results: none left to reuse
    error = call_with_first_allocation_failing(lambda: cross.next(1.0))
    assert type(error) is MemoryError
    for x in list(range(40)) + [1.0]:
        twin.next(x)
    assert cross.next(5.0) == twin.next(5.0)
    del signals
