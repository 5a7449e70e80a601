"""`quernel compute`: indicators over a CSV file of prices or OHLCV bars, written as CSV.

The input is read in chunks and each chunk is fed to every indicator in one batch, so the
objects carry their state from one chunk to the next and memory stays flat however long the
file is. Results are bit for bit what feeding the rows one by one with `next` gives.
"""

from __future__ import annotations

import array
import csv
import os
import sys
from dataclasses import dataclass, field
from typing import IO, Iterator, List, Optional, Sequence, TextIO, Tuple, cast

from . import _native
from .indicators import BARS, RETURNS, Indicator, format_signal, format_value

CHUNK_ROWS = 65536
PROGRESS_FROM_BYTES = 8 << 20  # files at least this large show progress on a terminal

LABEL_NAMES = ("date", "time", "datetime", "timestamp", "day")
PRICE_NAMES = ("close", "price", "value", "last")


class InputError(ValueError):
    """A problem with the input file, its text naming the file and the line."""


@dataclass
class Layout:
    """Where the columns are in each row."""

    label: Optional[int]
    close: int
    high: Optional[int] = None
    low: Optional[int] = None
    width: int = 0  # the fewest fields a row must have
    header: Optional[List[str]] = None


def is_number(text: str) -> bool:
    try:
        float(text)
    except ValueError:
        return False
    return True


def layout_from_header(path: str, header: Sequence[str]) -> Layout:
    names = [h.strip().lower() for h in header]

    def find(*candidates: str) -> Optional[int]:
        for candidate in candidates:
            if candidate in names:
                return names.index(candidate)
        return None

    close = find(*PRICE_NAMES)
    if close is None:
        raise InputError(f"{path}:1: the header names no price column "
                         f"(one of: {', '.join(PRICE_NAMES)})")
    label = find(*LABEL_NAMES)
    high, low = find("high"), find("low")
    used = [i for i in (label, close, high, low) if i is not None]
    return Layout(label, close, high, low, max(used) + 1, list(header))


def layout_from_row(path: str, line: int, row: Sequence[str]) -> Layout:
    """A file without a header: an optional leading label (a date, say), then one price per
    row, or open, high, low, close and optionally volume."""
    label = 0 if row and not is_number(row[0]) else None
    numbers = len(row) - (1 if label is not None else 0)
    first = 1 if label is not None else 0
    if numbers == 1:
        return Layout(label, first, width=len(row))
    if numbers in (4, 5):
        return Layout(label, first + 3, first + 1, first + 2, width=len(row))
    raise InputError(f"{path}:{line}: cannot tell the columns of a row of {numbers} numbers "
                     f"without a header (give one price per row, or open, high, low, close "
                     f"[, volume], or add a header row)")


@dataclass
class Chunk:
    labels: List[str] = field(default_factory=list)
    close: array.array[float] = field(default_factory=lambda: array.array("d"))
    high: array.array[float] = field(default_factory=lambda: array.array("d"))
    low: array.array[float] = field(default_factory=lambda: array.array("d"))

    def __len__(self) -> int:
        return len(self.close)


def read_chunks(path: str, handle: TextIO, bars: bool,
                progress: Optional["Progress"] = None) -> Iterator[Tuple[Layout, Chunk]]:
    reader = csv.reader(handle)
    layout: Optional[Layout] = None
    chunk = Chunk()
    seen = 0
    for row in reader:
        line = reader.line_num
        if not row or all(not cell.strip() for cell in row):
            continue
        if layout is None:
            if not any(is_number(cell) for cell in row):
                layout = layout_from_header(path, row)
            else:
                layout = layout_from_row(path, line, row)
            if bars and (layout.high is None or layout.low is None):
                raise InputError(f"{path}: tr and atr need high, low and close columns")
            if layout.header is not None:
                continue
        if len(row) < layout.width:
            raise InputError(f"{path}:{line}: expected at least {layout.width} fields, "
                             f"found {len(row)}")
        chunk.close.append(number(path, line, row, layout.close, layout))
        if bars:
            assert layout.high is not None and layout.low is not None
            chunk.high.append(number(path, line, row, layout.high, layout))
            chunk.low.append(number(path, line, row, layout.low, layout))
        if layout.label is not None:
            chunk.labels.append(row[layout.label].strip())
        seen += 1
        if len(chunk) >= CHUNK_ROWS:
            if progress is not None:
                progress.update(len(chunk))
            yield layout, chunk
            chunk = Chunk()
    if layout is None or seen == 0:
        raise InputError(f"{path}: no rows of prices")
    if len(chunk):
        if progress is not None:
            progress.update(len(chunk))
        yield layout, chunk


def number(path: str, line: int, row: Sequence[str], index: int, layout: Layout) -> float:
    text = row[index].strip()
    try:
        return float(text)
    except ValueError:
        column = (f"'{layout.header[index]}'" if layout.header is not None
                  else f"{index + 1}")
        raise InputError(f"{path}:{line}: column {column} holds '{text}', not a number") from None


class Progress:
    """A progress line on standard error, redrawn in place: no dependency needed."""

    def __init__(self, stream: IO[str], handle: IO[str], total_bytes: int) -> None:
        self.stream, self.handle, self.total = stream, handle, max(total_bytes, 1)
        self.rows = 0

    def update(self, rows: int) -> None:
        self.rows += rows
        try:
            done = min(self.handle.buffer.tell() / self.total, 1.0)  # type: ignore[attr-defined]
        except (AttributeError, OSError, ValueError):
            done = 0.0
        filled = int(done * 30)
        self.stream.write(f"\rquernel: [{'#' * filled}{'.' * (30 - filled)}] {done:4.0%} "
                          f"{self.rows:,} rows")
        self.stream.flush()

    def finish(self) -> None:
        self.stream.write(f"\rquernel: [{'#' * 30}] 100% {self.rows:,} rows\n")
        self.stream.flush()


def compute(path: str, indicators: Sequence[Indicator], out: TextIO,
            progress: Optional[bool] = None, stderr: TextIO = sys.stderr) -> int:
    """Writes the results of every indicator for every row of `path` to `out`. Returns the
    number of rows. `progress`: True or False, or None to show it for large files on a
    terminal."""
    bars = any(i.kind.input == BARS for i in indicators)
    needs_returns = any(i.kind.input == RETURNS for i in indicators)
    with open(path, newline="", encoding="utf-8-sig") as handle:
        size = os.fstat(handle.fileno()).st_size
        if progress is None:
            progress = size >= PROGRESS_FROM_BYTES and stderr.isatty()
        bar = Progress(stderr, handle, size) if progress else None
        writer = csv.writer(out, lineterminator="\n")
        previous_close: Optional[float] = None
        rows = 0
        header_written = False
        for layout, chunk in read_chunks(path, handle, bars, bar):
            if not header_written:
                head = (["date"] if layout.label is not None else []) + ["close"]
                for indicator in indicators:
                    head.extend(indicator.columns)
                writer.writerow(head)
                header_written = True
            returns: Optional[array.array[float]] = None
            skip_first = False
            if needs_returns:
                returns = array.array("d")
                closes = chunk.close
                if previous_close is None:
                    skip_first = True  # the first row has no return to feed
                else:
                    returns.append(closes[0] / previous_close - 1.0)
                for k in range(1, len(closes)):
                    returns.append(closes[k] / closes[k - 1] - 1.0)
                previous_close = closes[-1]
            columns: List[List[str]] = []
            for indicator in indicators:
                first_missing = skip_first and indicator.kind.input == RETURNS
                columns.extend(results(indicator, chunk, returns, first_missing))
            labels = chunk.labels
            for k in range(len(chunk)):
                row = [labels[k]] if labels else []
                row.append(format_value(chunk.close[k]))
                row.extend(column[k] for column in columns)
                writer.writerow(row)
            rows += len(chunk)
        if bar is not None:
            bar.finish()
    return rows


def results(indicator: Indicator, chunk: Chunk, returns: Optional[array.array[float]],
            skip_first: bool) -> List[List[str]]:
    """The indicator's columns for one chunk, as text."""
    kind = indicator.kind
    if kind.input == BARS:
        out = _native.feed(indicator.obj, chunk.high, chunk.low, chunk.close)
    elif kind.input == RETURNS:
        assert returns is not None
        out = _native.feed(indicator.obj, returns)
    else:
        out = _native.feed(indicator.obj, chunk.close)
    if kind.signals:
        cells = [[format_signal(code) for code in out.tolist()]]
    elif len(kind.suffixes) > 1:
        table = cast(List[List[float]], out.tolist())
        cells = [[format_value(row[c]) for row in table] for c in range(len(kind.suffixes))]
    else:
        cells = [[format_value(v) for v in out.tolist()]]
    if skip_first:
        cells = [[""] + column for column in cells]
    return cells

