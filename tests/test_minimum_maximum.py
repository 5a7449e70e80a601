"""Minimum and Maximum are twins: every Minimum case also runs on Maximum with the inputs and
results negated, which mirrors the order and swaps the signs of zeros and infinities."""

import math

import pytest

from _quernel import Maximum, Minimum
from conftest import same

NAN, INF = math.nan, math.inf


def make(kind, period):
    return Minimum(period) if kind == "min" else Maximum(period)


def mirror(kind, values):
    return list(values) if kind == "min" else [-v for v in values]


def index_of(obj):
    return obj.find_min_index() if isinstance(obj, Minimum) else obj.find_max_index()


twins = pytest.mark.parametrize("kind", ["min", "max"])


# (period, inputs, results, index query after the last input), written for Minimum
MINIMUM_CASES = [
    (3, [5, 3, 4, 6], [5.0, 3.0, 3.0, 3.0], 1),
    (3, [5, 3, 4, 6, 7, 8], [5.0, 3.0, 3.0, 3.0, 4.0, 6.0], 0),
    # ties keep the older slot: +0.0 from slot 0 wins over the later -0.0 until slot 0 is
    # overwritten, then the rescan finds the -0.0
    (2, [0.0, -0.0, 5.0], [0.0, 0.0, -0.0], 1),
    # the query reports the lowest slot holding the minimum, here the later 1
    (3, [5, 1, 4, 1], [5.0, 1.0, 1.0, 1.0], 0),
    # a NaN in the extreme's slot is held until it is overwritten; elsewhere it is passed over
    (3, [NAN, 5, 3, 4, 2], [NAN, NAN, NAN, 3.0, 2.0], 1),
    (3, [5, NAN, 7, 9], [5.0, 5.0, 5.0, 7.0], 2),
    # overwriting the extreme's slot with an equal value rescans and keeps it
    (2, [1, 2, 1, 3], [1.0, 1.0, 1.0, 1.0], 0),
    (1, [3.0, NAN, -INF, INF, 2.0], [3.0, NAN, -INF, INF, 2.0], 0),
]


@twins
@pytest.mark.parametrize("period,inputs,expected,index", MINIMUM_CASES)
def test_stated_results(kind, period, inputs, expected, index):
    obj = make(kind, period)
    got = [obj.next(x) for x in mirror(kind, inputs)]
    assert all(same(g, e) for g, e in zip(got, mirror(kind, expected))), got
    assert index_of(obj) == index


def test_maximum_stated_results():
    obj = Maximum(3)
    assert [obj.next(x) for x in [5, 3, 4, 6, 2, 1]] == [5.0, 5.0, 5.0, 6.0, 6.0, 6.0]
    assert obj.find_max_index() == 0


@twins
def test_query_scans_and_does_not_touch_the_kept_index(kind):
    obj = make(kind, 4)
    assert index_of(obj) == 0  # fresh: nothing beats the fill
    # next keeps the -0.0 of slot 2 (it came first); the scan meets the +0.0 in slot 0 first
    got = [obj.next(x) for x in mirror(kind, [5.0, 8.0, -0.0, 4.0, 0.0])]
    assert same(got[-1], mirror(kind, [-0.0])[0])
    assert index_of(obj) == 0
    # slot 1 is overwritten: next still returns the value of the slot it kept
    assert same(obj.next(mirror(kind, [7.0])[0]), mirror(kind, [-0.0])[0])


@twins
def test_reset_refills_but_keeps_both_indices(kind):
    obj = make(kind, 3)
    for x in mirror(kind, [5, 1]):
        obj.next(x)
    assert obj.reset() is None
    assert index_of(obj) == 0  # only fill values are left
    assert obj.next(mirror(kind, [7])[0]) == mirror(kind, [7.0])[0]
    assert index_of(obj) == 2  # written after slot 1, where it was before the reset
    assert obj.period() == 3

    # the kept index still names slot 1, which now holds the fill: a NaN written to slot 2
    # does not beat it and no rescan runs, so the fill itself comes back
    obj = make(kind, 3)
    for x in mirror(kind, [5, 1]):
        obj.next(x)
    obj.reset()
    assert obj.next(NAN) == mirror(kind, [INF])[0]
    assert obj.next(mirror(kind, [4])[0]) == mirror(kind, [4.0])[0]


@pytest.mark.parametrize("cls", [Minimum, Maximum])
def test_period_and_zero_period(cls):
    assert cls(period=4).period() == 4
    with pytest.raises(ValueError, match=r"^Period cannot be 0\.$"):
        cls(0)
