"""Statistics of ensembles: exact merging, confidence intervals, independent replicates and tables.

Seeds. Trial i of an ensemble with seed s is keyed by s + i (modulo 2**64), in vorn_core and here alike. So
an ensemble of `runs` trials with seed s is the concatenation of ensembles over consecutive seed ranges,
which is what lets `vorn.parallel` cut it into shards and `merge` put them back together, bit for bit.
The same scheme makes seeds 1 and 2 share all trials but one: seeds taken from ``range(n)`` are not
replicates. `replicate_seeds` gives seeds whose trial ranges do not overlap.

The companion's ensembles (`vorn.parallel.simulate`, sweeps, comparisons, sensitivity) draw the loss of
every trial from a stream keyed by that trial's own seed, so a seed reproduces every statistic exactly,
whatever the number of shards, workers or machines. (``VornEngine.simulate`` draws losses from an
unseeded generator: with a seed it repeats the generation draws, not every loss.)
"""

from __future__ import annotations

import html
import math
import statistics
import types
import warnings
from collections.abc import Iterable, Iterator, Mapping, Sequence
from dataclasses import dataclass, field
from fractions import Fraction
from statistics import NormalDist
from typing import TYPE_CHECKING, Any, NamedTuple, overload

import vorn_core as vc

from . import _native
from ._figures import Figure, FigureRecord

if TYPE_CHECKING:
    import pandas

__all__ = [
    "EnsembleStats",
    "Spread",
    "Table",
    "SeedOverlapWarning",
    "wilson_interval",
    "successes",
    "merge",
    "replicate_seeds",
    "overlapping_seeds",
    "to_dict",
    "to_frame",
]

SEEDS = 2**64


class SeedOverlapWarning(UserWarning):
    """Ensembles meant to be independent share trials (their seed ranges overlap)."""


def wilson_interval(successes: int, runs: int, confidence: float = 0.95) -> tuple[float, float]:
    """Wilson score interval of a success probability after `successes` out of `runs` trials.

    Returns ``(low, high)`` within [0, 1]. With ``runs == 0`` nothing is known and the interval is
    ``(0.0, 1.0)``. Raises ValueError for counts outside ``0 <= successes <= runs`` or a confidence
    outside (0, 1). (E. B. Wilson, J. Am. Stat. Assoc. 22 (1927) 209; values checked against
    R. G. Newcombe, Stat. Med. 17 (1998) 857, table II.)
    """
    if not 0 <= successes <= runs:
        raise ValueError(f"need 0 <= successes <= runs, got {successes} successes in {runs} runs")
    z = z_score(confidence)
    if runs == 0:
        return 0.0, 1.0
    z2 = z * z
    p = successes / runs
    centre = (p + z2 / (2.0 * runs)) / (1.0 + z2 / runs)
    half = z / (1.0 + z2 / runs) * math.sqrt(p * (1.0 - p) / runs + z2 / (4.0 * runs * runs))
    # At the ends the formula's rounding would leave 0 or 1 just outside its own interval.
    low = 0.0 if successes == 0 else max(0.0, centre - half)
    high = 1.0 if successes == runs else min(1.0, centre + half)
    return low, high


def z_score(confidence: float) -> float:
    """The two-sided standard normal quantile of a confidence level (1.96 for 0.95)."""
    if not 0.0 < confidence < 1.0:
        raise ValueError(f"confidence must lie strictly between 0 and 1, got {confidence}")
    return NormalDist().inv_cdf(0.5 + confidence / 2.0)


class Spread(NamedTuple):
    """How the success rates of independent replicates scatter: their number, mean, sample standard
    deviation and the standard error of the mean (sd / sqrt(replicates))."""

    replicates: int
    mean: float
    sd: float
    se: float


def _exact(value: object, what: str) -> Fraction:
    """An exact sum as the native code reports it: an int, a finite float, or a list of finite floats
    (non-overlapping partial sums) whose exact total is the sum."""
    if isinstance(value, bool):
        raise ValueError(f"{what} is a bool")
    if isinstance(value, (int, Fraction)):
        return Fraction(value)
    if isinstance(value, float):
        if not math.isfinite(value):
            raise ValueError(f"{what} is {value!r}")
        return Fraction(value)
    if isinstance(value, (list, tuple)):
        return sum((_exact(part, what) for part in value), Fraction(0))
    raise ValueError(f"{what} is {type(value).__name__}, not a number")


@dataclass(frozen=True, eq=True, repr=False)
class EnsembleStats(FigureRecord):
    """Statistics of an ensemble of trials, kept as exact counts and sums so that pieces merge exactly.

    The fields of ``MonteCarloStats`` are here under the same names (`total_runs`,
    `empirical_success_rate`, `mean_latency_ms`, `mean_fidelity`, `aggregate_congestion_drops`,
    `link_utilization_heatmap`), computed once from the exact sums, so every figure is the same
    however the trials were split. `seed` is the seed of the first trial (None when the statistics were
    merged from pieces that do not form one seed range); `replicates` holds the independent replicates
    that were pooled into these statistics, if any, and then `seed` is the one their seeds come from.
    """

    total_runs: int
    successes: int
    latency_sum_ms: Fraction  # sum of every trial's latency, failed trials included (simulated clock)
    fidelity_sum: Fraction  # sum of the final fidelity of the successful trials
    aggregate_congestion_drops: int  # failed generation attempts over all trials
    link_utilization_heatmap: dict[str, int] = field(default_factory=dict)  # attempts per hop "A->B"
    seed: int | None = None
    replicates: tuple[EnsembleStats, ...] = ()

    FIGURES = (
        Figure("empirical_success_rate", "success rate", "", "interval", ("ci_low", "ci_high"), ".4f"),
        Figure("mean_latency_ms", "mean latency (simulated clock)", "ms"),
        Figure("mean_fidelity", "mean fidelity of successful trials", "", format=".4f"),
        Figure("aggregate_congestion_drops", "failed generation attempts", short=False),
    )

    @property
    def empirical_success_rate(self) -> float:
        """Successful trials / trials (NaN without trials)."""
        return self.successes / self.total_runs if self.total_runs else math.nan

    # The means divide the correctly rounded sums, as vorn._native.simulate does for one call.
    @property
    def mean_latency_ms(self) -> float:
        """Mean latency in ms of simulated time over all trials, failed ones included (NaN without trials)."""
        return float(self.latency_sum_ms) / self.total_runs if self.total_runs else math.nan

    @property
    def mean_fidelity(self) -> float:
        """Mean final fidelity of the successful trials (0.0 without successes)."""
        return float(self.fidelity_sum) / self.successes if self.successes else 0.0

    def interval(self, confidence: float = 0.95) -> tuple[float, float]:
        """The Wilson interval of the success probability (`wilson_interval`)."""
        return wilson_interval(self.successes, self.total_runs, confidence)

    def spread(self) -> Spread | None:
        """The scatter of the replicates' success rates, or None with fewer than two replicates."""
        rates = [replicate.empirical_success_rate for replicate in self.replicates if replicate.total_runs]
        if len(rates) < 2:
            return None
        sd = statistics.stdev(rates)
        return Spread(len(rates), statistics.fmean(rates), sd, sd / math.sqrt(len(rates)))

    def _subject(self) -> str:
        replicates = f" in {len(self.replicates)} replicates" if self.replicates else ""
        return f"{self.total_runs:,} runs from seed {self.seed}{replicates}"

    def _fields(self) -> dict[str, Any]:
        return {"seed": self.seed, "total_runs": self.total_runs, "successes": self.successes}

    def _details(self) -> dict[str, Any]:
        row: dict[str, Any] = {"link_utilization_heatmap": dict(self.link_utilization_heatmap)}
        if self.replicates:
            spread = self.spread()
            row.update(
                replicates=len(self.replicates),
                replicate_sd=math.nan if spread is None else spread.sd,
                replicate_se=math.nan if spread is None else spread.se,
            )
        return row

    def to_monte_carlo_stats(self) -> vc.MonteCarloStats:
        """vorn_core's record of these statistics (without a context)."""
        return vc.MonteCarloStats(
            self.total_runs,
            self.empirical_success_rate,
            self.mean_latency_ms,
            self.mean_fidelity,
            self.aggregate_congestion_drops,
            dict(self.link_utilization_heatmap),
        )

    @classmethod
    def from_piece(cls, piece: object, runs: int, seed: int) -> EnsembleStats:
        """The statistics of what `vorn._native.simulate` returned for `runs` trials from `seed`, checked:
        a result that no ensemble of those trials can have (as from a faulty executor) is a ValueError."""
        if not isinstance(piece, tuple) or len(piece) != 9:
            raise ValueError("it is not the 9-tuple of an ensemble")
        total, rate, _, _, drops, heatmap, won, latency_sum, fidelity_sum = piece
        for value, what in ((total, "total_runs"), (drops, "the congestion drops"), (won, "successes")):
            if isinstance(value, bool) or not isinstance(value, int) or value < 0:
                raise ValueError(f"{what} is {value!r}")
        if total != runs:
            raise ValueError(f"it counts {total} trials")
        if won > runs:
            raise ValueError(f"{won} successes")
        expected_rate = won / runs if runs else math.nan
        if not (rate == expected_rate or (math.isnan(rate) and math.isnan(expected_rate))):
            raise ValueError(f"success rate {rate!r} for {won} successes")
        latency = _exact(latency_sum, "the latency sum")
        fidelity = _exact(fidelity_sum, "the fidelity sum")
        if latency < 0:
            raise ValueError(f"latency sum {float(latency)!r}")
        if not 0 <= fidelity <= won:
            raise ValueError(f"fidelity sum {float(fidelity)!r} for {won} successes")
        if not isinstance(heatmap, dict) or not all(
            isinstance(key, str) and isinstance(value, int) and not isinstance(value, bool) and value >= 0
            for key, value in heatmap.items()
        ):
            raise ValueError("its utilisation is not a dict of non-negative counts")
        return cls(runs, won, latency, fidelity, drops, dict(heatmap), seed)


def empty_stats(seed: int | None = None) -> EnsembleStats:
    """The statistics of no trials: NaN rate and latency, fidelity 0.0, as an ensemble of zero runs has."""
    return EnsembleStats(0, 0, Fraction(0), Fraction(0), 0, {}, seed)


def _counted(stats: vc.MonteCarloStats) -> EnsembleStats:
    """vorn_core statistics as counts; refused when the success rate is no whole number of successes."""
    runs = stats.total_runs
    if runs == 0:
        return empty_stats()
    rate = stats.empirical_success_rate
    won = round(rate * runs) if math.isfinite(rate) else -1
    if not 0 <= won <= runs or won / runs != rate:
        raise ValueError(f"statistics with success rate {rate!r} are no whole number of successes out of {runs} runs")
    return EnsembleStats(
        runs,
        won,
        Fraction(stats.mean_latency_ms) * runs,
        Fraction(stats.mean_fidelity) * won,
        stats.aggregate_congestion_drops,
        stats.link_utilization_heatmap,
    )


def successes(stats: EnsembleStats | vc.MonteCarloStats) -> int:
    """Number of successful trials behind statistics (0 for an ensemble without runs)."""
    if isinstance(stats, EnsembleStats):
        return stats.successes
    return _counted(stats).successes


def merge(pieces: Iterable[EnsembleStats | vc.MonteCarloStats]) -> EnsembleStats:
    """Statistics of one ensemble from ensembles run over consecutive seed ranges, given in seed order
    (or the pooled statistics of independent ensembles).

    Counts and sums add up exactly and every mean is computed once from them, so the result does not
    depend on how the trials were split. ``MonteCarloStats`` pieces carry no sums: their means are
    weighted by runs and successes (exact up to their own rounding), and a success rate that is no whole
    number of successes is refused with ValueError. Heatmap keys come in order of first appearance. The
    seed is the first piece's when the pieces form one consecutive seed range, else None.
    """
    parts = [piece if isinstance(piece, EnsembleStats) else _counted(piece) for piece in pieces]
    heatmap: dict[str, int] = {}
    for part in parts:
        for key, value in part.link_utilization_heatmap.items():
            heatmap[key] = heatmap.get(key, 0) + value
    seed = parts[0].seed if parts else None
    expected = seed
    for part in parts:
        if expected is None or part.seed != expected:
            seed = None
            break
        expected = (expected + part.total_runs) % SEEDS
    return EnsembleStats(
        sum(part.total_runs for part in parts),
        sum(part.successes for part in parts),
        sum((part.latency_sum_ms for part in parts), Fraction(0)),
        sum((part.fidelity_sum for part in parts), Fraction(0)),
        sum(part.aggregate_congestion_drops for part in parts),
        heatmap,
        seed,
    )


def pool(replicates: Sequence[EnsembleStats], seed: int | None) -> EnsembleStats:
    """The pooled statistics of independent replicates, which they keep as `replicates`."""
    pooled = merge(replicates)
    return EnsembleStats(
        pooled.total_runs,
        pooled.successes,
        pooled.latency_sum_ms,
        pooled.fidelity_sum,
        pooled.aggregate_congestion_drops,
        pooled.link_utilization_heatmap,
        seed,
        tuple(replicates),
    )


def replicate_seeds(seed: int, count: int, runs: int) -> list[int]:
    """Seeds of `count` independent replicates of `runs` trials each, derived from `seed`.

    Replicate k starts at base + k * runs (modulo 2**64), where base is a hash (BLAKE2b) of `seed`: the
    replicates are consecutive, non-overlapping seed ranges, and replicates of seed 1 and of seed 2 share
    no trials either (their ranges lie far apart, except with a probability of about
    count * runs / 2**63). The seeds are plain integers: print them, and pass any of them as `seed` to
    run that replicate again. Needs ``runs >= 1`` and ``count * runs <= 2**64`` (ValueError otherwise);
    a list too long for memory is a MemoryError before any seed is made.
    """
    from ._network import count as checked_count

    seed, count, runs = checked_count(seed, "seed"), checked_count(count, "count"), checked_count(runs, "runs")
    return _native.replicate_seeds(seed, count, runs)


def overlapping_seeds(seeds: Sequence[int], runs: int) -> list[tuple[int, int, int]]:
    """Pairs of seeds whose ranges of `runs` trials overlap, as (first seed, second seed, shared trials)."""
    found = []
    for i, first in enumerate(seeds):
        for second in seeds[i + 1 :]:
            gap = min((second - first) % SEEDS, (first - second) % SEEDS)
            if gap < runs:
                found.append((first, second, runs - gap))
    return found


def warn_overlaps(seeds: Sequence[int], runs: int, what: str) -> None:
    """A SeedOverlapWarning when ensembles meant to be independent share trials."""
    pairs = overlapping_seeds(seeds, runs)
    if pairs:
        first, second, shared = pairs[0]
        more = f" (and {len(pairs) - 1} more pairs)" if len(pairs) > 1 else ""
        warnings.warn(
            SeedOverlapWarning(
                f"{what}: seeds {first} and {second} share {shared:,} of their {runs:,} trials{more}; "
                "trial i of seed s is trial 0 of seed s + i: take seeds from vorn.stats.replicate_seeds"
            ),
            stacklevel=3,
        )


def _record_fields(record: object) -> dict[str, Any]:
    members = [
        name
        for name, attribute in vars(type(record)).items()
        if isinstance(attribute, types.GetSetDescriptorType) and not name.startswith("_")
    ]
    return {name: getattr(record, name) for name in members}


def to_dict(item: object) -> dict[str, Any]:
    """A result as a dict of plain values: the companion's results and tables' rows, and the records of
    vorn_core and of the physical model (``MonteCarloStats``, ``SimulationResult``, ``Hop``, ...) by their fields."""
    if isinstance(item, Mapping):
        return dict(item)
    to_dict_method = getattr(item, "to_dict", None)
    if callable(to_dict_method):
        result: dict[str, Any] = to_dict_method()
        return result
    if type(item).__module__ in ("vorn_core", "vorn._native") and not isinstance(item, BaseException):
        fields = _record_fields(item)
        if fields:
            return fields
    raise TypeError(f"cannot turn {type(item).__name__} into a dict of its results")


def to_frame(items: Iterable[object]) -> pandas.DataFrame:
    """A pandas DataFrame with one row per result (see `to_dict`)."""
    from ._extras import require

    frame: pandas.DataFrame = require("pandas", "all", "vorn.stats.to_frame").DataFrame(
        [to_dict(item) for item in items]
    )
    return frame


def _cell(value: object) -> str:
    if isinstance(value, float):
        return f"{value:.6g}"
    if isinstance(value, int) and not isinstance(value, bool):
        return f"{value:,}"
    return str(value)


class Table(Sequence[dict[str, Any]]):
    """Rows of results (dicts with the same keys), as the companion returns them: a sequence of dicts
    that shows as a table in a notebook and turns into a pandas DataFrame with `to_frame`."""

    def __init__(self, rows: Iterable[Mapping[str, Any]], columns: Sequence[str] | None = None) -> None:
        self._rows = [dict(row) for row in rows]
        if columns is None:
            columns = list(dict.fromkeys(key for row in self._rows for key in row))
        self.columns: list[str] = list(columns)

    def __len__(self) -> int:
        return len(self._rows)

    @overload
    def __getitem__(self, index: int) -> dict[str, Any]: ...
    @overload
    def __getitem__(self, index: slice) -> Table: ...
    def __getitem__(self, index: int | slice) -> dict[str, Any] | Table:
        if isinstance(index, slice):
            return Table(self._rows[index], self.columns)
        return self._rows[index]

    def __iter__(self) -> Iterator[dict[str, Any]]:
        return iter(self._rows)

    def __eq__(self, other: object) -> bool:
        if isinstance(other, Table):
            return self._rows == other._rows and self.columns == other.columns
        return NotImplemented

    __hash__ = None  # type: ignore[assignment]

    def column(self, name: str) -> list[Any]:
        """The values of one column, row by row."""
        if name not in self.columns:
            raise KeyError(f"no column {name!r}; the table has: {', '.join(self.columns)}")
        return [row.get(name) for row in self._rows]

    def to_dicts(self) -> list[dict[str, Any]]:
        """The rows as a list of new dicts."""
        return [dict(row) for row in self._rows]

    def to_frame(self) -> pandas.DataFrame:
        """The rows as a pandas DataFrame (needs pandas)."""
        from ._extras import require

        frame: pandas.DataFrame = require("pandas", "all", "Table.to_frame").DataFrame(self._rows, columns=self.columns)
        return frame

    def __repr__(self) -> str:
        cells = [[_cell(row.get(column, "")) for column in self.columns] for row in self._rows]
        widths = [max([len(column)] + [len(line[i]) for line in cells]) for i, column in enumerate(self.columns)]
        lines = ["  ".join(column.rjust(width) for column, width in zip(self.columns, widths)).rstrip()]
        lines += ["  ".join(cell.rjust(width) for cell, width in zip(line, widths)).rstrip() for line in cells]
        return "\n".join(lines)

    def _repr_html_(self) -> str:
        head = "".join(f"<th>{html.escape(column)}</th>" for column in self.columns)
        body = "".join(
            "<tr>" + "".join(f"<td>{html.escape(_cell(row.get(column, '')))}</td>" for column in self.columns) + "</tr>"
            for row in self._rows
        )
        return f'<table class="vorn-table"><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>'
