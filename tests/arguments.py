"""What every class takes, and the awkward arguments the hardening checks feed it: numbers
whose conversions raise, return the wrong type, run Python code, call back into the object
being fed, or give up the interpreter lock.

Shared by the leak, stateful and thread tests and by the fuzzer (fuzz/), so it imports
nothing but the module and the standard library.
"""

import struct
import time

import _quernel

WORD_BITS = 8 * struct.calcsize("P")
WORD_MAX = 2**WORD_BITS - 1
MAX_WINDOW = (2 ** (WORD_BITS - 1) - 1) // 8

# Constructor parameters of every constructible class: (names, kinds, a valid set of values).
# Kind "w" is an unsigned machine word (a period or a volume), "f" a double.
SHAPES = {
    "Bar": (("open", "high", "low", "close", "volume"), "ffffw", (1.0, 2.0, 0.5, 1.5, 100)),
    "AverageTrueRange": (("period",), "w", (3,)),
    "ExponentialMovingAverage": (("period",), "w", (3,)),
    "Maximum": (("period",), "w", (3,)),
    "Minimum": (("period",), "w", (3,)),
    "MovingAverageConvergenceDivergence": (
        ("long_period", "short_period", "signal_period"), "www", (5, 3, 2)),
    "RateOfChange": (("period",), "w", (3,)),
    "RelativeStrengthIndex": (("period",), "w", (3,)),
    "SharpeRatio": (("period", "rf"), "wf", (3, 0.01)),
    "SimpleMovingAverage": (("period",), "w", (3,)),
    "StandardDeviation": (("period",), "w", (3,)),
    "TrueRange": ((), "", ()),
    "ExponentialMovingAverageCrossover": (("short_period", "long_period"), "ww", (2, 3)),
    "SimpleMovingAverageCrossover": (("short_period", "long_period"), "ww", (2, 3)),
}

# The classes with a `next`, and what else each has.
STATEFUL = [name for name in SHAPES if name != "Bar"]
BAR_FED = {"TrueRange", "AverageTrueRange"}
WITH_PERIOD = {
    "AverageTrueRange", "ExponentialMovingAverage", "Maximum", "Minimum", "RateOfChange",
    "RelativeStrengthIndex", "SharpeRatio", "SimpleMovingAverage", "StandardDeviation",
}
INDEX_QUERY = {"Minimum": "find_min_index", "Maximum": "find_max_index"}
# Classes that allocate a window of `period` doubles (the crossover of simple averages two,
# SharpeRatio two of the same length).
WINDOWED = {
    "Maximum", "Minimum", "RateOfChange", "RelativeStrengthIndex", "SimpleMovingAverage",
    "StandardDeviation", "SharpeRatio", "SimpleMovingAverageCrossover",
}
CROSSOVERS = {"ExponentialMovingAverageCrossover", "SimpleMovingAverageCrossover"}
# A period whose window fits the size limit but that no allocator grants.
UNALLOCATABLE = MAX_WINDOW if WORD_BITS == 32 else 2**40

BUSY = ("Already borrowed", "Already mutably borrowed")


class Cause(Exception):
    """The cause that a failing conversion chains to its TypeError."""


class Boom(Exception):
    """Raised by the conversions of Raising; never a TypeError, so never prefixed."""


class Real:
    """A number with only a float conversion."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Index:
    """An integer-like object: only an index conversion."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Raising:
    """Both conversions raise `error` (an exception instance or a factory)."""

    def __init__(self, error):
        self.error = error

    def _raise(self):
        raise self.error() if callable(self.error) else self.error

    def __float__(self):
        self._raise()

    def __index__(self):
        self._raise()


class ChainedTypeError(Raising):
    """Conversions raise a TypeError whose cause is a Cause."""

    def __init__(self):
        super().__init__(None)

    def _raise(self):
        try:
            raise Cause("inner")
        except Cause as inner:
            raise TypeError("no number here") from inner


class _CallingBack:
    def __init__(self, target, action, value=2.0, swallow=False):
        self.target, self.action, self.value, self.swallow = target, action, value, swallow
        self.seen = None

    def _convert(self):
        try:
            self.action(self.target)
        except RuntimeError as error:
            self.seen = str(error)
            if not self.swallow:
                raise
        return self.value


class Reentrant(_CallingBack):
    """A number whose conversion first calls `action(target)`, a call back into the object
    that is being fed. Its RuntimeError escapes the conversion unless `swallow`, in which
    case the conversion returns `value` all the same. `seen` keeps the last refusal text."""

    def __float__(self):
        return float(self._convert())

    def __index__(self):
        return int(self._convert())


class ReentrantIndex(_CallingBack):
    """The same through the index conversion alone, which the float conversion of `next`
    falls back on when there is no __float__ (`value` must then be an int)."""

    def __index__(self):
        return self._convert()


class Yielding:
    """A number whose float conversion gives up the interpreter lock (time.sleep, unless
    `pause` is None), letting
    other threads run while the receiving object is claimed, and may first call back into
    that object (`call_back`, whose refusal it keeps in `seen`). `log`, when given, receives
    the value just before it is returned, still under the object's claim, so the log's order
    is the order in which the object takes its inputs; `position` is this value's place in
    it."""

    def __init__(self, value, log=None, pause=0.0, call_back=None):
        self.value, self.log, self.pause, self.call_back = value, log, pause, call_back
        self.position = self.seen = None

    def __float__(self):
        if self.pause is not None:
            time.sleep(self.pause)
        if self.call_back is not None:
            try:
                self.call_back()
            except RuntimeError as error:
                self.seen = str(error)
        if self.log is not None:
            self.position = len(self.log)
            self.log.append(self.value)
        return self.value


def construct(name, args=None):
    """An object of the class `name` from the given or the valid constructor arguments."""
    return getattr(_quernel, name)(*(SHAPES[name][2] if args is None else args))


def bar(open=1.0, high=2.0, low=0.5, close=1.5, volume=100):
    return _quernel.Bar(open, high, low, close, volume)
