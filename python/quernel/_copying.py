"""copy, deepcopy and pickle for every class, registered with copyreg (so `_quernel`'s types
gain no method).

An indicator or strategy travels as its snapshot bytes and comes back through `restore`, which
checks them; a Bar as its five values; a Signal as its code, coming back as the member of that
code.
"""

import copyreg
from typing import Tuple

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

from ._native import restore, snapshot

STATEFUL = (
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
)

_MEMBERS = (Signal.BUY, Signal.SELL, Signal.HOLD)


def make_bar(open: float, high: float, low: float, close: float, volume: int) -> Bar:
    return Bar(open, high, low, close, volume)


def make_signal(code: int) -> Signal:
    return _MEMBERS[code]


def _reduce_state(obj: object) -> Tuple[object, Tuple[bytes]]:
    return restore, (snapshot(obj),)


def _reduce_bar(bar: Bar) -> Tuple[object, Tuple[float, float, float, float, int]]:
    return make_bar, (bar.open(), bar.high(), bar.low(), bar.close(), bar.volume())


def _reduce_signal(signal: Signal) -> Tuple[object, Tuple[int]]:
    return make_signal, (int(signal),)


for _cls in STATEFUL:
    copyreg.pickle(_cls, _reduce_state)
copyreg.pickle(Bar, _reduce_bar)
copyreg.pickle(Signal, _reduce_signal)
