"""quernel: streaming technical-analysis indicators and trading signals.

The classes are those of the native module `_quernel` (the same type objects); this package
adds what is built on top of them:

- `feed(obj, values)`: a whole sequence in one call, bit for bit what a loop of `next` gives,
  leaving the object where that loop would;
- `peek(obj, x)`: what `obj.next(x)` would return, without changing `obj`;
- `snapshot(obj)` / `restore(data)`: the complete state as bytes and back. Importing quernel
  also makes `copy.copy`, `copy.deepcopy` and `pickle` work for every class;
- `load_sample()`: the bundled sample bars; `python -m quernel` runs the demo.
"""

import pkgutil as _pkgutil

# In a development build the compiled half of the package (quernel._native) lies in the build
# directory's own quernel/ folder; let the package find it there too.
__path__ = _pkgutil.extend_path(__path__, __name__)

from _quernel import (  # noqa: E402
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

from ._native import feed, peek, snapshot  # noqa: E402
from ._state import restore  # noqa: E402  (also registers the copy and pickle reducers)
from .sample import load_sample  # noqa: E402

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
    "feed",
    "peek",
    "snapshot",
    "restore",
    "load_sample",
]
