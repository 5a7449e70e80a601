"""Many independent symbols warmed in worker processes: the objects travel there and back by
their snapshots and carry on exactly as objects warmed here would."""

import os
import sys

import quernel  # noqa: F401  (registers the pickle reducers)
from cases import same_results

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "examples"))

import many_symbols  # noqa: E402


def test_parallel_warm_up_equals_serial_and_continues():
    symbols = [f"T{k}" for k in range(12)]
    jobs = [many_symbols.Job(s, many_symbols.history(s, 400), many_symbols.make_indicators())
            for s in symbols]
    warmed = many_symbols.warm_all(jobs, workers=2)
    assert [w.symbol for w in warmed] == symbols
    for job, result in zip(jobs, warmed):
        serial = many_symbols.make_indicators()
        for name, indicator in serial.items():
            for x in job.closes:
                indicator.next(x)
        # the objects sent were not touched here; the ones that came back were warmed there
        for name in serial:
            assert type(result.indicators[name]) is type(serial[name])
            assert result.indicators[name] is not job.indicators[name]
            assert quernel.snapshot(job.indicators[name]) == quernel.snapshot(
                many_symbols.make_indicators()[name])
        # and both continue alike with live prices
        live = many_symbols.history(job.symbol, 460)[400:]
        for name in serial:
            came_back, here = result.indicators[name], serial[name]
            got = [came_back.next(x) for x in live]
            want = [here.next(x) for x in live]
            if name == "cross":
                assert [int(g) for g in got] == [int(w) for w in want]
            else:
                same_results(got, want)
