"""What the module and its type objects look like to Python."""

import importlib
import sys

import pytest

import _quernel
from conftest import IS_PYPY

ORDER = [
    "Bar", "Signal", "AverageTrueRange", "ExponentialMovingAverage", "Maximum", "Minimum",
    "MovingAverageConvergenceDivergence", "RateOfChange", "RelativeStrengthIndex",
    "SharpeRatio", "SimpleMovingAverage", "StandardDeviation", "TrueRange",
    "ExponentialMovingAverageCrossover", "SimpleMovingAverageCrossover",
]

SIGNATURES = {
    "Bar": "(open, high, low, close, volume)",
    "AverageTrueRange": "(period)",
    "ExponentialMovingAverage": "(period)",
    "Maximum": "(period)",
    "Minimum": "(period)",
    "MovingAverageConvergenceDivergence": "(long_period, short_period, signal_period)",
    "RateOfChange": "(period)",
    "RelativeStrengthIndex": "(period)",
    "SharpeRatio": "(period, rf)",
    "SimpleMovingAverage": "(period)",
    "StandardDeviation": "(period)",
    "TrueRange": "()",
    "ExponentialMovingAverageCrossover": "(short_period, long_period)",
    "SimpleMovingAverageCrossover": "(short_period, long_period)",
}

METHODS = {
    "Bar": ["open", "high", "low", "close", "volume"],
    "Signal": [],
    "AverageTrueRange": ["period", "next", "reset"],
    "ExponentialMovingAverage": ["period", "next", "reset"],
    "Maximum": ["period", "next", "reset", "find_max_index"],
    "Minimum": ["period", "next", "reset", "find_min_index"],
    "MovingAverageConvergenceDivergence": ["next", "reset"],
    "RateOfChange": ["period", "next", "reset"],
    "RelativeStrengthIndex": ["period", "next", "reset"],
    "SharpeRatio": ["period", "next", "reset"],
    "SimpleMovingAverage": ["period", "next", "reset"],
    "StandardDeviation": ["period", "next", "reset"],
    "TrueRange": ["next", "reset"],
    "ExponentialMovingAverageCrossover": ["next", "reset"],
    "SimpleMovingAverageCrossover": ["next", "reset"],
}

# One instance of every class, for the checks that need one.
SAMPLES = {
    "Bar": lambda: _quernel.Bar(1.0, 2.0, 0.5, 1.5, 100),
    "Signal": lambda: _quernel.Signal.BUY,
    "AverageTrueRange": lambda: _quernel.AverageTrueRange(3),
    "ExponentialMovingAverage": lambda: _quernel.ExponentialMovingAverage(3),
    "Maximum": lambda: _quernel.Maximum(3),
    "Minimum": lambda: _quernel.Minimum(3),
    "MovingAverageConvergenceDivergence": lambda: _quernel.MovingAverageConvergenceDivergence(
        26, 12, 9
    ),
    "RateOfChange": lambda: _quernel.RateOfChange(3),
    "RelativeStrengthIndex": lambda: _quernel.RelativeStrengthIndex(3),
    "SharpeRatio": lambda: _quernel.SharpeRatio(3, 0.0),
    "SimpleMovingAverage": lambda: _quernel.SimpleMovingAverage(3),
    "StandardDeviation": lambda: _quernel.StandardDeviation(3),
    "TrueRange": lambda: _quernel.TrueRange(),
    "ExponentialMovingAverageCrossover": lambda: _quernel.ExponentialMovingAverageCrossover(2, 3),
    "SimpleMovingAverageCrossover": lambda: _quernel.SimpleMovingAverageCrossover(2, 3),
}


def test_all_lists_the_fifteen_classes_in_registration_order():
    assert _quernel.__all__ == ORDER
    assert type(_quernel.__all__) is list


def test_module_holds_nothing_but_the_classes():
    public = {name for name in vars(_quernel) if not name.startswith("__")}
    assert public == set(ORDER)
    assert all(isinstance(getattr(_quernel, name), type) for name in ORDER)
    assert isinstance(_quernel.__doc__, str) and _quernel.__doc__


@pytest.mark.parametrize("name", ORDER)
def test_type_identity(name):
    cls = getattr(_quernel, name)
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__module__ == "builtins"
    assert cls.__bases__ == (object,)


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_text_signature_and_docstring(name):
    cls = getattr(_quernel, name)
    assert cls.__text_signature__ == SIGNATURES[name]
    assert not cls.__doc__  # no documentation beyond the signature


def test_signal_has_no_docstring_and_no_signature():
    assert _quernel.Signal.__doc__ is None
    assert getattr(_quernel.Signal, "__text_signature__", None) is None


@pytest.mark.parametrize("name", ORDER)
def test_methods_and_their_signatures(name):
    cls = getattr(_quernel, name)
    own = [m for m, v in vars(cls).items() if callable(v) and not m.startswith("__")]
    assert sorted(own) == sorted(METHODS[name])
    for method in METHODS[name]:
        function = getattr(cls, method)
        expected = "($self, input)" if method == "next" else "($self)"
        if IS_PYPY:
            # PyPy reads method docstrings as None, so it has no text signatures for them.
            assert function.__doc__ is None
        else:
            assert function.__text_signature__ == expected
            assert function.__doc__ is None or function.__doc__ == ""


@pytest.mark.parametrize("name", ORDER)
def test_cannot_be_subclassed(name):
    cls = getattr(_quernel, name)
    if IS_PYPY:
        # PyPy's C-API layer does not look at the base-type flag of a type made by
        # PyType_FromSpec (a known PyPy bug): the class statement succeeds there.
        assert issubclass(type("Derived", (cls,), {}), cls)
        return
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


@pytest.mark.parametrize("name", ORDER)
def test_instances_have_no_dict_and_no_weakref(name):
    import weakref

    obj = SAMPLES[name]()
    if IS_PYPY:
        # PyPy sets up a type made by PyType_FromSpec like a class statement without
        # __slots__: its instances get an attribute dictionary and weak references.
        obj.some_attribute = 1
        assert obj.__dict__ == {"some_attribute": 1}
        assert weakref.ref(obj)() is obj
        return
    with pytest.raises(AttributeError):
        obj.some_attribute = 1
    with pytest.raises(AttributeError):
        obj.__dict__
    with pytest.raises(TypeError):
        weakref.ref(obj)


@pytest.mark.skipif(not hasattr(sys, "getrefcount"), reason="the host has no sys.getrefcount")
def test_instances_hold_one_reference_to_their_type():
    # The allocator takes a reference to a heap type for each instance; deallocation must
    # give exactly that one back.
    makers = dict(SAMPLES, Signal=lambda: _quernel.SimpleMovingAverageCrossover(1, 2).next(1.0))
    for name in ORDER:
        cls = getattr(_quernel, name)
        before = sys.getrefcount(cls)
        objects = [makers[name]() for _ in range(100)]
        assert sys.getrefcount(cls) == before + 100, name
        del objects
        assert sys.getrefcount(cls) == before, name


@pytest.mark.parametrize("name", [n for n in ORDER if n != "Signal"])
def test_default_representation(name):
    obj = SAMPLES[name]()
    assert repr(obj).startswith(f"<builtins.{name} object at 0x")


def test_types_are_immutable():
    if IS_PYPY or sys.version_info < (3, 10):
        # PyPy's C-API layer, and CPython before 3.10, have no immutable types: a type takes
        # new attributes like a class.
        _quernel.SimpleMovingAverage.extra = 1
        del _quernel.SimpleMovingAverage.extra
        return
    with pytest.raises(TypeError):
        _quernel.SimpleMovingAverage.next = None
    with pytest.raises(TypeError):
        _quernel.Signal.BUY = _quernel.Signal.SELL


def test_second_initialisation_returns_the_same_module():
    module = sys.modules.pop("_quernel")
    try:
        again = importlib.import_module("_quernel")
        if IS_PYPY:
            # PyPy runs an extension module's initialisation once per process; a later import
            # gets a new module object holding a copy of the first one's namespace.
            assert again is not module
        else:
            assert again is module
        assert again.SimpleMovingAverage is module.SimpleMovingAverage
        assert [getattr(again, n) for n in ORDER] == [getattr(module, n) for n in ORDER]
        assert again.__all__ == ORDER
    finally:
        sys.modules["_quernel"] = module


INIT_UNDER_FAILING_ALLOCATIONS = r"""
import _imp, importlib.util, json
import _testcapi
spec = importlib.util.find_spec("_quernel")
failures = []
for k in range(10_000):
    _testcapi.set_nomemory(k, k + 1)  # only the k-th allocation of this attempt fails
    try:
        module = _imp.create_dynamic(spec)
    except BaseException as error:
        _testcapi.remove_mem_hooks()
        cause = error.__cause__
        failures.append([type(error).__name__, str(error),
                         None if cause is None else type(cause).__name__])
        continue
    _testcapi.remove_mem_hooks()
    break
again = _imp.create_dynamic(spec)
print(json.dumps({"failures": failures, "all": module.__all__, "same": again is module,
                  "works": module.SimpleMovingAverage(2).next(3.0)}))
"""


@pytest.mark.skipif(IS_PYPY, reason="needs CPython's _testcapi.set_nomemory")
@pytest.mark.skipif(
    sys.version_info >= (3, 13),
    reason="CPython 3.13's own type creation crashes (in dictobject.c) when one of its "
    "allocations fails, which this test provokes",
)
def test_initialisation_that_fails_is_retried():
    pytest.importorskip("_testcapi")
    import json
    import subprocess

    out = subprocess.run([sys.executable, "-c", INIT_UNDER_FAILING_ALLOCATIONS],
                         capture_output=True, text=True, check=True).stdout
    result = json.loads(out.splitlines()[-1])
    assert result["failures"], "no allocation failed"
    for name, text, cause in result["failures"]:
        if name == "RuntimeError":
            assert text.startswith("An error occurred while initializing class ")
            assert text.split()[-1] in ORDER
            assert cause in ("MemoryError", "SystemError")
        else:
            assert name == "MemoryError"  # the module itself, or __all__, could not be made
    # a later attempt registers everything, and the module is cached from then on
    assert result["all"] == ORDER
    assert result["same"] is True
    assert result["works"] == 3.0
