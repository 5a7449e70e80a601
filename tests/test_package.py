"""The package around the module: _quernel keeps exactly its fifteen classes, quernel re-exports
the same type objects and needs nothing beyond the standard library."""

import os
import subprocess
import sys

import _quernel
import quernel

CLASSES = [
    "Bar", "Signal", "AverageTrueRange", "ExponentialMovingAverage", "Maximum", "Minimum",
    "MovingAverageConvergenceDivergence", "RateOfChange", "RelativeStrengthIndex",
    "SharpeRatio", "SimpleMovingAverage", "StandardDeviation", "TrueRange",
    "ExponentialMovingAverageCrossover", "SimpleMovingAverageCrossover",
]
# What every extension module carries, whatever the interpreter.
MODULE_DUNDERS = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__",
                  "__all__", "__builtins__"}


def test_quernel_module_holds_exactly_the_fifteen_classes():
    own = {name for name in vars(_quernel) if name not in MODULE_DUNDERS}
    assert own == set(CLASSES)
    assert _quernel.__all__ == CLASSES
    for name in CLASSES:
        assert isinstance(getattr(_quernel, name), type)


def test_no_class_gained_an_attribute():
    """Copying and pickling are registered with copyreg, not on the types."""
    own_methods = {
        "Bar": {"open", "high", "low", "close", "volume"},
        "Signal": {"BUY", "SELL", "HOLD"},
        "Minimum": {"period", "next", "reset", "find_min_index"},
        "Maximum": {"period", "next", "reset", "find_max_index"},
        "TrueRange": {"next", "reset"},
        "MovingAverageConvergenceDivergence": {"next", "reset"},
        "ExponentialMovingAverageCrossover": {"next", "reset"},
        "SimpleMovingAverageCrossover": {"next", "reset"},
    }
    for name in CLASSES:
        cls = getattr(_quernel, name)
        public = {k for k in vars(cls) if not k.startswith("__")}
        assert public == own_methods.get(name, {"period", "next", "reset"}), name
        for hook in ("__reduce__", "__reduce_ex__", "__copy__", "__deepcopy__", "__getstate__",
                     "__setstate__"):
            assert hook not in vars(cls), (name, hook)


def test_quernel_reexports_the_same_type_objects():
    for name in CLASSES:
        assert getattr(quernel, name) is getattr(_quernel, name)
    assert set(CLASSES) <= set(quernel.__all__)
    for name in ("feed", "peek", "snapshot", "restore", "load_sample"):
        assert callable(getattr(quernel, name))


def test_importing_quernel_needs_only_the_standard_library():
    code = ("import sys, quernel, quernel.cli, quernel.compute, quernel.demo\n"
            "bad = [m for m in ('numpy', 'pandas', 'matplotlib') if m in sys.modules]\n"
            "assert not bad, bad\n")
    paths = [os.path.dirname(os.path.abspath(_quernel.__file__))]
    paths += [os.path.dirname(os.path.abspath(p)) for p in quernel.__path__]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(paths))
    subprocess.run([sys.executable, "-c", code], env=env, check=True, timeout=60)
