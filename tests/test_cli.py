"""The command line: the demo, and quernel compute over CSV files."""

import csv
import io
import os
import subprocess
import sys

import pytest

import _quernel
import quernel
from quernel import cli, compute as compute_module
from conftest import same

SAMPLE = os.path.join(os.path.dirname(quernel.__file__), "data", "sample_ohlcv.csv")


def python_env():
    """The environment of a child Python that finds the same _quernel and quernel as this one,
    from any directory."""
    paths = [os.path.dirname(os.path.abspath(_quernel.__file__))]
    paths += [os.path.dirname(os.path.abspath(p)) for p in quernel.__path__]
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(dict.fromkeys(paths))
    return env


def run(argv):
    out, err = io.StringIO(), io.StringIO()
    code = cli.main(argv, out, err)
    return code, out.getvalue(), err.getvalue()


def test_python_m_quernel_runs_the_demo(tmp_path):
    """The README's first command: a table of every indicator, in a fresh process."""
    result = subprocess.run([sys.executable, "-m", "quernel", "--no-plot"], cwd=tmp_path,
                            env=python_env(), capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert "500 bars of bundled sample data" in result.stdout
    assert "SMA crossover (10, 30)" in result.stdout
    assert list(tmp_path.iterdir()) == []


def test_the_demo_matches_next_alone():
    """The demo feeds history in batches and streams the rest; the numbers it shows are those
    of next alone."""
    from quernel import demo

    rows = quernel.load_sample()
    results = demo.run(rows)
    sma, macd, atr = (_quernel.SimpleMovingAverage(20),
                      _quernel.MovingAverageConvergenceDivergence(26, 12, 9),
                      _quernel.AverageTrueRange(14))
    cross = _quernel.SimpleMovingAverageCrossover(10, 30)
    for k, row in enumerate(rows):
        assert same(results["SMA(20)"][k], sma.next(row.close))
        assert same(tuple(results["MACD(26,12,9)"][k]), macd.next(row.close))
        assert same(results["ATR(14)"][k], atr.next(_quernel.Bar(
            row.open, row.high, row.low, row.close, row.volume)))
        assert results["SMAx(10,30)"][k] == cross.next(row.close)


def test_the_demo_draws_a_chart_with_matplotlib(tmp_path):
    pytest.importorskip("matplotlib")
    chart = tmp_path / "chart.png"
    code, out, _ = run(["--plot", str(chart)])
    assert code == 0 and f"chart written to {chart}" in out
    assert chart.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def read_output(text):
    return list(csv.reader(io.StringIO(text)))


def test_compute_on_the_sample_matches_next():
    code, out, err = run(["compute", "--csv", SAMPLE, "-i", "sma:20", "-i", "rsi:14",
                          "-i", "macd:26,12,9", "-i", "atr:14", "-i", "smax:10,30",
                          "-i", "sharpe:20,0.0"])
    assert code == 0, err
    table = read_output(out)
    assert table[0] == ["date", "close", "sma_20", "rsi_14", "macd_26_12_9",
                        "macd_26_12_9_signal", "macd_26_12_9_histogram", "atr_14",
                        "smax_10_30", "sharpe_20_0p0"]
    rows = quernel.load_sample()
    assert len(table) == len(rows) + 1
    sma, rsi = _quernel.SimpleMovingAverage(20), _quernel.RelativeStrengthIndex(14)
    macd, atr = _quernel.MovingAverageConvergenceDivergence(26, 12, 9), _quernel.AverageTrueRange(14)
    cross, sharpe = _quernel.SimpleMovingAverageCrossover(10, 30), _quernel.SharpeRatio(20, 0.0)
    previous = None
    for row, line in zip(rows, table[1:]):
        assert line[0] == row.date and float(line[1]) == row.close
        assert same(float(line[2]), sma.next(row.close))
        assert same(float(line[3]), rsi.next(row.close))
        assert same(tuple(float(v) for v in line[4:7]), macd.next(row.close))
        assert same(float(line[7]), atr.next(_quernel.Bar(0.0, row.high, row.low, row.close, 0)))
        assert line[8] == str(cross.next(row.close))[len("Signal."):]
        if previous is None:
            assert line[9] == ""
        else:
            assert same(float(line[9]), sharpe.next(row.close / previous - 1.0))
        previous = row.close


@pytest.mark.parametrize(
    "text,expected_first",
    [
        ("1.0\n2.0\n3.0\n", ["close", "sma_2"]),
        ("price\n1.0\n2.0\n3.0\n", ["close", "sma_2"]),
        ("2024-01-01,1.0\n2024-01-02,2.0\n2024-01-03,3.0\n", ["date", "close", "sma_2"]),
        ("Date,Open,High,Low,Close,Volume\nd1,9,9,9,1.0,5\nd2,9,9,9,2.0,5\n\nd3,9,9,9,3.0,5\n",
         ["date", "close", "sma_2"]),
        ("d1,9,9,9,1.0\nd2,9,9,9,2.0\nd3,9,9,9,3.0\n", ["date", "close", "sma_2"]),
        ("9,9,9,1.0,100\n9,9,9,2.0,100\n9,9,9,3.0,100\n", ["close", "sma_2"]),
    ],
    ids=["bare prices", "price header", "dated prices", "OHLCV header", "dated OHLC",
         "bare OHLCV"],
)
def test_compute_reads_prices_and_bars_with_or_without_a_header(tmp_path, text, expected_first):
    path = tmp_path / "in.csv"
    path.write_text(text)
    code, out, err = run(["compute", "--csv", str(path), "-i", "sma:2"])
    assert code == 0, err
    table = read_output(out)
    assert table[0] == expected_first
    assert [row[-1] for row in table[1:]] == ["1.0", "1.5", "2.5"]


@pytest.mark.parametrize(
    "text,args,message",
    [
        ("close\n1.0\nabc\n", ["-i", "sma:2"], "in.csv:3: column 'close' holds 'abc', not a number"),
        ("1.0\n2.0\n\n x\n", ["-i", "sma:2"], "in.csv:4: column 1 holds 'x', not a number"),
        ("date,close\nd1,1.0\nd2\n", ["-i", "sma:2"], "in.csv:3: expected at least 2 fields, found 1"),
        ("date,volume\nd1,1\n", ["-i", "sma:2"], "in.csv:1: the header names no price column"),
        ("1,2\n", ["-i", "sma:2"], "in.csv:1: cannot tell the columns of a row of 2 numbers"),
        ("close\n", ["-i", "sma:2"], "in.csv: no rows of prices"),
        ("close\n1.0\n", ["-i", "atr:3"], "in.csv: tr and atr need high, low and close columns"),
        ("close\n1.0\n", ["-i", "foo:3"], "unknown indicator 'foo:3'"),
        ("close\n1.0\n", ["-i", "sma"], "'sma': sma takes 1 parameter (period), not 0"),
        ("close\n1.0\n", ["-i", "sma:x"], "'sma:x': period must be a whole number, not 'x'"),
        ("close\n1.0\n", ["-i", "sma:0"], "'sma:0': Period cannot be 0."),
        ("close\n1.0\n", ["-i", "smax:5,2"],
         "'smax:5,2': Short period must be less than long period."),
    ],
)
def test_compute_errors_name_the_line(tmp_path, text, args, message):
    path = tmp_path / "in.csv"
    path.write_text(text)
    code, out, err = run(["compute", "--csv", str(path)] + args)
    assert code == 2
    assert message in err
    assert err.startswith("quernel compute: error: ")


def test_compute_streams_in_chunks_with_progress(tmp_path, monkeypatch):
    """A file longer than a chunk gives the same results as one batch, writes to --output and
    reports progress on stderr when asked."""
    monkeypatch.setattr(compute_module, "CHUNK_ROWS", 7)
    prices = [100.0 + (k % 13) * 0.25 - (k % 5) for k in range(50)]
    path = tmp_path / "in.csv"
    path.write_text("close\n" + "\n".join(repr(p) for p in prices) + "\n")
    target = tmp_path / "out.csv"
    code, out, err = run(["compute", "--csv", str(path), "-o", str(target), "--progress",
                          "-i", "std:4", "-i", "roc:3", "-i", "sharpe:3,0.01"])
    assert code == 0 and out == ""
    assert "\rquernel: [" in err and "100% 50 rows" in err and "50 rows written to" in err
    table = read_output(target.read_text())
    std, roc, sharpe = (_quernel.StandardDeviation(4), _quernel.RateOfChange(3),
                        _quernel.SharpeRatio(3, 0.01))
    for k, line in enumerate(table[1:]):
        assert same(float(line[1]), std.next(prices[k]))
        assert same(float(line[2]), roc.next(prices[k]))
        if k:
            assert same(float(line[3]), sharpe.next(prices[k] / prices[k - 1] - 1.0))


def test_console_script_help():
    result = subprocess.run([sys.executable, "-m", "quernel", "compute", "--help"],
                            env=python_env(), capture_output=True, text=True, timeout=60)
    assert result.returncode == 0
    assert "macd:long_period,short_period,signal_period" in result.stdout
