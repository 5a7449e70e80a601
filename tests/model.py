"""Pure-Python models of every class's arithmetic.

Python floats are IEEE doubles and every operation below rounds on its own, exactly as the
C++ code does, so a model fed the same inputs must give the same bits. The models keep the
same fields as the module's objects and update them in the same order; they are the oracle of
the tests and the pure-Python baseline of the benchmarks.
"""

import math
import struct

WORD_BITS = 8 * struct.calcsize("P")
WORD_MAX = 2**WORD_BITS - 1
# The largest window whose size in bytes fits a signed machine word.
MAX_WINDOW = (2 ** (WORD_BITS - 1) - 1) // 8

INF = math.inf
BUY, SELL, HOLD = 0, 1, 2


def checked_period(period):
    if period == 0:
        raise ValueError("Period cannot be 0.")
    return period


def window(period, fill=0.0):
    if period > MAX_WINDOW:
        raise OverflowError("capacity overflow")
    return [fill] * period


def smoothing_factor(period):
    # int -> float rounds once, like the C++ conversion of the exact successor
    return 2.0 / float(period + 1)


class SimpleMovingAverage:
    def __init__(self, period):
        self.window = window(checked_period(period))
        self.sum = 0.0
        self.write_index = 0
        self.filled = 0

    def period(self):
        return len(self.window)

    def next(self, x):
        i = self.write_index
        self.write_index = i + 1 if i + 1 < len(self.window) else 0
        old = self.window[i]
        self.window[i] = x
        d = x - old
        if self.filled < len(self.window):
            self.filled += 1
        self.sum = d + self.sum
        return self.sum / float(self.filled)

    def reset(self):
        self.write_index = 0
        self.filled = 0
        self.sum = 0.0
        self.window = [0.0] * len(self.window)


class ExponentialMovingAverage:
    def __init__(self, period):
        self.alpha = smoothing_factor(checked_period(period))
        self._period = period
        self.current = 0.0
        self.is_first = True

    def period(self):
        return self._period

    def next(self, x):
        if self.is_first:
            self.current = x
            self.is_first = False
        else:
            d = 1.0 - self.alpha
            p = self.current * d
            q = x * self.alpha
            self.current = p + q
        return self.current

    def reset(self):
        self.current = 0.0
        self.is_first = True


class StandardDeviation:
    def __init__(self, period):
        self.window = window(checked_period(period))
        self.write_index = 0
        self.filled = 0
        self.sum = 0.0
        self.sum_sq = 0.0

    def period(self):
        return len(self.window)

    def next(self, x):
        i = self.write_index
        old = self.window[i]
        self.write_index = i + 1 if i + 1 < len(self.window) else 0
        if self.filled < len(self.window):
            self.filled += 1
        self.window[i] = x
        self.sum = (x - old) + self.sum
        self.sum_sq = (x * x - old * old) + self.sum_sq
        n = float(self.filled)
        mean = self.sum / n
        mean_sq = self.sum_sq / n
        variance = mean_sq - mean * mean
        return _sqrt(variance)

    def reset(self):
        self.write_index = 0
        self.filled = 0
        self.sum = 0.0
        self.sum_sq = 0.0
        self.window = [0.0] * len(self.window)


class _Extremum:
    FILL = None

    def __init__(self, period):
        self.window = window(checked_period(period), self.FILL)
        self.index = 0
        self.write_index = 0

    @staticmethod
    def beats(x, y):
        raise NotImplementedError

    def period(self):
        return len(self.window)

    def scan(self):
        best, found = self.FILL, 0
        for i, v in enumerate(self.window):
            if self.beats(v, best):
                best, found = v, i
        return found

    def next(self, x):
        g = self.write_index
        self.window[g] = x
        if self.beats(x, self.window[self.index]):
            self.index = g
        elif self.index == g:
            self.index = self.scan()
        self.write_index = g + 1 if g + 1 < len(self.window) else 0
        return self.window[self.index]

    def reset(self):
        self.window = [self.FILL] * len(self.window)


class Minimum(_Extremum):
    FILL = INF

    @staticmethod
    def beats(x, y):
        return x < y

    def find_min_index(self):
        return self.scan()


class Maximum(_Extremum):
    FILL = -INF

    @staticmethod
    def beats(x, y):
        return x > y

    def find_max_index(self):
        return self.scan()


class RateOfChange:
    def __init__(self, period):
        self.window = window(checked_period(period))
        self.write_index = 0
        self.seen = 0

    def period(self):
        return len(self.window)

    def next(self, x):
        if self.seen > len(self.window):
            old = self.window[self.write_index]
        else:
            old = x if self.seen == 0 else self.window[0]
            self.seen += 1
        i = self.write_index
        self.write_index = i + 1 if i + 1 < len(self.window) else 0
        result = _div(x - old, old)
        self.window[i] = x
        return result

    def reset(self):
        self.write_index = 0
        self.seen = 0
        self.window = [0.0] * len(self.window)


class RelativeStrengthIndex:
    def __init__(self, period):
        self.window = window(checked_period(period))
        self.prev_input = 0.0
        self.write_index = 0
        self.filled = 0

    def period(self):
        return len(self.window)

    def next(self, x):
        change = x - self.prev_input
        self.prev_input = x
        self.window[self.write_index] = change
        self.write_index = self.write_index + 1 if self.write_index + 1 < len(self.window) else 0
        if self.filled < len(self.window):
            self.filled += 1
        gains = losses = 0.0
        for v in self.window:
            if v > 0:
                gains = gains + v
            else:
                losses = losses - v
        n = float(self.filled)
        avg_gain = gains / n
        avg_loss = losses / n
        rs = _div(avg_gain, avg_loss)
        return 100.0 - _div(100.0, rs + 1.0)

    def reset(self):
        self.write_index = 0
        self.filled = 0
        self.prev_input = 0.0
        self.window = [0.0] * len(self.window)


def fmax(x, y):
    return y if (x != x or x < y) else x


class Bar:
    def __init__(self, open, high, low, close, volume):
        self._open, self._high, self._low, self._close = open, high, low, close
        self._volume = volume

    def open(self):
        return self._open

    def high(self):
        return self._high

    def low(self):
        return self._low

    def close(self):
        return self._close

    def volume(self):
        return self._volume


class TrueRange:
    def __init__(self):
        self.prev_close = None

    def next(self, bar):
        high, low = bar.high(), bar.low()
        if self.prev_close is None:
            result = high - low
        else:
            a = high - low
            b = abs(high - self.prev_close)
            c = abs(low - self.prev_close)
            result = fmax(fmax(a, b), c)
        self.prev_close = bar.close()
        return result

    def reset(self):
        self.prev_close = None


class AverageTrueRange:
    def __init__(self, period):
        self.range = TrueRange()
        self.average = ExponentialMovingAverage(period)

    def period(self):
        return self.average.period()

    def next(self, bar):
        return self.average.next(self.range.next(bar))

    def reset(self):
        self.average.reset()


class MovingAverageConvergenceDivergence:
    def __init__(self, long_period, short_period, signal_period):
        self.long = ExponentialMovingAverage(long_period)
        self.short = ExponentialMovingAverage(short_period)
        self.signal = ExponentialMovingAverage(signal_period)

    def next(self, x):
        self.long.next(x)
        self.short.next(x)
        macd = self.short.current - self.long.current
        self.signal.next(macd)
        return (macd, self.signal.current, macd - self.signal.current)

    def reset(self):
        self.long.reset()
        self.short.reset()
        self.signal.reset()


class SharpeRatio:
    def __init__(self, period, rf):
        checked_period(period)
        self.mean = SimpleMovingAverage(period)
        self.deviation = StandardDeviation(period)
        self.rf = rf
        self.observations = 0

    def period(self):
        return self.mean.period()

    def next(self, x):
        m = self.mean.next(x)
        s = self.deviation.next(x)
        self.observations += 1
        if self.observations > 1:
            return _div(m - self.rf, s)
        return 0.0

    def reset(self):
        self.mean.reset()
        self.deviation.reset()
        self.observations = 0


def signal_for(difference):
    if difference > 0:
        return BUY
    if difference < 0:
        return SELL
    return HOLD


class _Crossover:
    AVERAGE = None

    def __init__(self, short_period, long_period):
        if short_period >= long_period:
            raise ValueError("Short period must be less than long period.")
        self.short = self.AVERAGE(short_period)
        self.long = self.AVERAGE(long_period)

    def next(self, x):
        a = self.short.next(x)
        b = self.long.next(x)
        return signal_for(a - b)

    def reset(self):
        self.short.reset()
        self.long.reset()


class SimpleMovingAverageCrossover(_Crossover):
    AVERAGE = SimpleMovingAverage


class ExponentialMovingAverageCrossover(_Crossover):
    AVERAGE = ExponentialMovingAverage


# IEEE results where Python raises instead of returning inf or NaN.


def _div(x, y):
    if y == 0.0:
        if x != x or x == 0.0:
            return math.nan
        return math.copysign(INF, x) * math.copysign(1.0, y)
    return x / y


def _sqrt(x):
    if x != x or x < 0.0:
        return math.nan
    return math.sqrt(x)
