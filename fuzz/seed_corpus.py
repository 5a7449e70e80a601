"""Writes valid snapshots of every class, fresh and after a few inputs, as a fuzzing corpus."""

import os
import sys

import quernel as q

FACTORIES = [
    lambda: q.AverageTrueRange(3), lambda: q.ExponentialMovingAverage(4), lambda: q.Maximum(3),
    lambda: q.Minimum(3), lambda: q.MovingAverageConvergenceDivergence(5, 2, 3),
    lambda: q.RateOfChange(3), lambda: q.RelativeStrengthIndex(3), lambda: q.SharpeRatio(3, 0.01),
    lambda: q.SimpleMovingAverage(3), lambda: q.StandardDeviation(3), lambda: q.TrueRange(),
    lambda: q.ExponentialMovingAverageCrossover(2, 4), lambda: q.SimpleMovingAverageCrossover(2, 4),
]


def main(directory: str) -> None:
    os.makedirs(directory, exist_ok=True)
    for number, make in enumerate(FACTORIES):
        for n in (0, 1, 2, 5):
            obj = make()
            if isinstance(obj, (q.TrueRange, q.AverageTrueRange)):
                q.feed(obj, [1.0 + i for i in range(n)], [0.5] * n, [0.7 + i for i in range(n)])
            else:
                q.feed(obj, [1.0 + 0.5 * i for i in range(n)])
            with open(os.path.join(directory, f"seed-{number}-{n}"), "wb") as out:
                out.write(q.snapshot(obj))


if __name__ == "__main__":
    main(sys.argv[1])
