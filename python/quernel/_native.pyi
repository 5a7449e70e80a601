"""Batch feeding, peeking and snapshots for the objects of _quernel."""

from collections.abc import Iterable
from typing import SupportsFloat, SupportsIndex, overload

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
from typing_extensions import Buffer, TypeAlias

_Real: TypeAlias = SupportsFloat | SupportsIndex
_Values: TypeAlias = Buffer | Iterable[_Real]
_OneValue: TypeAlias = (
    ExponentialMovingAverage
    | Maximum
    | Minimum
    | RateOfChange
    | RelativeStrengthIndex
    | SharpeRatio
    | SimpleMovingAverage
    | StandardDeviation
)
_Crossover: TypeAlias = ExponentialMovingAverageCrossover | SimpleMovingAverageCrossover
_BarIndicator: TypeAlias = AverageTrueRange | TrueRange
_Stateful: TypeAlias = _OneValue | _BarIndicator | MovingAverageConvergenceDivergence | _Crossover

# feed returns a memoryview: float64 of shape (n,); float64 of shape (n, 3) for MACD (index it as
# out[i, j]); unsigned bytes holding the signal codes (0 BUY, 1 SELL, 2 HOLD) for the strategies.
@overload
def feed(obj: _OneValue | MovingAverageConvergenceDivergence, values: _Values, /) -> memoryview[float]: ...
@overload
def feed(obj: _Crossover, values: _Values, /) -> memoryview[int]: ...
@overload
def feed(obj: _BarIndicator, bars: Iterable[Bar], /) -> memoryview[float]: ...
@overload
def feed(obj: _BarIndicator, high: _Values, low: _Values, close: _Values, /) -> memoryview[float]: ...
@overload
def peek(obj: _OneValue, input: _Real, /) -> float: ...
@overload
def peek(obj: _BarIndicator, input: Bar, /) -> float: ...
@overload
def peek(obj: MovingAverageConvergenceDivergence, input: _Real, /) -> tuple[float, float, float]: ...
@overload
def peek(obj: _Crossover, input: _Real, /) -> Signal: ...
def snapshot(obj: _Stateful, /) -> bytes: ...
def restore(data: Buffer, /) -> _Stateful: ...
