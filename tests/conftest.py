import math
import os
import random
import struct
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

import model  # noqa: E402

WORD_BITS = model.WORD_BITS
WORD_MAX = model.WORD_MAX
MAX_WINDOW = model.MAX_WINDOW
IS_PYPY = sys.implementation.name == "pypy"


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def same(a, b):
    """Bit-for-bit equality of floats (or tuples of floats); every NaN equals every NaN."""
    if isinstance(a, tuple) or isinstance(b, tuple):
        return (
            isinstance(a, tuple)
            and isinstance(b, tuple)
            and len(a) == len(b)
            and all(same(x, y) for x, y in zip(a, b))
        )
    if type(a) is not float or type(b) is not float:
        return False
    if a != a or b != b:
        return a != a and b != b
    return bits(a) == bits(b)


def ulps(x, n):
    """The double n units in the last place above (n > 0) or below (n < 0) x."""
    for _ in range(abs(n)):
        x = math.nextafter(x, math.inf if n > 0 else -math.inf)
    return x


SPECIAL = [
    0.0, -0.0, math.nan, math.inf, -math.inf, 1e308, -1e308, 1.5e154, -1.5e154,
    5e-324, -5e-324, 2.2250738585072014e-308, 1e16, 1.0, -1.0, 0.1, 0.3,
]


def stream(rng, n):
    """Prices as they come: random walks and noise, with the values that break arithmetic
    (NaN, infinities, signed zeros, huge and tiny values) mixed in now and then."""
    level = rng.choice([1.0, 100.0, 1e-3, 1e6])
    out = []
    for _ in range(n):
        r = rng.random()
        if r < 0.04:
            out.append(rng.choice(SPECIAL))
        elif r < 0.10:
            out.append(float(rng.randint(-5, 5)))
        elif r < 0.15 and out:
            out.append(out[-1])  # repeats make ties and zero changes
        else:
            level += rng.gauss(0.0, abs(level) * 0.02 + 1e-9)
            out.append(level)
    return out


@pytest.fixture
def rng(request):
    return random.Random(request.node.name)
