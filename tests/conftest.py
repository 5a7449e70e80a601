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


def _add(a, b):
    return a + b  # a function, so that no constant folding happens at compile time


def python_rounds_once():
    """Whether this interpreter's own float arithmetic rounds each operation once to double.

    2**53 + (1 + 2**-52) lies just above the midpoint 2**53 + 1. Rounded once it gives
    2**53 + 2; rounded first to the 64-bit significand of x87 registers it lands on the
    midpoint and then, ties to even, on 2**53."""
    return _add(2.0**53, 1.0 + 2.0**-52) == 2.0**53 + 2.0


def _round_x87_to_double():
    """Sets the x87 precision control of this thread to double (53-bit significands)."""
    import ctypes
    import ctypes.util

    libm = ctypes.CDLL(ctypes.util.find_library("m") or "libm.so.6")
    env = (ctypes.c_uint16 * 32)()  # room for any fenv_t; the control word comes first
    if libm.fegetenv(env) != 0:
        return
    env[0] = (env[0] & ~0x0300) | 0x0200
    libm.fesetenv(env)


# The model is only an oracle if Python's floats round like the module's. On 32-bit x86 a
# CPython built for x87 (Debian's i386 port) keeps intermediate results in 80-bit registers
# and rounds twice; the module itself computes in SSE2 registers. Setting the x87 precision
# to double makes every operation of the model round once, like the module's.
if not python_rounds_once():
    _round_x87_to_double()
    if not python_rounds_once():
        raise RuntimeError(
            "this interpreter's float arithmetic rounds twice and its x87 precision could "
            "not be set to double: the pure-Python model cannot serve as the oracle here"
        )


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


@pytest.fixture
def unallocatable():
    """A period whose window passes the size check but that the allocator does not grant:
    8 TiB on a 64-bit host. On a 32-bit host it is 2 GiB less 8 bytes, which a 32-bit process
    on a 64-bit kernel may get once but not twice, so one such window is held meanwhile (its
    pages are never written, so it costs address space only)."""
    if WORD_BITS == 64:
        yield 2**40
        return
    import _quernel

    try:
        held = _quernel.SimpleMovingAverage(MAX_WINDOW)
    except MemoryError:
        held = None
    yield MAX_WINDOW
    del held

