"""Snapshots: copy, deepcopy, pickle, snapshot/restore and peek; a restored object continues
bit for bit, and bytes that are not a valid snapshot are refused with ValueError."""

import copy
import math
import pickle
import struct
import zlib

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

import _quernel
import quernel
from cases import (
    CASES,
    case_id,
    inputs_for,
    make,
    plain,
    same_results,
    same_state,
    seeded,
    step_by_step,
    to_next_input,
)
from conftest import WORD_BITS

# ---------------------------------------------------------------------------------------------
# Round trips


def warmed(case, rng, n):
    obj = make(case)
    step_by_step(obj, case, inputs_for(case, rng, n))
    return obj


COPIERS = {
    "restore": lambda obj: quernel.restore(quernel.snapshot(obj)),
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
    **{f"pickle{p}": (lambda obj, p=p: pickle.loads(pickle.dumps(obj, protocol=p)))
       for p in range(pickle.HIGHEST_PROTOCOL + 1)},
}


@pytest.mark.parametrize("how", sorted(COPIERS))
@pytest.mark.parametrize("case", CASES, ids=case_id)
def test_a_copy_continues_bit_for_bit(case, how):
    """Copies taken fresh, during warm-up, when full, after a reset and after non-finite inputs
    continue exactly as the original does, and are independent of it."""
    rng = seeded(case, how)
    for n in (0, 1, 3, 10, 200):
        original = warmed(case, rng, n)
        if n == 10:
            original.reset()
        duplicate = COPIERS[how](original)
        assert type(duplicate) is type(original) and duplicate is not original
        assert quernel.snapshot(duplicate) == quernel.snapshot(original)
        xs = inputs_for(case, rng, 80)
        same_results(step_by_step(duplicate, case, xs), step_by_step(original, case, xs))
        # feeding one does not move the other
        before = quernel.snapshot(original)
        step_by_step(duplicate, case, inputs_for(case, rng, 5))
        assert quernel.snapshot(original) == before


def test_bar_and_signal_copies():
    bar = _quernel.Bar(1.0, 2.0, -0.0, math.nan, 2**WORD_BITS - 1)
    for duplicate in (copy.copy(bar), copy.deepcopy(bar), pickle.loads(pickle.dumps(bar))):
        assert type(duplicate) is _quernel.Bar
        assert struct.pack("<4d", duplicate.open(), duplicate.high(), duplicate.low(),
                           duplicate.close()) == struct.pack("<4d", 1.0, 2.0, -0.0, math.nan)
        assert duplicate.volume() == 2**WORD_BITS - 1
    result = _quernel.SimpleMovingAverageCrossover(1, 2)
    result.next(1.0)
    signal = result.next(2.0)  # a BUY that is not the member itself
    for member in (_quernel.Signal.BUY, _quernel.Signal.SELL, _quernel.Signal.HOLD, signal):
        for duplicate in (copy.copy(member), copy.deepcopy(member),
                          pickle.loads(pickle.dumps(member))):
            assert duplicate == member and type(duplicate) is _quernel.Signal
    assert pickle.loads(pickle.dumps(signal)) is _quernel.Signal.BUY


def test_containers_of_objects_pickle():
    book = {"sma": _quernel.SimpleMovingAverage(3), "x": [_quernel.TrueRange()]}
    book["sma"].next(2.0)
    back = pickle.loads(pickle.dumps(book))
    assert back["sma"].next(4.0) == book["sma"].next(4.0) == 3.0


def test_restore_checks_the_class_when_asked():
    data = quernel.snapshot(_quernel.Minimum(3))
    assert type(quernel.restore(data, _quernel.Minimum)) is _quernel.Minimum
    assert type(quernel.restore(bytearray(data))) is _quernel.Minimum
    assert type(quernel.restore(memoryview(data))) is _quernel.Minimum
    with pytest.raises(ValueError, match="the snapshot holds a Minimum, not a Maximum"):
        quernel.restore(data, _quernel.Maximum)


@pytest.mark.parametrize(
    "call,error,text",
    [
        (lambda: quernel.snapshot(_quernel.Bar(1, 2, 0, 1, 5)), TypeError,
         "snapshot() takes an indicator or a strategy of quernel, not 'Bar'"),
        (lambda: quernel.snapshot("x"), TypeError,
         "snapshot() takes an indicator or a strategy of quernel, not 'str'"),
        (lambda: quernel.restore("QRNL"), TypeError, None),
        (lambda: quernel.peek(_quernel.Signal.BUY, 1.0), TypeError,
         "peek() takes an indicator or a strategy of quernel, not 'Signal'"),
        (lambda: quernel.peek(_quernel.SimpleMovingAverage(2), "x"), TypeError,
         "argument 'input': must be real number, not str"),
        (lambda: quernel.peek(_quernel.TrueRange(), 1.0), TypeError,
         "argument 'input': 'float' object cannot be converted to 'Bar'"),
    ],
)
def test_wrong_arguments(call, error, text):
    with pytest.raises(error) as info:
        call()
    if text is not None:
        assert str(info.value) == text


# ---------------------------------------------------------------------------------------------
# peek


@pytest.mark.parametrize("case", CASES, ids=case_id)
def test_peek_answers_as_next_would_and_changes_nothing(case):
    rng = seeded(case, "peek")
    obj = make(case)
    for x in inputs_for(case, rng, 300):
        before = quernel.snapshot(obj)
        peeked = plain(quernel.peek(obj, to_next_input(case, x)))
        assert quernel.snapshot(obj) == before
        same_results([peeked], [plain(obj.next(to_next_input(case, x)))])
        if rng.random() < 0.02:
            obj.reset()


def test_peek_gives_a_new_signal_like_next():
    cross = _quernel.ExponentialMovingAverageCrossover(1, 2)
    cross.next(1.0)
    peeked = quernel.peek(cross, 2.0)
    assert isinstance(peeked, _quernel.Signal) and peeked == _quernel.Signal.BUY
    assert peeked is not _quernel.Signal.BUY


def test_peek_and_snapshot_are_refused_while_the_object_is_claimed():
    sma = _quernel.SimpleMovingAverage(2)
    seen = []

    class Sneaky:
        def __float__(self):
            for action in (lambda: quernel.peek(sma, 1.0), lambda: quernel.snapshot(sma)):
                try:
                    action()
                except RuntimeError as error:
                    seen.append(str(error))
            return 3.0

    assert sma.next(Sneaky()) == 3.0
    assert seen == ["Already mutably borrowed"] * 2
    # peek's own conversion holds only a shared claim: reading is allowed, changing is not
    seen.clear()

    class Reader:
        def __float__(self):
            seen.append(quernel.peek(sma, 5.0))
            try:
                sma.next(1.0)
            except RuntimeError as error:
                seen.append(str(error))
            return 1.0

    assert quernel.peek(sma, Reader()) == 2.0
    assert seen == [4.0, "Already borrowed"]


# ---------------------------------------------------------------------------------------------
# Hostile bytes


def seal(body):
    """A snapshot body with its checksum (CRC-32, little-endian) appended."""
    return body + struct.pack("<I", zlib.crc32(body))


def header(tag):
    return b"QRNL\x01" + bytes([tag])


def words(*values):
    return b"".join(struct.pack("<Q", v) for v in values)


def doubles(*values):
    return b"".join(struct.pack("<d", v) for v in values)


SMA, EMA, MIN, MACD, ROC, RSI, SHARPE, TR, ATR, SMAX, EMAX = 11, 4, 6, 7, 8, 9, 10, 13, 3, 15, 14


def sma(period, slots, total, write_index, filled):
    return seal(header(SMA) + words(period) + doubles(*slots) + doubles(total) +
                words(write_index, filled))


def ema(period, current, first):
    return seal(header(EMA) + words(period) + doubles(current) + bytes([first]))


def sharpe(mean_sum, deviation_sum, observations):
    """A SharpeRatio(2, 0.0) that has seen the one input 1.0, with some fields changed."""
    mean = doubles(1.0, 0.0) + doubles(mean_sum) + words(1, 1)
    deviation = doubles(1.0, 0.0) + doubles(deviation_sum, 1.0) + words(1, 1)
    return seal(header(SHARPE) + words(2) + doubles(0.0) + mean + deviation + words(observations))


def test_the_crafted_helpers_make_valid_snapshots():
    """The hand-made bytes below are right where they are meant to be, so each refusal is about
    the one thing each case breaks."""
    made = _quernel.SimpleMovingAverage(3)
    made.next(1.0)
    assert sma(3, [1.0, 0.0, 0.0], 1.0, 1, 1) == quernel.snapshot(made)
    assert ema(5, 0.0, 1) == quernel.snapshot(_quernel.ExponentialMovingAverage(5))
    ratio = _quernel.SharpeRatio(2, 0.0)
    ratio.next(1.0)
    assert sharpe(1.0, 1.0, 1) == quernel.snapshot(ratio)
    restored = quernel.restore(sma(3, [1.0, 2.0, 3.0], 6.0, 0, 3))
    assert restored.next(4.0) == 3.0


HOSTILE = [
    (b"", "it is too short (0 bytes)"),
    (b"QRNL\x01\x0b\x00\x00\x00", "it is too short (9 bytes)"),
    (seal(b"QRNX\x01\x0b" + words(1) + doubles(0.0, 0.0) + words(0, 0)),
     "it does not start with the snapshot marker"),
    (seal(b"QRNL\x02\x0b" + words(1) + doubles(0.0, 0.0) + words(0, 0)),
     "format version 2 is not supported (this is version 1)"),
    (sma(1, [0.0], 0.0, 0, 0)[:-1] + b"\x00", "its checksum does not match"),
    (sma(1, [0.0], 0.0, 0, 0)[:-5] + sma(1, [0.0], 0.0, 0, 0)[-4:], "its checksum does not match"),
    (seal(header(1) + doubles(1, 2, 3, 4) + words(5)), "class number 1 is not a class with a state"),
    (seal(header(2) + b"\x00"), "class number 2 is not a class with a state"),
    (seal(header(16) + words(1)), "class number 16 is not a class with a state"),
    (seal(header(0) + words(1)), "class number 0 is not a class with a state"),
    (sma(0, [], 0.0, 0, 0), "a period is 0"),
    (seal(header(SMA) + words(2**40) + doubles(0.0)),
     "a window of 1099511627776 slots is longer than the 8 bytes that follow" if WORD_BITS == 64
     else "a period of 1099511627776 does not fit this platform's machine word"),
    (seal(header(SMA) + words(2**64 - 1)),
     "slots is longer than the 0 bytes that follow" if WORD_BITS == 64
     else "a period of 18446744073709551615 does not fit this platform's machine word"),
    (seal(header(SMA) + words(2) + doubles(1.0, 2.0)), "it ends in the middle of a number"),
    (sma(3, [1.0, 2.0, 3.0], 6.0, 3, 3), "index 3 lies outside a ring of 3 slots"),
    (sma(3, [1.0, 2.0, 3.0], 6.0, 2**63, 3), "index 9223372036854775808 lies outside a ring"
     if WORD_BITS == 64 else "does not fit this platform's machine word"),
    (sma(3, [1.0, 2.0, 3.0], 6.0, 0, 4), "a counter holds 4, above its limit 3"),
    (sma(3, [1.0, 2.0, 0.0], 3.0, 0, 2), "a ring that is not full is written from slot 0 on"),
    (sma(3, [1.0, 0.0, 5.0], 6.0, 1, 1), "the slots a ring has not reached hold 0.0"),
    (sma(3, [1.0, -0.0, 0.0], 1.0, 1, 1), "the slots a ring has not reached hold 0.0"),
    (sma(3, [1.0, 2.0, 3.0], 6.0, 0, 3)[:-4] + b"\x00" + b"\x00\x00\x00\x00",
     "its checksum does not match"),
    (seal(sma(3, [1.0, 2.0, 3.0], 6.0, 0, 3)[:-4] + b"\x00"),
     "1 bytes are left over after the last field"),
    (ema(3, 0.0, 2), "a flag holds 2, not 0 or 1"),
    (ema(3, 5.0, 1), "an average that has seen no input holds 0.0"),
    (seal(header(EMA) + words(3) + doubles(1.0)), "it ends in the middle of a flag"),
    (seal(header(MIN) + words(2) + doubles(1.0, 2.0) + words(2, 0)),
     "index 2 lies outside a ring of 2 slots"),
    (seal(header(ROC) + words(2) + doubles(1.0, 2.0) + words(0, 4)),
     "a counter holds 4, above its limit 3"),
    (seal(header(ROC) + words(2) + doubles(1.0, 0.0) + words(0, 1)),
     "a ring that is not full is written from slot 0 on"),
    (seal(header(RSI) + words(2) + doubles(0.0, 0.0) + doubles(7.0) + words(0, 0)),
     "an index that has seen no price measures from 0.0"),
    (seal(header(TR) + doubles(3.0) + b"\x00"), "a true range that has seen no bar holds no close"),
    (seal(header(ATR) + words(2) + doubles(0.0) + b"\x00" + doubles(1.0) + b"\x00"),
     "an average true range that has seen a bar remembers its close"),
    (seal(header(MACD) + words(3, 1, 0)), "a period is 0"),
    (seal(header(MACD) + words(3, 1, 3) + (doubles(0.0) + b"\x01") * 2 + doubles(1.0) + b"\x00"),
     "the three averages of a MACD start together"),
    (sharpe(mean_sum=1.0, deviation_sum=3.0, observations=1),
     "the mean and the deviation of a Sharpe ratio have seen the same inputs"),
    (sharpe(mean_sum=1.0, deviation_sum=1.0, observations=5),
     "a Sharpe ratio counts the inputs its windows hold"),
    (seal(header(SHARPE) + words(2**61) + doubles(0.0) * 3),
     "a window of 2305843009213693952 slots is longer than" if WORD_BITS == 64
     else "does not fit this platform's machine word"),
    (seal(header(SMAX) + words(3, 3) + doubles(0.0) * 10 + words(0, 0) * 2),
     "the short period 3 is not less than the long period 3"),
    (seal(header(SMAX) + words(1, 2) + doubles(0.0, 0.0) + words(0, 0) + doubles(5.0, 0.0, 5.0) +
          words(1, 1)), "both averages of a crossover have seen the same inputs"),
    (seal(header(EMAX) + words(5, 2) + (doubles(0.0) + b"\x01") * 2),
     "the short period 5 is not less than the long period 2"),
    (seal(header(EMAX) + words(2, 5) + doubles(0.0) + b"\x01" + doubles(1.0) + b"\x00"),
     "both averages of a crossover start together"),
]


@pytest.mark.parametrize("data,reason", HOSTILE, ids=[f"{i}-{r[:40]}" for i, (_, r) in enumerate(HOSTILE)])
def test_hostile_bytes_are_refused_with_the_reason(data, reason):
    with pytest.raises(ValueError) as info:
        quernel.restore(data)
    assert str(info.value).startswith("invalid quernel snapshot: ")
    assert reason in str(info.value)


def test_restored_periods_are_bounded_by_the_bytes():
    """No allocation beyond what the bytes could fill: a crossover whose periods would each
    fit the bytes alone but not together is still refused once the slots run out."""
    data = seal(header(SMAX) + words(1, 3) + doubles(0.0) * 4 + words(0, 0))
    with pytest.raises(ValueError, match="it ends in the middle of the slots of a ring"):
        quernel.restore(data)


# Fuzzing: any bytes at all, and valid snapshots with bytes changed, cut or added and the
# checksum made right again so that the checks behind it are reached. The loader must either
# refuse with ValueError or give an object that works, and whatever it accepts is exactly what
# snapshot() would write for that object.

def valid_snapshots():
    out = []
    for case in CASES:
        rng = seeded("fuzz", case)
        for n in (0, 2, 30):
            out.append(quernel.snapshot(warmed(case, rng, n)))
    return out


VALID = valid_snapshots()


def load_or_refuse(data):
    try:
        obj = quernel.restore(data)
    except ValueError as error:
        assert str(error).startswith("invalid quernel snapshot: ")
        return None
    assert quernel.snapshot(obj) == bytes(data)
    case = next(c for c in CASES if c[0] == type(obj).__name__)
    rng = seeded("after", len(data))
    step_by_step(obj, case, inputs_for(case, rng, 20))
    return obj


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.binary(max_size=400))
@example(b"QRNL")
def test_fuzz_random_bytes(data):
    load_or_refuse(data)
    load_or_refuse(seal(data))
    load_or_refuse(seal(b"QRNL\x01" + data[:1] + data[1:]))


@settings(max_examples=1500, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    st.sampled_from(VALID),
    st.lists(
        st.tuples(st.sampled_from(["set", "insert", "delete", "cut"]), st.integers(0, 10**6),
                  st.integers(0, 255)),
        min_size=1, max_size=4),
    st.booleans(),
)
def test_fuzz_mutated_snapshots(valid, edits, reseal):
    body = bytearray(valid[:-4])
    for kind, where, value in edits:
        at = where % (len(body) + 1)
        if kind == "set" and at < len(body):
            body[at] = value
        elif kind == "insert":
            body[at:at] = bytes([value])
        elif kind == "delete" and at < len(body):
            del body[at]
        elif kind == "cut":
            del body[at:]
    data = seal(bytes(body)) if reseal else bytes(body) + valid[-4:]
    load_or_refuse(data)


def test_every_single_byte_change_is_caught_or_harmless():
    """Flipping any bit of a valid snapshot without fixing its checksum is always caught."""
    obj = _quernel.SharpeRatio(4, 0.01)
    obj.next(0.02)
    obj.next(0.01)
    data = quernel.snapshot(obj)
    for i in range(len(data)):
        for bit in (0, 5, 7):
            changed = bytearray(data)
            changed[i] ^= 1 << bit
            with pytest.raises(ValueError):
                quernel.restore(bytes(changed))
