"""How the companion's results show themselves: each result record declares its figures once (what each is,
its unit, its interval), and its repr, its printed table, its HTML table in a notebook, `to_dict` and
`to_frame` all come from that declaration.
"""

from __future__ import annotations

import html
import math
from typing import TYPE_CHECKING, Any, ClassVar, NamedTuple

if TYPE_CHECKING:
    import pandas

CONFIDENCE = 0.95  # the level of the intervals a record shows unless told otherwise


class Figure(NamedTuple):
    """One figure of a result record."""

    key: str  # the record's attribute that holds it, and its key in to_dict
    label: str  # what it is, as a reader says it
    unit: str = ""  # "" for plain numbers, counts and fractions
    interval: str | None = None  # the record's attribute (or method of `confidence`) giving (low, high)
    interval_keys: tuple[str, str] | None = None  # its keys in to_dict (None: "<key>_ci_low", "<key>_ci_high")
    format: str = ".4g"
    short: bool = True  # shown in the one-line repr


def _number(value: Any, format: str) -> str:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return str(value)
    if isinstance(value, int):
        return f"{value:,}"
    if math.isnan(value):
        return "n/a"
    return f"{value:{format}}"


def _telling(format: str, interval: tuple[float, float]) -> str:
    """`format` with as many more digits as it takes to tell the ends of a narrow interval apart (at most six)."""
    precision, kind = int(format[1:-1]), format[-1]
    for more in range(7):
        candidate = f".{precision + more}{kind}"
        if f"{interval[0]:{candidate}}" != f"{interval[1]:{candidate}}":
            return candidate
    return format


class FigureRecord:
    """A result record that shows its declared `FIGURES`; a subclass says what it is about (`_subject`) and
    which plain values belong in `to_dict` before and after the figures (`_fields`, `_details`)."""

    __slots__ = ()
    FIGURES: ClassVar[tuple[Figure, ...]] = ()

    def _subject(self) -> str:
        return ""

    def _fields(self) -> dict[str, Any]:
        return {}

    def _details(self) -> dict[str, Any]:
        return {}

    def _interval_of(self, figure: Figure, confidence: float) -> tuple[float, float] | None:
        if figure.interval is None:
            return None
        found = getattr(self, figure.interval, None)
        if found is None:
            return None
        interval: tuple[float, float] = found(confidence) if callable(found) else found
        return interval

    def figures(self, confidence: float = CONFIDENCE) -> list[tuple[Figure, Any, tuple[float, float] | None]]:
        """Each declared figure with its value and its interval (None where it has none)."""
        return [(figure, getattr(self, figure.key), self._interval_of(figure, confidence)) for figure in self.FIGURES]

    def to_dict(self, confidence: float = CONFIDENCE) -> dict[str, Any]:
        """The result as plain values: its identifying fields, every figure (an interval as ``<key>_ci_low`` and
        ``<key>_ci_high``), then the details."""
        row = self._fields()
        for figure, value, interval in self.figures(confidence):
            row[figure.key] = value
            if interval is not None:
                low, high = figure.interval_keys or (f"{figure.key}_ci_low", f"{figure.key}_ci_high")
                row[low], row[high] = interval
        row.update(self._details())
        return row

    def to_frame(self) -> pandas.DataFrame:
        """The result as a one-row pandas DataFrame (needs pandas)."""
        from .stats import to_frame

        return to_frame([self])

    def _shown(self, figure: Figure, value: Any, interval: tuple[float, float] | None) -> tuple[str, str, str]:
        """The value, the interval ("" for none) and the unit ("" for none or where no number is shown)."""
        unit = figure.unit if isinstance(value, (int, float)) and not math.isnan(value) else ""
        if interval is None or not all(math.isfinite(end) for end in interval):
            return _number(value, figure.format), "", unit
        format = _telling(figure.format, interval)
        return _number(value, format), f"{_number(interval[0], format)} to {_number(interval[1], format)}", unit

    def __repr__(self) -> str:
        parts = []
        for figure, value, interval in self.figures():
            if figure.short:
                text, between, unit = self._shown(figure, value, interval)
                parts.append(
                    f"{figure.label} {text}{' ' + unit if unit else ''}" + (f" [{between}]" if between else "")
                )
        return f"{type(self).__name__}({self._subject()}: {', '.join(parts)})"

    def __str__(self) -> str:
        rows = [(figure.label, *self._shown(figure, value, interval)) for figure, value, interval in self.figures()]
        label_width = max(len(row[0]) for row in rows)
        value_width = max(len(row[1] + (" " + row[3] if row[3] else "")) for row in rows)
        lines = [f"{type(self).__name__}: {self._subject()}"]
        for label, text, between, unit in rows:
            shown = text + (f" {unit}" if unit else "")
            interval = f"  ({CONFIDENCE:.0%} interval {between}{' ' + unit if unit else ''})" if between else ""
            lines.append(f"  {label:<{label_width}}  {shown:<{value_width}}{interval}".rstrip())
        return "\n".join(lines)

    def _repr_html_(self) -> str:
        def row(cells: tuple[str, ...]) -> str:
            return "<tr>" + "".join(f"<td>{html.escape(cell)}</td>" for cell in cells) + "</tr>"

        body = "".join(
            row((figure.label, *self._shown(figure, value, interval))) for figure, value, interval in self.figures()
        )
        head = f"<tr><th>figure</th><th>value</th><th>{CONFIDENCE:.0%} interval</th><th>unit</th></tr>"
        return (
            f"<p>{html.escape(type(self).__name__)}: {html.escape(self._subject())}</p>"
            f'<table class="vorn-table"><thead>{head}</thead><tbody>{body}</tbody></table>'
        )
