"""Writes tests/data/vectors.json: fixed inputs for every class and the result bits the module
gives for them on a 64-bit x86 host. test_vectors.py replays them on every host, so a 32-bit
or ARM build, or PyPy, must reproduce these bits exactly.

Run it once from the repository root with the module importable, on x86-64:

    PYTHONPATH=build/dev:python python3 tests/make_vectors.py

Every result is also checked against the pure-Python model before it is written. The inputs
are stored with the results, so the file does not depend on how a host's random numbers or
float formatting behave.
"""

import json
import os
import platform
import random
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import _quernel  # noqa: E402
import model  # noqa: E402
from conftest import SPECIAL, same, stream  # noqa: E402

PATH = os.path.join(HERE, "data", "vectors.json")
STEPS = 120
U32_MAX = 2**32 - 1  # the largest period every host accepts

# (class, constructor arguments). Periods stay within 32 bits and windows small, so every
# case runs on every host.
NUMBER_CASES = [
    ("SimpleMovingAverage", [1]),
    ("SimpleMovingAverage", [3]),
    ("SimpleMovingAverage", [50]),
    ("ExponentialMovingAverage", [1]),
    ("ExponentialMovingAverage", [2]),
    ("ExponentialMovingAverage", [9]),
    ("ExponentialMovingAverage", [200]),
    ("ExponentialMovingAverage", [U32_MAX]),
    ("StandardDeviation", [1]),
    ("StandardDeviation", [3]),
    ("StandardDeviation", [30]),
    ("Minimum", [1]),
    ("Minimum", [4]),
    ("Minimum", [25]),
    ("Maximum", [1]),
    ("Maximum", [4]),
    ("Maximum", [25]),
    ("RateOfChange", [1]),
    ("RateOfChange", [3]),
    ("RateOfChange", [20]),
    ("RelativeStrengthIndex", [1]),
    ("RelativeStrengthIndex", [3]),
    ("RelativeStrengthIndex", [14]),
    ("MovingAverageConvergenceDivergence", [26, 12, 9]),
    ("MovingAverageConvergenceDivergence", [12, 26, 9]),
    ("MovingAverageConvergenceDivergence", [3, 1, 3]),
    ("MovingAverageConvergenceDivergence", [U32_MAX, 1, 2]),
    ("SharpeRatio", [1, 0.0]),
    ("SharpeRatio", [3, 0.01]),
    ("SharpeRatio", [20, -0.5]),
    ("SimpleMovingAverageCrossover", [1, 2]),
    ("SimpleMovingAverageCrossover", [5, 20]),
    ("ExponentialMovingAverageCrossover", [1, 2]),
    ("ExponentialMovingAverageCrossover", [12, 26]),
    ("ExponentialMovingAverageCrossover", [1, U32_MAX]),
]
BAR_CASES = [
    ("Bar", []),
    ("TrueRange", []),
    ("AverageTrueRange", [1]),
    ("AverageTrueRange", [14]),
    ("AverageTrueRange", [U32_MAX]),
]
INDEX_QUERY = {"Minimum": "find_min_index", "Maximum": "find_max_index"}


def hex_bits(x):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", x))[0]


def encode(value):
    """A result as JSON: a float as its bit pattern, a tuple as a list, a Signal as its code."""
    if isinstance(value, float):
        return hex_bits(value)
    if isinstance(value, tuple):
        return [encode(v) for v in value]
    if isinstance(value, _quernel.Signal):
        return int(value)
    return value


def random_bar(rng, close):
    if rng.random() < 0.1:
        prices = [rng.choice(SPECIAL + [close]) for _ in range(4)]
    else:
        high = close + abs(rng.gauss(0, 1))
        low = close - abs(rng.gauss(0, 1))
        if rng.random() < 0.05:
            high, low = low, high
        prices = [close, high, low, close + rng.gauss(0, 1)]
    volume = rng.choice([0, 1, U32_MAX, rng.randrange(0, 10**6)])
    return prices, volume


def bar_inputs(rng):
    bars, close = [], 100.0
    for _ in range(STEPS):
        prices, volume = random_bar(rng, close)
        if prices[3] == prices[3] and abs(prices[3]) < 1e9:
            close = prices[3]
        bars.append((prices, volume))
    return bars


def schedule(rng):
    """The steps before which the object is reset: one fixed, a few at random."""
    return {STEPS // 2} | {i for i in range(1, STEPS) if rng.random() < 0.01}


def run_numbers(name, args, rng):
    real, oracle = getattr(_quernel, name)(*args), getattr(model, name)(*args)
    resets = schedule(rng)
    steps = []
    for i, x in enumerate(stream(rng, STEPS)):
        if i in resets:
            real.reset()
            oracle.reset()
            steps.append("reset")
        got, want = real.next(x), oracle.next(x)
        got_code = int(got) if isinstance(got, _quernel.Signal) else got
        assert got_code == want if isinstance(want, int) else same(got, want), (name, args, i)
        result = [encode(got)]
        if name in INDEX_QUERY:
            index = getattr(real, INDEX_QUERY[name])()
            assert index == getattr(oracle, INDEX_QUERY[name])()
            result.append(index)
        steps.append([hex_bits(x), result])
    return steps


def run_bars(name, args, rng):
    steps = []
    if name == "Bar":
        for prices, volume in bar_inputs(rng):
            bar = _quernel.Bar(*prices, volume)
            read = [bar.open(), bar.high(), bar.low(), bar.close(), bar.volume()]
            assert all(same(a, b) for a, b in zip(read[:4], prices)) and read[4] == volume
            steps.append([[hex_bits(p) for p in prices] + [volume], [encode(v) for v in read]])
        return steps
    real, oracle = getattr(_quernel, name)(*args), getattr(model, name)(*args)
    resets = schedule(rng)
    for i, (prices, volume) in enumerate(bar_inputs(rng)):
        if i in resets:
            real.reset()
            oracle.reset()
            steps.append("reset")
        got = real.next(_quernel.Bar(*prices, volume))
        assert same(got, oracle.next(model.Bar(*prices, volume))), (name, args, i)
        steps.append([[hex_bits(p) for p in prices] + [volume], [encode(got)]])
    return steps


def main():
    if platform.machine() != "x86_64" or struct.calcsize("P") != 8:
        sys.exit("generate the vectors on a 64-bit x86 host")
    cases = []
    for name, args in NUMBER_CASES + BAR_CASES:
        rng = random.Random(f"vectors {name} {args}")
        run = run_bars if (name, args) in BAR_CASES else run_numbers
        cases.append({"class": name, "args": args, "steps": run(name, args, rng)})
    document = {
        "about": "Inputs and result bits of every class, made by tests/make_vectors.py on "
        "x86-64. A step is [input, results] or \"reset\". Floats are IEEE double bit patterns "
        "in hex; a Bar input is its four prices and its volume; the results of a step are "
        "next()'s value (a Signal as its code, a tuple as a list) and, for Minimum and "
        "Maximum, the index query; for Bar they are the five accessors.",
        "cases": cases,
    }
    os.makedirs(os.path.dirname(PATH), exist_ok=True)
    with open(PATH, "w") as f:  # one case per line
        f.write('{"about":%s,"cases":[\n' % json.dumps(document["about"]))
        f.write(",\n".join(json.dumps(c, separators=(",", ":")) for c in cases))
        f.write("\n]}\n")
    print(f"{PATH}: {len(cases)} cases, {sum(len(c['steps']) for c in cases)} steps")


if __name__ == "__main__":
    main()
