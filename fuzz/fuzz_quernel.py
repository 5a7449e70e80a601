#!/usr/bin/env python3
"""Coverage-guided fuzzing of _quernel with atheris (libFuzzer).

Each input builds one object of a class picked by the fuzzer, from arguments of every kind
(ints of any size, floats, bools, strings, None, number-like objects whose conversions raise,
return the wrong type or call back into the object), bound by position and by keyword, right
and wrong; then it calls the object's methods with such arguments. For every call the harness
works out what must happen: the result, bit for bit against the pure-Python model in
tests/model.py, or the exception with its type and the start of its text. Anything else
(another exception, a wrong result, a crash, a sanitizer report) is a finding.

Run it on the fuzzing build (see .ci/hardening), for example:

    fuzz/fuzz_quernel.py -max_total_time=60 "$(mktemp -d)" fuzz/corpus

Windows larger than ALLOC_LIMIT_MB (QUERNEL_FUZZ_ALLOC_LIMIT_MB, 64 unless set) may be
refused by the allocator (MemoryError); smaller ones must be granted. Run it with
ASAN_OPTIONS=max_allocation_size_mb=<the same>, so that no input asks for gigabytes.
"""

import math
import os
import sys

import atheris

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))

import _quernel
import arguments as A
import model

ALLOC_LIMIT = int(os.environ.get("QUERNEL_FUZZ_ALLOC_LIMIT_MB", "64")) << 20
MODEL_LIMIT = 4096  # windows longer than this are not mirrored in Python
MAX_CALLS = 48

CLASSES = list(A.SHAPES) + ["Signal"]
Signal = _quernel.Signal
MEMBERS = [Signal.BUY, Signal.SELL, Signal.HOLD]


def _panic_type():
    try:
        _quernel.SimpleMovingAverage(A.MAX_WINDOW + 1)
    except BaseException as error:  # noqa: B902
        return type(error)


# The diagnostic of each internal failure goes to standard error; keep the fuzzer's log clean.
_saved = os.dup(2)
os.dup2(os.open(os.devnull, os.O_WRONLY), 2)
InternalPanic = _panic_type()
os.dup2(_saved, 2)


class Finding(AssertionError):
    pass


def check(condition, *what):
    if not condition:
        raise Finding(*what)


# ---------------------------------------------------------------------------------------------
# Arguments and what each converts to


class FloatSub(float):
    pass


class IntSub(int):
    pass


class BadIndex:
    def __index__(self):
        return 1.5


class Outcome:
    """What converting an argument gives: a value, or an exception type (and whether its
    text is the interpreter's TypeError that the module prefixes)."""

    def __init__(self, value=None, error=None):
        self.value, self.error = value, error


def ok(value):
    return Outcome(value=value)


def err(error):
    return Outcome(error=error)


def int_outcomes(v):
    word = ok(v) if 0 <= v <= A.WORD_MAX else err(OverflowError)
    try:
        double = ok(float(v))
    except OverflowError:
        double = err(OverflowError)
    return word, double


def draw_int(fdp):
    if fdp.ConsumeBool():
        return fdp.ConsumeIntInRange(-2, 12)
    size = fdp.ConsumeIntInRange(1, 17)
    if size == 17:
        return fdp.PickValueInList([A.MAX_WINDOW, A.MAX_WINDOW + 1, A.WORD_MAX, A.WORD_MAX + 1,
                                    2**64, 2**1100, -(2**1100), A.UNALLOCATABLE])
    return fdp.ConsumeInt(size)


def draw_float(fdp):
    if fdp.ConsumeBool():
        return fdp.PickValueInList([0.0, -0.0, 1.0, -1.0, 0.1, 2.5, 100.0, math.inf, -math.inf,
                                    math.nan, 5e-324, 1e308, 1.5e154])
    return fdp.ConsumeFloat()


def draw_argument(fdp, owner=None):
    """An argument and its outcomes as (word, double). `owner`, when given, is the object the
    argument will be fed to: a re-entrant argument calls back into it."""
    kind = fdp.ConsumeIntInRange(0, 17)
    if kind <= 3:
        v = draw_int(fdp)
        return (v, *int_outcomes(v))
    if kind <= 6:
        x = draw_float(fdp)
        return x, err(TypeError), ok(x)
    if kind == 7:
        b = fdp.ConsumeBool()
        return b, ok(int(b)), ok(float(b))
    if kind == 8:
        s = fdp.PickValueInList(["1.0", "3", "", "nan", fdp.ConsumeUnicode(4)])
        return s, err(TypeError), err(TypeError)
    if kind == 9:
        return None, err(TypeError), err(TypeError)
    if kind == 10:
        x = draw_float(fdp)
        return A.Real(x), err(TypeError), ok(x)
    if kind == 11:
        v = draw_int(fdp)
        return (A.Index(v), *int_outcomes(v))
    if kind == 12:
        which = fdp.ConsumeIntInRange(0, 4)
        if which == 0:
            return A.Raising(lambda: A.Boom("boom")), err(A.Boom), err(A.Boom)
        if which == 1:
            return A.ChainedTypeError(), err(TypeError), err(TypeError)
        if which == 2:
            return A.Real("x"), err(TypeError), err(TypeError)
        if which == 3:
            return BadIndex(), err(TypeError), err(TypeError)
        return A.Raising(lambda: ValueError("odd")), err(ValueError), err(ValueError)
    if kind == 13:
        x = draw_float(fdp)
        return FloatSub(x), err(TypeError), ok(x)
    if kind == 14:
        v = fdp.ConsumeIntInRange(0, 2**40)
        return IntSub(v), ok(v), ok(float(v))
    if kind == 15:
        thing = fdp.PickValueInList([A.bar(), Signal.BUY, object(), [1.0], (2.0,)])
        return thing, err(TypeError), err(TypeError)
    if kind == 16 and owner is not None:
        return reentrant(fdp, owner)
    v = fdp.ConsumeIntInRange(0, 6)
    return (v, *int_outcomes(v))


def reentrant(fdp, owner):
    """A number whose conversion calls a method of `owner`, which is claimed by then: the
    call is refused. The refusal escapes (the outer call fails with it) or is handled and the
    conversion gives its value."""
    name = type(owner).__name__
    actions = [("next", lambda o: o.next(1.0), A.BUSY[0]), ("reset", lambda o: o.reset(),
                                                             A.BUSY[0])]
    if name in A.WITH_PERIOD:
        actions.append(("period", lambda o: o.period(), A.BUSY[0]))
    if name in A.INDEX_QUERY:
        actions.append(("query", lambda o: getattr(o, A.INDEX_QUERY[name])(), A.BUSY[1]))
    _, action, text = fdp.PickValueInList(actions)
    swallow = fdp.ConsumeBool()
    if fdp.ConsumeBool():  # through __index__, which the float conversion falls back on
        v = fdp.ConsumeIntInRange(-(2**60), 2**60)
        arg = A.ReentrantIndex(owner, action, value=v, swallow=swallow)
        outcome = ok(float(v))
    else:
        x = draw_float(fdp)
        arg = A.Reentrant(owner, action, value=x, swallow=swallow)
        outcome = ok(x)
    arg.expected_refusal = text
    if swallow:
        return arg, err(TypeError), outcome  # only ever fed to next
    return arg, err(RuntimeError), err(RuntimeError)


# ---------------------------------------------------------------------------------------------
# Binding


def bind(fdp, names, values):
    """Arguments for a function of parameters `names`, and the binding error that must come
    of them (None when they bind). `values` holds one value per parameter."""
    n = len(names)
    mode = fdp.ConsumeIntInRange(0, 9)
    cut = fdp.ConsumeIntInRange(0, n)
    positional = list(values[:cut])
    keywords = [(names[i], values[i]) for i in range(cut, n)]
    if mode == 1 and keywords:
        keywords.reverse()
    if mode == 2:
        positional.append(values[0] if values else 1.0)  # one too many
    elif mode == 3 and n:
        i = fdp.ConsumeIntInRange(0, n - 1)
        keywords.append((names[i], values[i]))  # named twice, or once if not positional
    elif mode == 4:
        keywords.insert(fdp.ConsumeIntInRange(0, len(keywords)), ("bogus", 1))
    elif mode == 5 and keywords:
        keywords.pop(fdp.ConsumeIntInRange(0, len(keywords) - 1))  # one left out
    elif mode == 6:
        keywords.append(("inpu\u00e9", 2.0))
    keywords = dict(keywords)  # a keyword given twice is given once, with its last value
    # what binding must say, in its order of checks
    error = None
    if len(positional) > n:
        error = "takes"
    else:
        filled = set(names[:len(positional)])
        for key in keywords:
            if key not in names:
                error = "unexpected"
                break
            if key in filled:
                error = "multiple"
                break
            filled.add(key)
        if error is None and len(filled) < n:
            error = "missing"
    return positional, keywords, error


BINDING_TEXT = {"takes": " takes ", "unexpected": " got an unexpected keyword argument '",
                "multiple": " got multiple values for argument '", "missing": " missing "}


def expect_binding_error(error, display, call):
    try:
        call()
    except TypeError as e:
        check(type(e) is TypeError and str(e).startswith(display + BINDING_TEXT[error]),
              "binding error", display, error, repr(e))
    else:
        raise Finding("binding error expected", display, error)


def expect_error(outcome, call, prefix, what):
    """Calls `call`, which must fail as `outcome` says."""
    try:
        call()
    except BaseException as e:  # noqa: B902
        check(isinstance(e, outcome.error), what, "wrong exception", outcome.error, repr(e))
        if type(e) is TypeError:
            check(str(e).startswith(prefix), what, "TypeError without its prefix", repr(e))
        elif outcome.error is not TypeError:
            check(not str(e).startswith("argument '"), what, "prefixed", repr(e))
        return e
    raise Finding(what, "no exception", outcome.error)


# ---------------------------------------------------------------------------------------------
# Construction


def windows(name, values):
    """The window lengths a constructor allocates, in order."""
    if name == "SharpeRatio":
        return [values[0], values[0]]
    if name == "SimpleMovingAverageCrossover":
        return list(values)
    if name in A.WINDOWED:
        return [values[0]]
    return []


def construction_error(name, values):
    """The failure the class's own checks give for converted `values`, or None."""
    if name in A.CROSSOVERS and values[0] >= values[1]:
        return ValueError, "Short period must be less than long period."
    if name != "Bar" and name != "SharpeRatio" and 0 in values:
        return ValueError, "Period cannot be 0."
    if name == "SharpeRatio" and values[0] == 0:
        return ValueError, "Period cannot be 0."
    for length in windows(name, values):
        if length > A.MAX_WINDOW:
            return InternalPanic, "capacity overflow"
        if length * 8 > ALLOC_LIMIT:
            return MemoryError, None
    return None


def construct(fdp, name):
    """An object of class `name` and its model (None when too large to mirror), or None when
    the construction failed as it had to."""
    cls = getattr(_quernel, name)
    names, kinds, _ = A.SHAPES[name]
    drawn = [draw_argument(fdp) for _ in names]
    values = [d[0] for d in drawn]
    positional, keywords, binding = bind(fdp, names, values)
    display = f"{name}.__new__()"
    if binding is not None:
        expect_binding_error(binding, display, lambda: cls(*positional, **keywords))
        return None
    converted = []
    for param, kind, (_, word, double) in zip(names, kinds, drawn):
        outcome = word if kind == "w" else double
        if outcome.error is not None:
            expect_error(outcome, lambda: cls(*positional, **keywords), f"argument '{param}': ",
                         display)
            return None
        converted.append(outcome.value)
    failure = construction_error(name, converted)
    if failure is not None:
        error, text = failure
        try:
            obj = cls(*positional, **keywords)
        except BaseException as e:  # noqa: B902
            check(type(e) is error and (text is None or str(e) == text), display,
                  converted, repr(e))
            return None
        # an allocator without the limit may grant a large window
        check(error is MemoryError, display, converted, "no", error)
    else:
        obj = cls(*positional, **keywords)
    check(type(obj) is cls, display)
    mirror = None
    if all(length <= MODEL_LIMIT for length in windows(name, converted)):
        mirror = (model.Bar if name == "Bar" else getattr(model, name))(*converted)
    return obj, mirror


# ---------------------------------------------------------------------------------------------
# Methods


def agree(got, want):
    if isinstance(got, Signal):
        return int(got) == want and got is not MEMBERS[want]
    if isinstance(want, tuple):
        return isinstance(got, tuple) and len(got) == 3 and all(map(agree, got, want))
    if type(got) is not float:
        return False
    if want != want:
        return got != got
    return got == want and math.copysign(1.0, got) == math.copysign(1.0, want)


def call_next(fdp, name, obj, mirror):
    if name in A.BAR_FED:
        if fdp.ConsumeBool():
            fields = [draw_float(fdp) for _ in range(4)]
            argument = _quernel.Bar(*fields, fdp.ConsumeIntInRange(0, 2**32))
            outcome = ok(model.Bar(*fields, 0))
        else:
            argument = draw_argument(fdp)[0]
            if isinstance(argument, _quernel.Bar):
                outcome = ok(model.Bar(argument.open(), argument.high(), argument.low(),
                                       argument.close(), argument.volume()))
            else:
                outcome = err(TypeError)
    else:
        argument, _, outcome = draw_argument(fdp, owner=obj)
    positional, keywords, binding = bind(fdp, ["input"], [argument])
    display = f"{name}.next()"
    if binding is not None:
        expect_binding_error(binding, display, lambda: obj.next(*positional, **keywords))
        return
    if outcome.error is not None:
        e = expect_error(outcome, lambda: obj.next(*positional, **keywords),
                         "argument 'input': ", display)
        if isinstance(argument, A.Reentrant):
            check(str(e) == argument.expected_refusal == argument.seen, display, repr(e))
        elif name in A.BAR_FED:
            check(str(e).endswith("' object cannot be converted to 'Bar'"), display, repr(e))
        return
    got = obj.next(*positional, **keywords)
    if isinstance(argument, A.Reentrant):
        check(argument.seen == argument.expected_refusal, display, argument.seen)
    if mirror is not None:
        want = mirror.next(outcome.value)
        check(agree(got, want), display, "result", got, want)


def exercise(fdp, name, obj, mirror):
    for _ in range(fdp.ConsumeIntInRange(0, MAX_CALLS)):
        if fdp.remaining_bytes() == 0:
            break
        op = fdp.ConsumeIntInRange(0, 7)
        if op <= 3:
            call_next(fdp, name, obj, mirror)
        elif op == 4:
            check(obj.reset() is None, "reset")
            if mirror is not None:
                mirror.reset()
        elif op == 5 and name in A.WITH_PERIOD:
            got = obj.period()
            check(type(got) is int and (mirror is None or got == mirror.period()), "period")
        elif op == 6 and name in A.INDEX_QUERY:
            got = getattr(obj, A.INDEX_QUERY[name])()
            check(type(got) is int, "index query")
            if mirror is not None:
                check(got == getattr(mirror, A.INDEX_QUERY[name])(), "index query", got)
        else:
            method = fdp.PickValueInList(["reset", "period", "next", "find_min_index"])
            if hasattr(obj, method) and method != "next":
                try:
                    getattr(obj, method)(draw_argument(fdp)[0])
                except TypeError:
                    pass
                else:
                    raise Finding(name, method, "took an argument")


def exercise_bar(fdp, obj, mirror):
    for _ in range(fdp.ConsumeIntInRange(0, 8)):
        field = fdp.PickValueInList(["open", "high", "low", "close", "volume"])
        got = getattr(obj, field)()
        want = getattr(mirror, field)()
        if field == "volume":
            check(type(got) is int and got == want, "volume", got, want)
        else:
            check(agree(got, float(want)), field, got, want)


def exercise_signal(fdp):
    for _ in range(fdp.ConsumeIntInRange(1, 16)):
        member = fdp.PickValueInList(MEMBERS)
        code = MEMBERS.index(member)
        op = fdp.ConsumeIntInRange(0, 5)
        if op == 0:
            check(repr(member) == str(member) == ("Signal." + ("BUY", "SELL", "HOLD")[code]))
            check(int(member) == code)
        elif op == 1:
            other, word, _ = draw_argument(fdp)
            equal = member == other
            check(type(equal) is bool and (member != other) is (not equal), "==", other)
            if isinstance(other, Signal):
                check(equal is (int(other) == code), "== Signal")
            elif type(other) in (int, bool) and word.error is None:
                check(equal is (other == code), "== int", other)
            elif type(other) is int and abs(other) < 2**62:
                check(equal is (other == code), "== negative int", other)
        elif op == 2:
            other = fdp.PickValueInList([MEMBERS[0], 1, 2.0, "x"])
            try:
                fdp.PickValueInList([lambda: member < other, lambda: member >= other,
                                     lambda: other > member])()
            except TypeError:
                pass
            else:
                raise Finding("ordering of a Signal")
        elif op == 3:
            try:
                hash(member)
            except TypeError:
                pass
            else:
                raise Finding("hash of a Signal")
        elif op == 4:
            try:
                Signal(*[draw_argument(fdp)[0] for _ in range(fdp.ConsumeIntInRange(0, 2))])
            except TypeError as e:
                check(str(e) == "No constructor defined for Signal", repr(e))
            else:
                raise Finding("Signal constructed")
        else:
            check(bool(member) is True)


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    name = fdp.PickValueInList(CLASSES)
    if name == "Signal":
        exercise_signal(fdp)
        return
    built = construct(fdp, name)
    if built is None:
        return
    obj, mirror = built
    if name == "Bar":
        exercise_bar(fdp, obj, mirror)
    else:
        exercise(fdp, name, obj, mirror)


def main():
    # Coverage comes from the module's own hooks and from this function's branches; the
    # model and the argument helpers are not instrumented, which keeps each run cheap.
    atheris.instrument_func(test_one_input)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
