"""A physical model of repeater chains, at ensemble speed.

The route between two nodes (found as the engine finds it, under the caller's strategy) is a chain of links.
Every link attempts heralded entanglement generation until it holds a pair; a node that holds both of its pairs
swaps them at once; a trial ends when one pair joins the two end nodes. What the model reads from a network:

- a link's ``distance_km``: fibre loss and the herald's travel time;
- a link's ``base_fidelity``: the fidelity F of a fresh pair, a Werner state of parameter w = (4F - 1) / 3;
- a link's ``generation_rate_hz``: the source's period, 1 / rate;
- a satellite link's ``satellite_conditions``: its visibility and weather factor (absent: both 1);
- a node's ``memory_lifetime_t2`` (seconds): a stored qubit's share of w decays as exp(-t / T2).

Formulas (units: km, ms, s for T2, dB):

- fibre transmissivity 10^(-attenuation_db_km * distance_km / 10); satellite 10^(-satellite_loss_db / 10)
  * visibility * weather_factor; one attempt succeeds with p = efficiency * transmissivity;
- an attempt lasts max(1000 / generation_rate_hz, distance_km / signal_speed_km_ms) ms;
- a swap succeeds with probability ``swap_success_probability`` and gives w = w1 * w2; a failed swap loses both
  pairs and every link under them attempts again;
- a delivered pair of parameter w has fidelity (1 + 3w) / 4 and BB84 error rate (1 - w) / 2.

Seeds: trial i of seed s is trial 0 of seed s + i (modulo 2**64), and its draws depend on that seed alone, so
ensembles over consecutive seed ranges, run anywhere, merge (`merge`) into the ensemble of the whole range, bit
for bit. Seeds s and s + 1 therefore share all trials but one: take replicates from ranges that do not overlap.

    import vorn.physics as physics
    stats = physics.simulate(nodes, links, "N0", "N3", 1_000_000, physics.PhysicalModel(cutoff_ms=50.0), seed=1)
    stats.mean_waiting_time_ms, stats.mean_fidelity, stats.secret_key_rate_bps
"""

from __future__ import annotations

import array
import math
import operator
import statistics
import struct
import time
import types
from collections.abc import Iterable, Sequence
from concurrent.futures import Executor
from fractions import Fraction
from typing import TYPE_CHECKING, Any, NamedTuple

import vorn_core as vc

from . import _jobs, _native, parallel
from ._figures import Figure, FigureRecord

if TYPE_CHECKING:
    import pandas

__all__ = [
    "PhysicalModel",
    "Parameter",
    "parameters",
    "Hop",
    "Route",
    "PhysicsStats",
    "Trials",
    "route",
    "simulate",
    "trials",
    "merge",
    "pooled",
    "optimize",
    "Optimum",
    "repeaterless_bound",
    "binary_entropy",
    "Demand",
    "DemandStats",
    "LinkStats",
    "NodeStats",
    "NetworkStats",
    "network",
    "LoadPoint",
    "network_load",
]

SEEDS = 2**64
_UNIT = 2**1074  # native sums count units of 2**-1074, the smallest subnormal double
_Z95 = _native.NORMAL_QUANTILE_95  # two-sided 95 % quantile of the standard normal distribution
QUANTILES = _native.WAITING_TIME_QUANTILES
_HISTOGRAM_SHIFT = 45  # a waiting-time bin holds the doubles whose bit patterns share all bits above this


# The model's records are described once, in the native module: constructor, attributes (read only), pickling,
# copying, equality and hashing come from there, with the meaning and unit of every field (`help(PhysicalModel)`).
# Out-of-range parameters are refused with a ValueError naming the parameter and the value.
PhysicalModel = _native.PhysicalModel
Hop = _native.Hop
Route = _native.Route


class Parameter(NamedTuple):
    """One parameter of `PhysicalModel`, as its description gives it."""

    name: str
    unit: str  # "" for plain numbers and fractions
    meaning: str
    default: Any  # None: the parameter is off unless set


def parameters() -> tuple[Parameter, ...]:
    """The parameters of `PhysicalModel`, in the order of its description: what a sweep can vary beside the
    network, and the options of ``vorn physics``."""
    defaults = PhysicalModel()
    return tuple(
        Parameter(entry["name"], entry["unit"], entry["meaning"], getattr(defaults, entry["name"]))
        for entry in _native.model_inputs()
        if entry["record"] == "model"
    )


def replaced(record: Any, **changes: Any) -> Any:
    """A described record of vorn._native (or the companion's class over one) with some fields changed; the
    constructor checks the new values."""
    return type(record)(**{**{name: getattr(record, name) for name in _field_names(type(record))}, **changes})


# Trials stays a Python record: its arrays are buffers over the native doubles (16 bytes a trial), which the
# attributes of a described record would copy into new lists on every read.
class Trials(NamedTuple):
    """Trial by trial: the waiting time in ms (when the end-to-end pair was there, or when the trial was given
    up) and the delivered fidelity (NaN where nothing was delivered)."""

    path: tuple[str, ...]
    seed: int
    waiting_time_ms: array.array[float]
    fidelity: array.array[float]

    def __repr__(self) -> str:
        route = " - ".join(self.path) if self.path else "no route"
        return f"Trials({route}, {len(self.waiting_time_ms):,} trials from seed {self.seed})"

    def to_dict(self) -> dict[str, Any]:
        """The route, the seed and the trials' outcomes as lists."""
        return {
            "path": list(self.path),
            "seed": self.seed,
            "waiting_time_ms": self.waiting_time_ms.tolist(),
            "fidelity": self.fidelity.tolist(),
        }

    def to_frame(self) -> pandas.DataFrame:
        """One row per trial, in trial order: its seed, waiting time (ms) and fidelity (needs pandas)."""
        from ._extras import require

        frame: pandas.DataFrame = require("pandas", "all", "Trials.to_frame").DataFrame(
            {
                "seed": [(self.seed + index) % SEEDS for index in range(len(self.waiting_time_ms))],
                "waiting_time_ms": self.waiting_time_ms,
                "fidelity": self.fidelity,
            }
        )
        return frame


def _count(value: Any, name: str) -> int:
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name}: must be an integer, got {value!r}") from None
    if not 0 <= number < SEEDS:
        raise ValueError(f"{name}: must be a non-negative integer below 2**64, got {number}")
    return number


def _seed(seed: int | None) -> int:
    return time.time_ns() % SEEDS if seed is None else _count(seed, "seed")


class _Request(NamedTuple):
    nodes: tuple[vc.NodeDefinition, ...]  # records travel to workers as they are: they pickle
    links: tuple[vc.LinkDefinition, ...]
    from_node: str
    to: str
    model: PhysicalModel
    strategy: int | None

    def arguments(self) -> tuple[Any, Any, str, str]:
        return (self.nodes, self.links, self.from_node, self.to)

    def with_model(self, **changes: float | str | None) -> _Request:
        """The request under the model with some parameters changed (checked by the model)."""
        return self._replace(model=replaced(self.model, **changes))

    def task(self, runs: int, seed: int) -> _jobs.Task:
        """The ensemble of `runs` trials from `seed`, as the job runner takes it."""
        return _jobs.Task(_shard, (self,), runs, seed)

    def piece(self, result: object, runs: int, seed: int) -> PhysicsStats:
        """The statistics of what a shard of `task` returned for `runs` trials from `seed`; a result that no such
        shard can have (as from a faulty executor) is a ValueError, which the job runner reports."""
        if not isinstance(result, _native.PhysicsStats):
            raise ValueError(f"it is a {type(result).__name__}, not PhysicsStats")
        asked = (runs, seed, self.model)
        if (result.runs, result.seed, result.model) != asked:
            raise ValueError(f"it holds {result.runs} trials from seed {result.seed} under {result.model!r}")
        if result.path and (result.path[0], result.path[-1]) != (self.from_node, self.to):
            raise ValueError(f"its route {list(result.path)!r} is not from {self.from_node!r} to {self.to!r}")
        _check_counts(result)
        return _stats(result)


def _request(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    model: PhysicalModel | None,
    strategy: vc.StrategyType | None,
) -> _Request:
    model, code = _settings(model, strategy)
    return _Request(tuple(nodes), tuple(links), from_node, to, model, code)


def _settings(model: PhysicalModel | None, strategy: vc.StrategyType | None) -> tuple[PhysicalModel, int | None]:
    """The model (None: the defaults) and the strategy's code (None: the engine's default), checked."""
    if model is None:
        model = PhysicalModel()
    elif not isinstance(model, PhysicalModel):
        raise TypeError(f"model: must be a PhysicalModel or None, got {model!r}")
    if strategy is not None and not isinstance(strategy, vc.StrategyType):
        raise TypeError(f"strategy: must be a StrategyType or None, got {strategy!r}")
    return model, None if strategy is None else strategy.to_u8()


def route(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    model: PhysicalModel | None = None,
    strategy: vc.StrategyType | None = None,
) -> Route:
    """The route between two nodes (as `VornEngine` finds it; `strategy` None means HighestFidelity) and the
    model's figures for each of its links. Refuses unknown nodes, the same node at both ends, and figures the
    model cannot use (for example a fidelity outside [0, 1], or a link that never succeeds) with ValueError."""
    request = _request(nodes, links, from_node, to, model, strategy)
    return _native.physics_route(*request.arguments(), request.model, request.strategy)


def _shard(request: _Request, runs: int, seed: int) -> _native.PhysicsStats:
    return _native.physics_simulate(*request.arguments(), runs, request.model, request.strategy, seed)


def _ratio(numerator: int | float, denominator: int) -> float:
    if isinstance(numerator, float):  # an infinite sum
        return numerator
    return numerator / denominator if denominator else math.nan


def binary_entropy(p: float) -> float:
    """h(p) = -p log2 p - (1 - p) log2(1 - p), with h(0) = h(1) = 0."""
    return float(_native.binary_entropy(p))


def repeaterless_bound(transmissivity: float) -> float:
    """The most secret key (or entanglement) per use of a lossy channel of this transmissivity that any protocol
    without repeaters can reach: -log2(1 - transmissivity) bits (Pirandola, Laurenza, Ottaviani, Banchi 2017)."""
    if not 0.0 <= transmissivity <= 1.0:
        raise ValueError(f"transmissivity: must be within [0, 1], got {transmissivity!r}")
    return -math.log1p(-transmissivity) / math.log(2.0) if transmissivity < 1.0 else math.inf


class PhysicsStats(FigureRecord, _native.PhysicsStats):
    """The statistics of an ensemble, kept as exact sums so that ensembles merge bit for bit (`merge`).

    Waiting times are in ms of simulated time from the start of a trial until its end-to-end pair is there;
    means, intervals and quantiles of the waiting time and the fidelity are over the delivered trials. The
    fields (the route's `path`, the `model`, the `seed`, `runs`, `delivered`, the exact sums of the waiting time
    and the fidelity and of their squares in units of 2**-1074, the histogram's `waiting_time_ms_bins`) are the
    native record's, described there; the figures derived from them are here.
    """

    __slots__ = ("_replicates",)

    FIGURES = (
        Figure("mean_waiting_time_ms", "mean waiting time", "ms", "waiting_time_ms_interval"),
        Figure("mean_fidelity", "mean fidelity", "", "fidelity_interval", format=".4f"),
        Figure("secret_key_rate_bps", "secret-key rate", "bit/s", "secret_key_rate_bps_interval"),
        Figure("delivery_rate", "delivered share of trials", format=".4f", short=False),
        Figure("qber", "QBER", format=".4f", short=False),
        Figure("secret_fraction", "secret fraction", format=".4f", short=False),
    )

    @property
    def mean_waiting_time_ms(self) -> float:
        return _ratio(self.waiting_time_ms_sum, _UNIT * self.delivered)

    @property
    def waiting_time_ms_stderr(self) -> float:
        return _stderr(self.waiting_time_ms_sum, self.waiting_time_ms_squares, self.delivered)

    @property
    def mean_fidelity(self) -> float:
        return _ratio(self.fidelity_sum, _UNIT * self.delivered)

    @property
    def fidelity_stderr(self) -> float:
        return _stderr(self.fidelity_sum, self.fidelity_squares, self.delivered)

    @property
    def waiting_time_ms_interval(self) -> tuple[float, float]:
        """95 % normal interval of the mean waiting time."""
        return _interval(self.mean_waiting_time_ms, self.waiting_time_ms_stderr)

    @property
    def fidelity_interval(self) -> tuple[float, float]:
        """95 % normal interval of the mean fidelity."""
        return _interval(self.mean_fidelity, self.fidelity_stderr)

    @property
    def delivery_rate(self) -> float:
        """Share of the trials that delivered a pair (1.0 unless `max_waiting_time_ms` gives some up)."""
        return self.delivered / self.runs if self.runs else math.nan

    @property
    def replicates(self) -> tuple[PhysicsStats, ...]:
        """The independent replicates pooled into this ensemble (`simulate(..., replicates=)`), or none. They are
        kept here only: a copy or a pickle holds the pooled figures alone."""
        return getattr(self, "_replicates", ())

    @property
    def error_rate_z(self) -> float:
        """Mean e_Z of the delivered pairs: the share of bits that differ when both ends measure Z (an X or Y
        error), the error rate of the key basis."""
        return _ratio(self.error_rate_z_sum, _UNIT * self.delivered)

    @property
    def error_rate_x(self) -> float:
        """Mean e_X of the delivered pairs: the same when both ends measure X (a Z or Y error)."""
        return _ratio(self.error_rate_x_sum, _UNIT * self.delivered)

    @property
    def qber(self) -> float:
        """The error rate of the key basis, `error_rate_z`."""
        return self.error_rate_z

    @property
    def secret_fraction(self) -> float:
        """Asymptotic secret fraction max(0, 1 - h(e_Z) - h(e_X)) (Shor and Preskill 2000; Lo, Chau and
        Ardehali 2005 for unequal rates in the two bases); 0 without delivered pairs."""
        return max(0.0, _key_fraction(self.error_rate_z, self.error_rate_x)) if self.delivered else 0.0

    @property
    def delivered_pairs_per_second(self) -> float:
        """Delivered pairs per second of simulated time: delivered over the time of all trials (a trial given
        up counts `max_waiting_time_ms`)."""
        return _delivery(self)[0]

    @property
    def delivered_pairs_per_second_interval(self) -> tuple[float, float]:
        """95 % interval of `delivered_pairs_per_second` (the ratio of delivered pairs to time, by the delta
        method; from the replicates' spread when there are at least two)."""
        if len(self.replicates) > 1:
            return _spread_interval([piece.delivered_pairs_per_second for piece in self.replicates])
        rate, stderr = _delivery(self)
        return (max(0.0, rate - _Z95 * stderr), rate + _Z95 * stderr)

    @property
    def secret_key_rate_bps(self) -> float:
        """Secret bits per second of simulated time: `delivered_pairs_per_second` times `secret_fraction`."""
        fraction = self.secret_fraction
        return self.delivered_pairs_per_second * fraction if fraction else 0.0

    @property
    def secret_key_rate_bps_interval(self) -> tuple[float, float]:
        """95 % interval of `secret_key_rate_bps`: from the replicates' spread when there are at least two,
        else by the delta method from the delivered count, the waiting times and the two error rates (whose
        standard errors add as if fully correlated)."""
        if len(self.replicates) > 1:
            return _spread_interval([piece.secret_key_rate_bps for piece in self.replicates])
        if not self.delivered:
            return (0.0, 0.0)
        rate, rate_stderr = _delivery(self)
        fraction = _key_fraction(self.error_rate_z, self.error_rate_x)
        bases = ((self.error_rate_z, self.error_rate_z_stderr), (self.error_rate_x, self.error_rate_x_stderr))
        fraction_stderr = sum(_entropy_slope(error) * stderr for error, stderr in bases if stderr > 0.0)
        spread = math.hypot(max(0.0, fraction) * rate_stderr, rate * fraction_stderr)
        return (max(0.0, rate * fraction - _Z95 * spread), max(0.0, rate * fraction + _Z95 * spread))

    @property
    def error_rate_z_stderr(self) -> float:
        return _stderr(self.error_rate_z_sum, self.error_rate_z_squares, self.delivered)

    @property
    def error_rate_x_stderr(self) -> float:
        return _stderr(self.error_rate_x_sum, self.error_rate_x_squares, self.delivered)

    def waiting_time_ms_quantile(self, q: float) -> float:
        """The q-quantile of the delivered trials' waiting times, as the middle of its histogram bin (bins are
        at most 1/128 of their lower edge wide, so within 0.4 %); NaN without delivered trials."""
        if not 0.0 <= q <= 1.0:
            raise ValueError(f"q: must be within [0, 1], got {q!r}")
        if not self.delivered:
            return math.nan
        rank = max(1, math.ceil(q * self.delivered))
        seen = 0
        for low, high, count in self.waiting_time_ms_histogram():
            seen += count
            if seen >= rank:
                return low + (high - low) / 2 if math.isfinite(high) else low
        raise AssertionError("bins hold fewer trials than were delivered")

    @property
    def waiting_time_ms_quantiles(self) -> dict[float, float]:
        return {q: self.waiting_time_ms_quantile(q) for q in QUANTILES}

    def waiting_time_ms_histogram(self) -> list[tuple[float, float, int]]:
        """(lower edge, upper edge, count) of every bin that holds a delivered trial, edges in ms."""
        return [(_bin_edge(bin), _bin_edge(bin + 1), count) for bin, count in self.waiting_time_ms_bins]

    def _subject(self) -> str:
        route = " - ".join(self.path) if self.path else "no route"
        seeds = "pooled" if self.seed is None else f"from seed {self.seed}"
        return f"{route}, {self.runs:,} trials {seeds}"

    def _fields(self) -> dict[str, Any]:
        return {"path": list(self.path), "seed": self.seed, "runs": self.runs, "delivered": self.delivered}

    def _details(self) -> dict[str, Any]:
        return {
            "waiting_time_ms_stderr": self.waiting_time_ms_stderr,
            "fidelity_stderr": self.fidelity_stderr,
            "error_rate_z": self.error_rate_z,
            "error_rate_x": self.error_rate_x,
            "delivered_pairs_per_second": self.delivered_pairs_per_second,
            **{f"waiting_time_ms_q{round(q * 100):02d}": value for q, value in self.waiting_time_ms_quantiles.items()},
            **{f"model_{name}": getattr(self.model, name) for name in _MODEL_FIELDS},
        }


def _key_fraction(error_z: float, error_x: float) -> float:
    """1 - h(e_Z) - h(e_X), not clipped at 0."""
    return float(_native.secret_fraction(error_z, error_x))


def _entropy_slope(error: float) -> float:
    """|h'(e)| = |log2((1 - e) / e)|, the key fraction's sensitivity to one basis's error rate."""
    return abs(math.log2((1.0 - error) / error)) if 0.0 < error < 1.0 else math.inf


def _delivery(stats: PhysicsStats) -> tuple[float, float]:
    """Delivered pairs per second and its standard error. The rate is the ratio of the delivered count D to the
    total time T of n trials; by the delta method its variance is n s^2 / T^2, with s^2 the sample variance of
    d - (D / T) t over the trials (d = 1 when delivered, t its waiting time or the limit)."""
    undelivered = stats.runs - stats.delivered
    limit = stats.model.max_waiting_time_ms
    if not stats.delivered or (undelivered and limit is None) or isinstance(stats.waiting_time_ms_sum, float):
        return (0.0, math.nan)
    given_up = Fraction(limit) if undelivered and limit is not None else Fraction(0)
    total = Fraction(stats.waiting_time_ms_sum, _UNIT) + undelivered * given_up
    if total == 0:
        return (math.inf, math.nan)
    rate = Fraction(stats.delivered) / total
    if stats.runs < 2 or isinstance(stats.waiting_time_ms_squares, float):
        return (float(rate * 1000), math.nan)
    squares = Fraction(stats.waiting_time_ms_squares, _UNIT) + undelivered * given_up * given_up
    residual = stats.delivered - 2 * rate * Fraction(stats.waiting_time_ms_sum, _UNIT) + rate * rate * squares
    variance = stats.runs * residual / (stats.runs - 1) / (total * total)
    return (float(rate * 1000), 1000 * math.sqrt(max(0.0, float(variance))))


def _spread_interval(values: list[float]) -> tuple[float, float]:
    """95 % normal interval of the mean of independent replicates' values."""
    mean = math.fsum(values) / len(values)
    stderr = statistics.stdev(values) / math.sqrt(len(values))
    return (max(0.0, mean - _Z95 * stderr), mean + _Z95 * stderr)


def _bin_edge(bin: int) -> float:
    bits = bin << _HISTOGRAM_SHIFT
    return math.inf if bits >= 0x7FF0000000000000 else struct.unpack("<d", struct.pack("<Q", bits))[0]


def _stderr(total: int | float, squares: int | float, count: int) -> float:
    if count < 2:
        return math.nan
    if isinstance(total, float) or isinstance(squares, float):
        return math.inf
    # Sample variance (n Σx² - (Σx)²) / (n (n - 1)), over n, from the exact sums.
    spread = Fraction(count * squares * _UNIT - total * total, _UNIT * _UNIT * count * count * (count - 1))
    return math.sqrt(max(0.0, float(spread)))


def _interval(mean: float, stderr: float) -> tuple[float, float]:
    return (mean - _Z95 * stderr, mean + _Z95 * stderr)


def _field_names(cls: type) -> tuple[str, ...]:
    """The fields of a native record (or of the companion's class over one), in the order of its description."""
    native = next(base for base in cls.__mro__ if base.__module__ == "vorn._native")
    return tuple(name for name, value in vars(native).items() if isinstance(value, types.GetSetDescriptorType))


_MODEL_FIELDS = _field_names(PhysicalModel)
_STATS_FIELDS = _field_names(_native.PhysicsStats)


def _stats(native: _native.PhysicsStats) -> PhysicsStats:
    """The same record as the companion's class, with its derived figures."""
    return PhysicsStats(**{name: getattr(native, name) for name in _STATS_FIELDS})


def _check_counts(stats: _native.PhysicsStats) -> None:
    """A ValueError unless the counts and sums are those of some ensemble: sums over the delivered trials of
    waiting times and of fidelities within [0, 1], a histogram that holds each delivered trial once."""
    delivered = stats.delivered
    if delivered > stats.runs:
        raise ValueError(f"{delivered} delivered out of {stats.runs} runs")
    for total, what, most in (
        (stats.waiting_time_ms_sum, "waiting-time sum", math.inf if delivered else 0),
        (stats.waiting_time_ms_squares, "waiting-time squares", math.inf if delivered else 0),
        (stats.fidelity_sum, "fidelity sum", _UNIT * delivered),
        (stats.fidelity_squares, "fidelity squares", _UNIT * delivered),
    ):
        if total > most:
            raise ValueError(f"{what} {total / _UNIT!r} for {delivered} delivered trials")
    bins = stats.waiting_time_ms_bins
    if sum(count for _, count in bins) != delivered or any(
        count == 0 or bin >= after for (bin, count), (after, _) in zip(bins, (*bins[1:], (math.inf, 0)))
    ):
        raise ValueError(f"its waiting-time histogram does not hold the {delivered} delivered trials once each")


def merge(pieces: Iterable[_native.PhysicsStats]) -> PhysicsStats:
    """One ensemble from ensembles of the same route and model. Pieces over consecutive seed ranges, in seed
    order, give exactly the ensemble of the whole range and its seed is the first piece's; other pieces pool as
    independent ensembles, with seed None. Pieces whose counts no ensemble can have are refused (ValueError)."""
    pieces = list(pieces)
    if not pieces:
        raise ValueError("pieces: nothing to merge")
    first = pieces[0]
    for index, piece in enumerate(pieces):
        if not isinstance(piece, _native.PhysicsStats):
            raise TypeError(f"pieces[{index}]: must be PhysicsStats, got {type(piece).__name__}")
        if piece.path != first.path or piece.model != first.model:
            raise ValueError("pieces: ensembles of different routes or models do not merge")
        try:
            _check_counts(piece)
        except ValueError as error:
            raise ValueError(f"pieces[{index}]: no ensemble has {error}") from None
    seed = first.seed
    for before, after in zip(pieces, pieces[1:]):
        if seed is None or before.seed is None or after.seed != (before.seed + before.runs) % SEEDS:
            seed = None
            break
    bins: dict[int, int] = {}
    for piece in pieces:
        for bin, count in piece.waiting_time_ms_bins:
            bins[bin] = bins.get(bin, 0) + count
    return PhysicsStats(
        first.path,
        first.model,
        seed,
        sum(piece.runs for piece in pieces),
        sum(piece.delivered for piece in pieces),
        sum(piece.waiting_time_ms_sum for piece in pieces),
        sum(piece.waiting_time_ms_squares for piece in pieces),
        sum(piece.fidelity_sum for piece in pieces),
        sum(piece.fidelity_squares for piece in pieces),
        tuple(sorted(bins.items())),
        error_rate_z_sum=sum(piece.error_rate_z_sum for piece in pieces),
        error_rate_z_squares=sum(piece.error_rate_z_squares for piece in pieces),
        error_rate_x_sum=sum(piece.error_rate_x_sum for piece in pieces),
        error_rate_x_squares=sum(piece.error_rate_x_squares for piece in pieces),
    )


def simulate(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    runs: int,
    model: PhysicalModel | None = None,
    strategy: vc.StrategyType | None = None,
    seed: int | None = None,
    *,
    executor: Executor | None = None,
    shards: int | None = None,
    workers: int | None = None,
    progress: bool | None = None,
    replicates: int | Sequence[int] | None = None,
) -> PhysicsStats:
    """`runs` trials of the model on the route from `from_node` to `to` (see `route`), as exact statistics.

    - `model`: the parameters (None: `PhysicalModel()`); `strategy`: route choice (None: HighestFidelity).
    - `seed`: trial i uses seed + i; None takes one from the clock (kept in the result's `seed`).
    - `replicates`: None for one ensemble; a count k for k independent replicates of `runs` trials each
      (seeds from ``vorn.stats.replicate_seeds(seed, k, runs)``), or a sequence of seeds (a
      SeedOverlapWarning when their trial ranges overlap). The result pools them exactly and keeps each in
      ``stats.replicates``; the rates' intervals then come from their spread.
    - `executor`: any `concurrent.futures.Executor` (a process pool; for a dask.distributed cluster
      ``client.get_executor()``) to run the ensemble in `shards` pieces (default: pieces of about half a second,
      at least four per worker); `workers` without an executor runs them on a local process pool of that many
      processes (a script that does so needs the usual ``if __name__ == "__main__":`` guard); with neither, the
      trials run here (in `shards` pieces one after another, if given). The result is the same bit for bit
      however it is cut.
    - `progress`: a progress bar over the trials, with rate and time to go (None: when tqdm is there and the
      output is a terminal or a notebook, once the run has lasted half a second; False: never).

    Without a route between the nodes no trial delivers (`path` is empty). Ctrl-C stops the run with
    KeyboardInterrupt. A shard's result that no ensemble can have (a faulty executor) is a RuntimeError.
    """
    runs = _count(runs, "runs")
    base_seed = _seed(seed)
    request = _request(nodes, links, from_node, to, model, strategy)
    if workers is not None and _count(workers, "workers") == 0:
        raise ValueError("workers: at least one worker is needed, got 0")
    if shards is not None and _count(shards, "shards") == 0:
        raise ValueError("shards: at least one shard is needed, got 0")
    if executor is not None or workers is not None or shards is not None:
        # The route and its figures are checked here, so that a refusal is raised once and at once.
        _native.physics_route(*request.arguments(), request.model, request.strategy)

    seeds = parallel.replicate_starts(base_seed, runs, replicates)
    starts = seeds or [base_seed]

    def run_on(pool: Executor | None) -> list[PhysicsStats]:
        tasks = [request.task(runs, start) for start in starts]
        total = runs * len(starts)
        results = _jobs.run_tasks(tasks, total, request.piece, executor=pool, shards=shards, progress=progress)
        return [
            merge(pieces) if pieces else request.piece(_shard(request, 0, start), 0, start)
            for pieces, start in zip(results, starts)
        ]

    if executor is None and workers is not None:
        with _jobs.process_pool(workers) as pool:
            ensembles = run_on(pool)
    else:
        ensembles = run_on(executor)
    if seeds is None:
        return ensembles[0]
    return pooled(ensembles, base_seed)


def pooled(replicates: Sequence[PhysicsStats], seed: int) -> PhysicsStats:
    """The pooled statistics of independent replicates, which they keep as `replicates`."""
    stats: PhysicsStats = replaced(merge(replicates), seed=seed)
    object.__setattr__(stats, "_replicates", tuple(replicates))
    return stats


def trials(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    runs: int,
    model: PhysicalModel | None = None,
    strategy: vc.StrategyType | None = None,
    seed: int | None = None,
) -> Trials:
    """The outcome of every trial of `simulate` with the same arguments, in trial order (16 bytes a trial)."""
    runs = _count(runs, "runs")
    base_seed = _seed(seed)
    request = _request(nodes, links, from_node, to, model, strategy)
    path, waiting, fidelity = _native.physics_trials(
        *request.arguments(), runs, request.model, request.strategy, base_seed
    )
    waiting_times, fidelities = array.array("d"), array.array("d")
    waiting_times.frombytes(waiting)
    fidelities.frombytes(fidelity)
    return Trials(tuple(path), base_seed, waiting_times, fidelities)


class Optimum(NamedTuple):
    """The best setting `optimize` found.

    - `parameter`, `value`: the parameter searched and its best value.
    - `objective`: what was maximised, ``"secret_key_rate_bps"`` or ``"delivered_pairs_per_second"``;
      `estimate` its value there and `interval` its 95 % interval (the `PhysicsStats` interval of that name).
    - `stats`: the ensemble at the best value.
    - `evaluated`: (value, objective) of every setting run, in the order tried; all ran the same seeds.
    """

    parameter: str
    value: float | int
    objective: str
    estimate: float
    interval: tuple[float, float]
    stats: PhysicsStats
    evaluated: tuple[tuple[float | int, float], ...]


_SEARCHED = {"cutoff_ms": float, "modes": int, "distillation_rounds": int}
_OBJECTIVES = ("secret_key_rate_bps", "delivered_pairs_per_second")
_GOLDEN = (math.sqrt(5.0) - 1.0) / 2.0


def optimize(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    runs: int,
    model: PhysicalModel | None = None,
    strategy: vc.StrategyType | None = None,
    seed: int | None = None,
    *,
    parameter: str = "cutoff_ms",
    bounds: tuple[float, float],
    objective: str = "secret_key_rate_bps",
    evaluations: int = 20,
    executor: Executor | None = None,
    shards: int | None = None,
    workers: int | None = None,
) -> Optimum:
    """The value of one parameter of `model` within `bounds` (both included) that maximises `objective`.

    - `parameter`: ``"cutoff_ms"`` (ms, searched over the interval), ``"modes"`` or ``"distillation_rounds"``
      (whole numbers).
    - `objective`: ``"secret_key_rate_bps"`` (the key rate) or ``"delivered_pairs_per_second"`` (the
      delivery rate).
    - Every setting runs `runs` trials from the same `seed` (common random numbers: two settings differ by the
      parameter alone, not by their draws). The search assumes the objective rises, then falls: golden-section
      over an interval (at most `evaluations` settings), a ternary search over whole numbers (ending with every
      value of the last three).
    - `executor`, `shards`, `workers` as for `simulate`.
    """
    if parameter not in _SEARCHED:
        raise ValueError(f"parameter: must be one of {', '.join(map(repr, _SEARCHED))}, got {parameter!r}")
    if objective not in _OBJECTIVES:
        raise ValueError(f"objective: must be one of {', '.join(map(repr, _OBJECTIVES))}, got {objective!r}")
    low, high = bounds
    if _SEARCHED[parameter] is int:
        low, high = _count(low, "bounds"), _count(high, "bounds")
    else:
        low, high = float(low), float(high)
    if not low <= high:
        raise ValueError(f"bounds: the lower bound must not exceed the upper, got {bounds!r}")
    if _count(evaluations, "evaluations") < 3:
        raise ValueError(f"evaluations: at least 3 are needed, got {evaluations}")
    base = model if model is not None else PhysicalModel()
    nodes, links = tuple(nodes), tuple(links)
    fixed_seed = _seed(seed)
    tried: dict[float | int, PhysicsStats] = {}

    def value_at(setting: float | int) -> float:
        if setting not in tried:
            changed = replaced(base, **{parameter: setting})
            tried[setting] = simulate(
                nodes, links, from_node, to, runs, changed, strategy, fixed_seed,
                executor=executor, shards=shards, workers=workers,
            )  # fmt: skip
        result = getattr(tried[setting], objective)
        return -math.inf if math.isnan(result) else float(result)

    if isinstance(low, int) and isinstance(high, int):
        while high - low > 2:
            third = (high - low) // 3
            if value_at(low + third) < value_at(high - third):
                low = low + third + 1
            else:
                high = high - third
        for setting in range(low, high + 1):
            value_at(setting)
    else:
        a, b = low, high
        inner_low, inner_high = b - _GOLDEN * (b - a), a + _GOLDEN * (b - a)
        value_at(a), value_at(b)
        for _ in range(evaluations):  # each step adds one setting, unless the interval has shrunk to nothing
            if len(tried) >= evaluations:
                break
            if value_at(inner_low) < value_at(inner_high):
                a, inner_low = inner_low, inner_high
                inner_high = a + _GOLDEN * (b - a)
            else:
                b, inner_high = inner_high, inner_low
                inner_low = b - _GOLDEN * (b - a)
    best = max(tried, key=value_at)
    stats = tried[best]
    return Optimum(
        parameter,
        best,
        objective,
        getattr(stats, objective),
        getattr(stats, objective + "_interval"),
        stats,
        tuple((setting, getattr(result, objective)) for setting, result in tried.items()),
    )


# The model on a whole network, which reads this module's parameters and statistics.
from ._network_load import LoadPoint, network_load  # noqa: E402
from ._physics_network import Demand, DemandStats, LinkStats, NetworkStats, NodeStats, network  # noqa: E402
