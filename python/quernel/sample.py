"""The bundled sample series: 500 daily OHLCV bars of a synthetic instrument."""

import csv
import os
from typing import List, NamedTuple

SAMPLE_PATH = os.path.join(os.path.dirname(__file__), "data", "sample_ohlcv.csv")


class Row(NamedTuple):
    date: str
    open: float
    high: float
    low: float
    close: float
    volume: int


def load_sample() -> List[Row]:
    with open(SAMPLE_PATH, newline="") as handle:
        return [
            Row(r["date"], float(r["open"]), float(r["high"]), float(r["low"]),
                float(r["close"]), int(r["volume"]))
            for r in csv.DictReader(handle)
        ]
