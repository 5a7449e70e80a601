"""Snapshots: `restore` with a class check, and copy, deepcopy and pickle for every class.

The reducers are registered with copyreg (so `_quernel`'s types gain no method). An indicator
or strategy travels as its snapshot bytes and comes back through `restore`, which checks them;
a Bar travels as its five values; a Signal as its code, and comes back as the member of that
code.
"""

import copyreg
from typing import Any, Callable, Optional, Tuple, Type, TypeVar, Union, get_args, overload

from _quernel import (
    AverageTrueRange,
    Bar,
    ExponentialMovingAverage,
    ExponentialMovingAverageCrossover,
    Maximum,
    Minimum,
    MovingAverageConvergenceDivergence,
    RateOfChange,
    RelativeStrengthIndex,
    SharpeRatio,
    Signal,
    SimpleMovingAverage,
    SimpleMovingAverageCrossover,
    StandardDeviation,
    TrueRange,
)

from . import _native
from ._native import snapshot

Stateful = Union[
    AverageTrueRange,
    ExponentialMovingAverage,
    Maximum,
    Minimum,
    MovingAverageConvergenceDivergence,
    RateOfChange,
    RelativeStrengthIndex,
    SharpeRatio,
    SimpleMovingAverage,
    StandardDeviation,
    TrueRange,
    ExponentialMovingAverageCrossover,
    SimpleMovingAverageCrossover,
]
T = TypeVar("T", bound=Stateful)
# The classes whose objects carry a state, as a tuple for isinstance and registration.
STATEFUL: Tuple[type, ...] = get_args(Stateful)

_MEMBERS = (Signal.BUY, Signal.SELL, Signal.HOLD)


@overload
def restore(data: Union[bytes, bytearray, memoryview], cls: None = None) -> Stateful: ...
@overload
def restore(data: Union[bytes, bytearray, memoryview], cls: Type[T]) -> T: ...


def restore(data: Union[bytes, bytearray, memoryview], cls: Optional[Type[Any]] = None) -> Any:
    """A new object from the bytes of `snapshot`, continuing exactly where the original was.

    The bytes are checked throughout (format, class, sizes, every field's range); anything
    wrong raises ValueError. With `cls`, the snapshot must also be of that class.
    """
    obj: Stateful = _native.restore(data)
    if cls is not None and type(obj) is not cls:
        raise ValueError(
            f"the snapshot holds a {type(obj).__name__}, not a {getattr(cls, '__name__', cls)}"
        )
    return obj


Reduced = Tuple[Callable[..., Any], Tuple[Any, ...]]


def make_bar(open: float, high: float, low: float, close: float, volume: int) -> Bar:
    return Bar(open, high, low, close, volume)


def make_signal(code: int) -> Signal:
    return _MEMBERS[code]


def _reduce_state(obj: Any) -> Reduced:
    return _native.restore, (snapshot(obj),)


def _reduce_bar(bar: Bar) -> Reduced:
    return make_bar, (bar.open(), bar.high(), bar.low(), bar.close(), bar.volume())


def _reduce_signal(signal: Signal) -> Reduced:
    return make_signal, (int(signal),)


def _register() -> None:
    for cls in STATEFUL:
        copyreg.pickle(cls, _reduce_state)
    copyreg.pickle(Bar, _reduce_bar)
    copyreg.pickle(Signal, _reduce_signal)


_register()
