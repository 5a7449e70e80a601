"""Random interleavings of next, reset, period, the index queries and failing calls on every
class, checked step by step against the model. A call that fails must leave the object
exactly as it was: the model does not see it, and every later result must still agree with
the model bit for bit."""

import math

import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, precondition, rule

import _quernel
import model
from arguments import (
    BAR_FED,
    BUSY,
    INDEX_QUERY,
    STATEFUL,
    WITH_PERIOD,
    Boom,
    ChainedTypeError,
    Index,
    Raising,
    Real,
    Reentrant,
    ReentrantIndex,
)
from conftest import IS_PYPY, WORD_MAX, same

small = st.integers(1, 6)
CONSTRUCTORS = {
    "MovingAverageConvergenceDivergence": st.tuples(small, small, small),
    "SharpeRatio": st.tuples(small, st.floats(allow_nan=True, allow_infinity=True)),
    "TrueRange": st.just(()),
    "ExponentialMovingAverageCrossover": small.flatmap(
        lambda s: st.tuples(st.just(s), st.integers(s + 1, 8))),
    "SimpleMovingAverageCrossover": small.flatmap(
        lambda s: st.tuples(st.just(s), st.integers(s + 1, 8))),
}
prices = st.floats() | st.sampled_from([0.0, -0.0, 1.0, 1e308, 5e-324, math.inf, -math.inf])
# Inputs that convert to a double, as (argument, the double it gives).
numbers = (
    prices.map(lambda x: (x, x))
    | st.integers(-(2**70), 2**70).map(lambda i: (i, float(i)))
    | st.booleans().map(lambda b: (b, float(b)))
    | prices.map(lambda x: (Real(x), x))
)
if not IS_PYPY:
    # CPython's float conversion falls back on __index__; PyPy's does not (a host difference).
    numbers = numbers | st.integers(-1000, 1000).map(lambda i: (Index(i), float(i)))
# Arguments of next that never convert, and the exception each one raises.
BAD_NUMBERS = [
    ("1.0", TypeError), (None, TypeError), (2**1100, OverflowError), (Real("x"), TypeError),
    (Raising(lambda: Boom("boom")), Boom), (ChainedTypeError(), TypeError),
    (_quernel.Signal.BUY, TypeError), (_quernel.Bar(1.0, 2.0, 0.5, 1.5, 1), TypeError),
]
BAD_BARS = [(1.0, TypeError), (None, TypeError), ("bar", TypeError), (_quernel.Signal.SELL,
                                                                       TypeError)]
BINDING = [
    lambda o, x: o.next(),
    lambda o, x: o.next(x, x),
    lambda o, x: o.next(x, input=x),
    lambda o, x: o.next(value=x),
    lambda o, x: o.next(input=x, value=x),
]


def result(value):
    return int(value) if isinstance(value, _quernel.Signal) else value


def agree(real, expected):
    if isinstance(expected, int):
        return real == expected
    return same(real, expected)


class ObjectMachine(RuleBasedStateMachine):
    NAME = None

    @initialize(data=st.data())
    def build(self, data):
        name = self.NAME
        args = data.draw(CONSTRUCTORS.get(name, small.map(lambda p: (p,))), label="args")
        self.real = getattr(_quernel, name)(*args)
        self.model = getattr(model, name)(*args)
        self.args = args

    # -- inputs that are taken

    @precondition(lambda self: self.NAME not in BAR_FED)
    @rule(number=numbers, by_keyword=st.booleans())
    def feed(self, number, by_keyword):
        argument, x = number
        got = self.real.next(input=argument) if by_keyword else self.real.next(argument)
        expected = self.model.next(x)
        assert agree(result(got), expected), (got, expected)

    @precondition(lambda self: self.NAME in BAR_FED)
    @rule(fields=st.tuples(prices, prices, prices, prices), volume=st.integers(0, WORD_MAX))
    def feed_bar(self, fields, volume):
        got = self.real.next(_quernel.Bar(*fields, volume))
        expected = self.model.next(model.Bar(*fields, volume))
        assert same(got, expected), (got, expected)

    @precondition(lambda self: self.NAME not in BAR_FED)
    @rule(x=prices)
    def feed_while_a_call_back_is_refused(self, x):
        # the conversion calls back into the object, is refused, handles the refusal and
        # produces its value: the outer call goes on with it
        swallowed = Reentrant(self.real, lambda o: o.reset(), value=x, swallow=True)
        got = self.real.next(swallowed)
        assert swallowed.seen == "Already borrowed"
        assert agree(result(got), self.model.next(x))

    @rule()
    def reset(self):
        assert self.real.reset() is None
        self.model.reset()

    @precondition(lambda self: self.NAME in WITH_PERIOD)
    @rule()
    def period(self):
        assert self.real.period() == self.model.period()

    @precondition(lambda self: self.NAME in INDEX_QUERY)
    @rule()
    def index_query(self):
        query = INDEX_QUERY[self.NAME]
        assert getattr(self.real, query)() == getattr(self.model, query)()

    # -- calls that fail and must change nothing

    def probe(self, x):
        """Feeds x to both right after a failed call, so that a change the failure left
        behind shows at once."""
        if self.NAME in BAR_FED:
            got = self.real.next(_quernel.Bar(x, x + 1.0, x - 1.0, x, 1))
            expected = self.model.next(model.Bar(x, x + 1.0, x - 1.0, x, 1))
        else:
            got, expected = self.real.next(x), self.model.next(x)
        assert agree(result(got), expected), ("after a failed call", got, expected)

    @precondition(lambda self: self.NAME not in BAR_FED)
    @rule(bad=st.sampled_from(BAD_NUMBERS), x=prices)
    def refuse_number(self, bad, x):
        argument, error = bad
        with pytest.raises(error) as info:
            self.real.next(argument)
        assert type(info.value) is error
        assert str(info.value).startswith("argument 'input': ") == (error is TypeError)
        self.probe(x)

    @precondition(lambda self: self.NAME in BAR_FED)
    @rule(bad=st.sampled_from(BAD_BARS), x=prices)
    def refuse_non_bar(self, bad, x):
        argument, error = bad
        with pytest.raises(error, match=r"^argument 'input': '.*' object cannot be converted "
                                        r"to 'Bar'$"):
            self.real.next(argument)
        self.probe(x)

    @rule(call=st.sampled_from(BINDING), x=prices)
    def refuse_binding(self, call, x):
        argument = _quernel.Bar(x, x, x, x, 1) if self.NAME in BAR_FED else x
        with pytest.raises(TypeError, match=r"^" + self.NAME + r"\.next\(\) "):
            call(self.real, argument)
        self.probe(x)

    @precondition(lambda self: self.NAME not in BAR_FED)
    @rule(action=st.sampled_from(["next", "reset", "period", "query"]), x=prices,
          through_index=st.booleans())
    def refuse_call_back(self, action, x, through_index):
        if action == "period" and self.NAME not in WITH_PERIOD:
            return
        if action == "query" and self.NAME not in INDEX_QUERY:
            return
        calls = {
            "next": lambda o: o.next(x),
            "reset": lambda o: o.reset(),
            "period": lambda o: o.period(),
            "query": lambda o: getattr(o, INDEX_QUERY[self.NAME])(),
        }
        if through_index:  # CPython's float conversion falls back on __index__
            escaping = ReentrantIndex(self.real, calls[action], value=7)
            if IS_PYPY:  # PyPy's does not: the argument is refused without calling back
                with pytest.raises(TypeError, match=r"^argument 'input': "):
                    self.real.next(escaping)
                assert escaping.seen is None
                self.probe(x)
                return
        else:
            escaping = Reentrant(self.real, calls[action], value=x)
        with pytest.raises(RuntimeError) as info:
            self.real.next(escaping)
        expected = BUSY[1] if action == "query" else BUSY[0]
        assert str(info.value) == expected == escaping.seen
        self.probe(x)

    @precondition(lambda self: self.NAME in WITH_PERIOD)
    @rule(x=prices)
    def refuse_arguments_to_period(self, x):
        with pytest.raises(TypeError):
            self.real.period(1)
        self.probe(x)

    @invariant()
    def still_free(self):
        # no claim outlives its call: an exclusive claim is granted again
        if hasattr(self, "real") and self.NAME in WITH_PERIOD:
            assert self.real.period() == self.model.period()


MACHINE_SETTINGS = settings(
    max_examples=30,
    stateful_step_count=30,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow],
)


def machine_for(name):
    machine = type(f"{name}Machine", (ObjectMachine,), {"NAME": name})
    case = machine.TestCase
    case.settings = MACHINE_SETTINGS
    return case


for _name in STATEFUL:
    globals()[f"Test{_name}"] = machine_for(_name)
