"""The shared vectors: fixed inputs for every class with the result bits a 64-bit x86 host
gives (tests/data/vectors.json, made by tests/make_vectors.py). Every host, whatever its word
size, processor or interpreter, must give the same bits.

NaN results only have to be NaN: the sign and payload of a NaN made by an invalid operation
belong to the processor (x86 makes a negative one, ARM a positive one)."""

import json
import math
import os
import struct

import pytest

import _quernel

with open(os.path.join(os.path.dirname(__file__), "data", "vectors.json")) as _f:
    CASES = json.load(_f)["cases"]

INDEX_QUERY = {"Minimum": "find_min_index", "Maximum": "find_max_index"}


def from_hex(text):
    return struct.unpack("<d", struct.pack("<Q", int(text, 16)))[0]


def encode(value):
    if isinstance(value, float):
        if math.isnan(value):
            return "nan"
        return "%016x" % struct.unpack("<Q", struct.pack("<d", value))[0]
    if isinstance(value, tuple):
        return [encode(v) for v in value]
    if isinstance(value, _quernel.Signal):
        return int(value)
    return value


def expected(value):
    """A stored result, with every NaN pattern written as "nan"."""
    if isinstance(value, list):
        return [expected(v) for v in value]
    if isinstance(value, str) and math.isnan(from_hex(value)):
        return "nan"
    return value


def test_every_class_is_covered():
    names = {case["class"] for case in CASES}
    assert names | {"Signal"} == set(_quernel.__all__)  # Signal comes out of the strategies
    assert any(case["class"].endswith("Crossover") for case in CASES)


@pytest.mark.parametrize(
    "case", CASES, ids=[f"{c['class']}{tuple(c['args'])}" for c in CASES]
)
def test_vectors(case):
    name = case["class"]
    obj = None if name == "Bar" else getattr(_quernel, name)(*case["args"])
    query = INDEX_QUERY.get(name)
    for step, item in enumerate(case["steps"]):
        if item == "reset":
            obj.reset()
            continue
        given, want = item
        if isinstance(given, list):
            bar = _quernel.Bar(*[from_hex(p) for p in given[:4]], given[4])
            if obj is None:
                got = [bar.open(), bar.high(), bar.low(), bar.close(), bar.volume()]
            else:
                got = [obj.next(bar)]
        else:
            got = [obj.next(from_hex(given))]
            if query:
                got.append(getattr(obj, query)())
        assert [encode(v) for v in got] == expected(want), (step, given)
