"""The README's quick start: warm indicators on history in one call, stream live prices into
the same objects, checkpoint them and restore them."""

from __future__ import annotations

import array
import pickle

import quernel as q

history = array.array("d", [100.0 + 0.5 * (k % 7) - 0.2 * k for k in range(250)])

# One call per indicator warms it on the whole history (a float64 buffer is read in place).
sma = q.SimpleMovingAverage(20)
macd = q.MovingAverageConvergenceDivergence(26, 12, 9)
cross = q.SimpleMovingAverageCrossover(10, 30)
means = q.feed(sma, history)  # memoryview of 250 float64
lines = q.feed(macd, history)  # memoryview of shape (250, 3)
codes = q.feed(cross, history)  # memoryview of 250 signal codes (0 BUY, 1 SELL, 2 HOLD)
print(f"last SMA {means[-1]:.4f}, last MACD line {lines[-1, 0]:.4f}, "
      f"last signal code {codes[-1]}")

# The same objects go on with live prices, exactly as if they had seen every input one by one.
tick = 55.0
print("would be:", q.peek(sma, tick))  # what next() would return, nothing changed
print("is:", sma.next(tick), cross.next(tick))

# Checkpoint the live state and pick it up again, here or in another process.
saved: bytes = pickle.dumps([sma, macd, cross])
sma2, macd2, cross2 = pickle.loads(saved)
assert sma2.next(56.0) == sma.next(56.0)

# Bar indicators take bars, or the high, low and close series.
atr = q.AverageTrueRange(14)
ranges = q.feed(atr, [k + 1.0 for k in range(30)], [k - 1.0 for k in range(30)],
                [k + 0.5 for k in range(30)])
print(f"ATR after 30 bars: {ranges[-1]:.4f}; next bar: "
      f"{atr.next(q.Bar(30.0, 31.5, 29.0, 30.5, 1000)):.4f}")
