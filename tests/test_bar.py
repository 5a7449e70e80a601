import math

import pytest

from _quernel import Bar
from conftest import IS_PYPY, WORD_MAX, same


def fields(bar):
    return (bar.open(), bar.high(), bar.low(), bar.close(), bar.volume())


def test_construction_and_accessors():
    bar = Bar(1.0, 2.0, 0.5, 1.5, 100)
    values = fields(bar)
    assert values == (1.0, 2.0, 0.5, 1.5, 100)
    assert [type(v) for v in values] == [float] * 4 + [int]
    # keywords in any order give the same bar
    assert fields(Bar(volume=100, low=0.5, open=1.0, close=1.5, high=2.0)) == values
    assert fields(Bar(1.0, 2.0, low=0.5, close=1.5, volume=100)) == values


@pytest.mark.parametrize(
    "args,expected",
    [
        # integer prices become floats; True is a volume of 1
        ((1, 2, 0, 1, 5), (1.0, 2.0, 0.0, 1.0, 5)),
        ((1.0, 2.0, 0.5, 1.5, True), (1.0, 2.0, 0.5, 1.5, 1)),
        # nothing is validated: high below low, NaN, infinities, signed zeros
        ((5.0, 1.0, 9.0, math.nan, 0), (5.0, 1.0, 9.0, math.nan, 0)),
        ((-0.0, math.inf, -math.inf, -1e308, WORD_MAX), (-0.0, math.inf, -math.inf, -1e308,
                                                         WORD_MAX)),
    ],
)
def test_values_are_stored_unchanged(args, expected):
    got = fields(Bar(*args))
    assert all(same(g, e) for g, e in zip(got[:4], expected[:4])), got
    assert got[4] == expected[4] and type(got[4]) is int


@pytest.mark.parametrize(
    "args,exc_type,prefix",
    [
        ((1.0, 2.0, 0.5, 1.5, 100.0), TypeError, "argument 'volume': "),
        ((1.0, 2.0, 0.5, 1.5, "100"), TypeError, "argument 'volume': "),
        (("1.0", 2.0, 0.5, 1.5, 100), TypeError, "argument 'open': "),
        ((1.0, 2.0, None, 1.5, 100), TypeError, "argument 'low': "),
        # the first failing conversion is reported; later ones are not looked at
        ((1.0, 2.0, 0.5, "x", 1.5), TypeError, "argument 'close': "),
        ((1.0, "x", 0.5, 1.5, -1), TypeError, "argument 'high': "),
        ((1.0, 2.0, 0.5, 1.5, -1), OverflowError, ""),
        ((1.0, 2.0, 0.5, 1.5, 2**64), OverflowError, ""),
    ],
)
def test_conversion_errors(args, exc_type, prefix):
    with pytest.raises(exc_type) as info:
        Bar(*args)
    assert type(info.value) is exc_type
    if prefix:
        assert str(info.value).startswith(prefix)
    else:
        assert "volume" not in str(info.value)


def test_immutable():
    bar = Bar(1.0, 2.0, 0.5, 1.5, 100)
    assert callable(bar.close) and bar.close.__self__ is bar  # a bound method, not the price
    for name in ("open", "high", "low", "close", "volume"):
        if IS_PYPY:
            # PyPy gives the instances an attribute dictionary (a host difference): the name is
            # shadowed on the instance, while the bar's own values stay as they were.
            setattr(bar, name, 3.0)
        else:
            with pytest.raises(AttributeError):
                setattr(bar, name, 3.0)
    stored = tuple(getattr(Bar, name)(bar) for name in ("open", "high", "low", "close", "volume"))
    assert stored == (1.0, 2.0, 0.5, 1.5, 100)


def test_identity_equality():
    a, b = Bar(1.0, 2.0, 0.5, 1.5, 100), Bar(1.0, 2.0, 0.5, 1.5, 100)
    assert a == a and a != b and not (a == b)
    assert len({a, b, a}) == 2


def test_accessors_refuse_arguments():
    with pytest.raises(TypeError):
        Bar(1.0, 2.0, 0.5, 1.5, 100).close(1)
