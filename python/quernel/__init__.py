"""quernel: streaming technical-analysis indicators and trading signals.

The classes are those of the native module `_quernel` (the same type objects); this package
adds what is built on top of them in Python.
"""

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

from .sample import load_sample

__all__ = [
    "Bar",
    "Signal",
    "AverageTrueRange",
    "ExponentialMovingAverage",
    "Maximum",
    "Minimum",
    "MovingAverageConvergenceDivergence",
    "RateOfChange",
    "RelativeStrengthIndex",
    "SharpeRatio",
    "SimpleMovingAverage",
    "StandardDeviation",
    "TrueRange",
    "ExponentialMovingAverageCrossover",
    "SimpleMovingAverageCrossover",
    "load_sample",
]
