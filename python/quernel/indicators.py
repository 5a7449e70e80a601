"""Indicators named on the command line: `sma:20`, `macd:26,12,9`, `smax:10,30` and so on.

Each name maps to a class, the parameters of its constructor (in the constructor's order), what
it is fed (closing prices, bars, or per-bar returns of the close) and the columns it gives.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Callable, List, Sequence, Tuple

from _quernel import (
    AverageTrueRange,
    ExponentialMovingAverage,
    ExponentialMovingAverageCrossover,
    Maximum,
    Minimum,
    MovingAverageConvergenceDivergence,
    RateOfChange,
    RelativeStrengthIndex,
    SharpeRatio,
    SimpleMovingAverage,
    SimpleMovingAverageCrossover,
    StandardDeviation,
    TrueRange,
)

CLOSE, BARS, RETURNS = "close", "bars", "returns"


@dataclass(frozen=True)
class Kind:
    cls: Callable[..., Any]
    parameters: Tuple[str, ...]  # constructor parameters; "rf" is a number, the rest periods
    input: str  # CLOSE, BARS or RETURNS
    suffixes: Tuple[str, ...] = ("",)  # one column per value of the result
    signals: bool = False  # results are Signal codes


KINDS = {
    "sma": Kind(SimpleMovingAverage, ("period",), CLOSE),
    "ema": Kind(ExponentialMovingAverage, ("period",), CLOSE),
    "std": Kind(StandardDeviation, ("period",), CLOSE),
    "min": Kind(Minimum, ("period",), CLOSE),
    "max": Kind(Maximum, ("period",), CLOSE),
    "roc": Kind(RateOfChange, ("period",), CLOSE),
    "rsi": Kind(RelativeStrengthIndex, ("period",), CLOSE),
    "tr": Kind(TrueRange, (), BARS),
    "atr": Kind(AverageTrueRange, ("period",), BARS),
    "macd": Kind(MovingAverageConvergenceDivergence,
                 ("long_period", "short_period", "signal_period"), CLOSE,
                 ("", "_signal", "_histogram")),
    "sharpe": Kind(SharpeRatio, ("period", "rf"), RETURNS),
    "smax": Kind(SimpleMovingAverageCrossover, ("short_period", "long_period"), CLOSE,
                 signals=True),
    "emax": Kind(ExponentialMovingAverageCrossover, ("short_period", "long_period"), CLOSE,
                 signals=True),
}

# Class names work too, in any case: `SimpleMovingAverage:20`.
ALIASES = {kind.cls.__name__.lower(): name for name, kind in KINDS.items()}
SIGNAL_NAMES = ("BUY", "SELL", "HOLD")


class IndicatorError(ValueError):
    """An indicator named on the command line that cannot be made."""


@dataclass
class Indicator:
    name: str  # as the columns are named: sma_20, macd_26_12_9
    kind: Kind
    obj: Any

    @property
    def columns(self) -> List[str]:
        return [self.name + suffix for suffix in self.kind.suffixes]


def parse(text: str) -> Indicator:
    """`sma:20`, `macd:26,12,9`, `sharpe:20,0.0001`, `tr` -> a new indicator."""
    key, _, rest = text.strip().partition(":")
    key = key.strip().lower()
    key = ALIASES.get(key, key)
    if key not in KINDS:
        raise IndicatorError(f"unknown indicator '{text}' (known: {', '.join(KINDS)})")
    kind = KINDS[key]
    values = [v.strip() for v in rest.split(",")] if rest.strip() else []
    if len(values) != len(kind.parameters):
        expected = ", ".join(kind.parameters) or "no parameters"
        raise IndicatorError(f"'{text}': {key} takes {len(kind.parameters)} parameter"
                        f"{'' if len(kind.parameters) == 1 else 's'} ({expected}), "
                        f"not {len(values)}")
    arguments: List[Any] = []
    for parameter, value in zip(kind.parameters, values):
        try:
            arguments.append(float(value) if parameter == "rf" else int(value))
        except ValueError:
            what = "a number" if parameter == "rf" else "a whole number"
            raise IndicatorError(f"'{text}': {parameter} must be {what}, not '{value}'") from None
    try:
        obj = kind.cls(*arguments)
    except (ValueError, OverflowError, TypeError) as error:
        raise IndicatorError(f"'{text}': {error}") from None
    name = "_".join([key] + [v.replace(".", "p").replace("-", "m") for v in values])
    return Indicator(name, kind, obj)


def format_value(value: float) -> str:
    """A result as the shortest text that reads back as the same double."""
    return repr(value)


def format_signal(code: int) -> str:
    return SIGNAL_NAMES[code]


def describe() -> str:
    lines = []
    for name, kind in KINDS.items():
        params = ",".join(kind.parameters)
        lines.append(f"  {name + (':' + params if params else ''):<44} {kind.cls.__name__}")
    return "\n".join(lines)


def needs_bars(indicators: Sequence[Indicator]) -> bool:
    return any(i.kind.input == BARS for i in indicators)
