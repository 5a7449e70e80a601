"""quernel.feed: a whole sequence in one call, bit for bit what a loop of next gives."""

import array
import threading

import pytest

import _quernel
import quernel
from cases import (
    BAR_CLASSES,
    CASES,
    STRATEGIES,
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


def rows(case, out):
    """A feed result as a list of plain results, checking its layout."""
    name = case[0]
    assert isinstance(out, memoryview)
    if name == "MovingAverageConvergenceDivergence":
        assert (out.format, out.ndim, out.itemsize) == ("d", 2, 8)
        assert out.shape[1] == 3
        return [tuple(row) for row in out.tolist()]
    if name in STRATEGIES:
        assert (out.format, out.ndim, out.itemsize) == ("B", 1, 1)
    else:
        assert (out.format, out.ndim, out.itemsize) == ("d", 1, 8)
    return out.tolist()


agree = same_results


def feed_any(case, obj, chunk, form):
    """Feeds a chunk of inputs in one of the accepted forms."""
    if case[0] in BAR_CLASSES:
        if form == "bars":
            return quernel.feed(obj, [to_next_input(case, x) for x in chunk])
        high, low, close = ([x[k] for x in chunk] for k in range(3))
        if form == "buffers":
            high, low, close = (array.array("d", s) for s in (high, low, close))
        return quernel.feed(obj, high, low, close)
    if form == "buffers":
        return quernel.feed(obj, array.array("d", chunk))
    if form == "memoryview":
        return quernel.feed(obj, memoryview(array.array("d", chunk)))
    if form == "generator":
        return quernel.feed(obj, (x for x in chunk))
    return quernel.feed(obj, list(chunk))


FORMS = [
    (case, form)
    for case in CASES
    for form in (("list", "buffers", "bars") if case[0] in BAR_CLASSES
                 else ("list", "buffers", "memoryview", "generator"))
]


@pytest.mark.parametrize("case,form", FORMS, ids=lambda p: p if isinstance(p, str) else case_id(p))
def test_feed_matches_next_and_leaves_the_same_state(case, form):
    """Batches of random length, with single next calls and resets in between, against a twin
    fed one input at a time: same results, and the same state after every batch."""
    rng = seeded(case, form)
    batched, single = make(case), make(case)
    for _ in range(25):
        chunk = inputs_for(case, rng, rng.choice([0, 1, 2, 5, 40, 150]))
        agree(rows(case, feed_any(case, batched, chunk, form)), step_by_step(single, case, chunk))
        same_state(case, batched, single)
        if rng.random() < 0.3:
            x = inputs_for(case, rng, 1)[0]
            agree([plain(batched.next(to_next_input(case, x)))], step_by_step(single, case, [x]))
        if rng.random() < 0.1:
            batched.reset()
            single.reset()


def test_a_long_batch_gives_up_the_lock_and_stays_exact():
    """A batch long enough to run without the interpreter's lock gives the same bits; other
    threads meanwhile are refused by the claim, never interleaved."""
    rng = seeded("long")
    xs = [rng.gauss(100.0, 5.0) for _ in range(200_000)]
    obj, twin = _quernel.StandardDeviation(50), _quernel.StandardDeviation(50)
    refusals = []
    done = threading.Event()

    def reader():
        while not done.is_set():
            try:
                quernel.snapshot(obj)
            except RuntimeError as error:
                refusals.append(str(error))

    thread = threading.Thread(target=reader)
    thread.start()
    try:
        out = quernel.feed(obj, array.array("d", xs))
    finally:
        done.set()
        thread.join()
    assert set(refusals) <= {"Already mutably borrowed"}
    agree(out.tolist(), [twin.next(x) for x in xs])
    assert quernel.snapshot(obj) == quernel.snapshot(twin)


def test_other_numbers_are_converted_like_next():
    sma, twin = _quernel.SimpleMovingAverage(3), _quernel.SimpleMovingAverage(3)
    inputs = [1, True, 2.5, 10**20]

    class Price:
        def __float__(self):
            return 4.25

    class Index:
        def __index__(self):
            return 7

    inputs += [Price(), Index()]
    probe = _quernel.SimpleMovingAverage(1)

    def accepted(x):  # the conversion is the interpreter's (PyPy 3.9 takes no __index__ here)
        try:
            probe.next(x)
        except TypeError:
            return False
        return True

    inputs = [x for x in inputs if accepted(x)]
    agree(quernel.feed(sma, inputs).tolist(), [twin.next(x) for x in inputs])
    # buffers of other item types are iterated and converted element by element
    for buffer in (array.array("f", [1.5, 2.5]), array.array("q", [3, -4]), b"\x01\x02"):
        agree(quernel.feed(sma, buffer).tolist(), [twin.next(x) for x in buffer])
    # a strided view is not read in place but converted all the same
    strided = memoryview(array.array("d", [1.0, 9.0, 2.0, 9.0]))[::2]
    agree(quernel.feed(sma, strided).tolist(), [twin.next(1.0), twin.next(2.0)])


def test_an_empty_batch_changes_nothing():
    for case in CASES:
        obj = make(case)
        before = quernel.snapshot(obj)
        if case[0] in BAR_CLASSES:
            assert len(quernel.feed(obj, [], [], [])) == 0
            assert len(quernel.feed(obj, [])) == 0
        else:
            out = quernel.feed(obj, [])
            assert len(out) == 0
        assert quernel.snapshot(obj) == before


def unchanged_after(obj, call):
    before = quernel.snapshot(obj)
    with pytest.raises(BaseException) as info:
        call()
    assert quernel.snapshot(obj) == before
    return info.value


@pytest.mark.parametrize(
    "values,error,text",
    [
        ([1.0, 2.0, "x"], TypeError, "argument 'input': must be real number, not str (at position 2)"),
        ([1.0, None], TypeError, "argument 'input': must be real number, not NoneType (at position 1)"),
        ((1.0, 2.0, 3.0, 10**400), OverflowError, "int too large to convert to float (at position 3)"),
        (iter([1.0, []]), TypeError, "argument 'input': must be real number, not list (at position 1)"),
    ],
)
def test_a_bad_element_names_its_position_and_changes_nothing(values, error, text):
    sma = _quernel.SimpleMovingAverage(2)
    sma.next(5.0)
    raised = unchanged_after(sma, lambda: quernel.feed(sma, values))
    assert type(raised) is error
    assert str(raised) == text


def test_bar_inputs_errors():
    atr = _quernel.AverageTrueRange(3)
    atr.next(_quernel.Bar(0.0, 2.0, 1.0, 1.5, 0))
    bar = _quernel.Bar(0.0, 2.0, 1.0, 1.5, 0)
    raised = unchanged_after(atr, lambda: quernel.feed(atr, [bar, bar, 3.0]))
    assert str(raised) == ("argument 'input': 'float' object cannot be converted to 'Bar' "
                           "(at position 2)")
    raised = unchanged_after(atr, lambda: quernel.feed(atr, [1.0], [1.0, "x"], [1.0, 2.0]))
    assert str(raised) == "argument 'low': must be real number, not str (at position 1 of low)"
    raised = unchanged_after(atr, lambda: quernel.feed(atr, [1.0, 2.0], [1.0], [1.0, 2.0]))
    assert (type(raised), str(raised)) == (
        ValueError, "high, low and close must be equally long, not 2, 1 and 2")
    raised = unchanged_after(atr, lambda: quernel.feed(atr, [1.0], [1.0]))
    assert type(raised) is TypeError and "three sequences (high, low, close)" in str(raised)


@pytest.mark.parametrize(
    "call,error,text",
    [
        (lambda: quernel.feed(_quernel.Bar(1, 2, 0, 1, 5), [1.0]), TypeError,
         "feed() takes an indicator or a strategy of quernel, not 'Bar'"),
        (lambda: quernel.feed(_quernel.Signal.BUY, [1.0]), TypeError,
         "feed() takes an indicator or a strategy of quernel, not 'Signal'"),
        (lambda: quernel.feed(3, [1.0]), TypeError,
         "feed() takes an indicator or a strategy of quernel, not 'int'"),
        (lambda: quernel.feed(_quernel.SimpleMovingAverage(2)), TypeError,
         "feed() takes an object and its inputs (1 arguments given)"),
        (lambda: quernel.feed(_quernel.SimpleMovingAverage(2), [1.0], [2.0]), TypeError,
         "feed() takes one sequence of inputs for SimpleMovingAverage, not 2"),
        (lambda: quernel.feed(_quernel.SimpleMovingAverage(2), "1.0"), TypeError,
         "expected a sequence of numbers, not 'str'"),
        (lambda: quernel.feed(_quernel.SimpleMovingAverage(2), 1.0), TypeError,
         "'float' object is not iterable"),
        (lambda: quernel.feed(_quernel.SimpleMovingAverage(2),
                              memoryview(array.array("d", [1, 2, 3, 4])).cast("B").cast("d", (2, 2))),
         ValueError, "expected a one-dimensional sequence, not a buffer of 2 dimensions"),
    ],
)
def test_wrong_arguments(call, error, text):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == text


def test_the_object_is_claimed_for_the_whole_batch():
    """Code run by an element's conversion cannot reach the object: next, feed, peek and
    snapshot are all refused, and the batch fails without changing anything."""
    sma = _quernel.SimpleMovingAverage(3)
    sma.next(1.0)
    seen = []

    class Sneaky:
        def __init__(self, action):
            self.action = action

        def __float__(self):
            try:
                self.action()
            except RuntimeError as error:
                seen.append(str(error))
                raise
            return 0.0

    for action in (lambda: sma.next(1.0), lambda: quernel.feed(sma, [1.0]),
                   lambda: quernel.peek(sma, 1.0), lambda: quernel.snapshot(sma),
                   lambda: sma.reset(), lambda: sma.period()):
        raised = unchanged_after(sma, lambda: quernel.feed(sma, [2.0, Sneaky(action)]))
        assert type(raised) is RuntimeError
        assert str(raised) in ("Already borrowed (at position 1)",
                               "Already mutably borrowed (at position 1)")
    assert seen == ["Already borrowed", "Already borrowed", "Already mutably borrowed",
                    "Already mutably borrowed", "Already borrowed", "Already borrowed"]
    assert sma.next(4.0) == 2.5  # released afterwards


def test_a_failing_iterator_changes_nothing():
    ema = _quernel.ExponentialMovingAverage(3)
    ema.next(1.0)

    def broken():
        yield 1.0
        raise KeyError("gone")

    raised = unchanged_after(ema, lambda: quernel.feed(ema, broken()))
    assert type(raised) is KeyError


def test_results_go_to_numpy_and_pandas_without_a_copy():
    np = pytest.importorskip("numpy")
    prices = np.cumsum(np.ones(1000)) + 100.0
    sma, twin = _quernel.SimpleMovingAverage(20), _quernel.SimpleMovingAverage(20)
    out = np.asarray(quernel.feed(sma, prices))
    assert out.dtype == np.float64 and out.shape == (1000,)
    agree(out.tolist(), [twin.next(float(x)) for x in prices])
    # the array is a view of the buffer feed made, not a copy of it
    view = quernel.feed(sma, prices[:5])
    arr = np.asarray(view)
    arr[0] = -1.0
    assert view[0] == -1.0
    # a strided or float32 array is converted, the same as next would
    agree(quernel.feed(_quernel.SimpleMovingAverage(3), prices[::3]).tolist(),
          quernel.feed(_quernel.SimpleMovingAverage(3), prices[::3].copy()).tolist())
    f32 = prices.astype(np.float32)
    twin32 = _quernel.SimpleMovingAverage(4)
    agree(quernel.feed(_quernel.SimpleMovingAverage(4), f32).tolist(),
          [twin32.next(x) for x in f32])
    macd = np.asarray(quernel.feed(_quernel.MovingAverageConvergenceDivergence(26, 12, 9), prices))
    assert macd.shape == (1000, 3)
    codes = np.asarray(quernel.feed(_quernel.SimpleMovingAverageCrossover(5, 20), prices))
    assert codes.dtype == np.uint8
    pd = pytest.importorskip("pandas")
    series = pd.Series(prices)
    frame = pd.DataFrame(np.asarray(quernel.feed(_quernel.MovingAverageConvergenceDivergence(
        26, 12, 9), series.to_numpy())), columns=["macd", "signal", "histogram"])
    assert frame.shape == (1000, 3)
