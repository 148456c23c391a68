"""Parameter sweeps: one request over a grid of parameter values, with confidence intervals, on the physical
model or on vorn_core's timeline.

    import vorn.physics as physics
    from vorn.sweep import sweep
    table = sweep(nodes, links, "N0", "N3", runs=100_000, grid={"distance_km": [25, 50, 75, 100]},
                  seed=1, model=physics.PhysicalModel(cutoff_ms=50.0))   # waiting time, fidelity, key rate
    table = sweep(nodes, links, "N0", "N3", 0.8, 100.0, runs=5_000,
                  grid={"distance_km": [50, 75, 100, 125, 150]}, seed=1)  # the timeline's success rate
    table.to_frame()

A parameter is named by a key:

- "distance_km" (km), "base_fidelity" (fraction), "generation_rate_hz" (Hz): that figure of every link;
  with ":A->B" (for example "distance_km:N0->N1") only of the links defined from A to B;
- "memory_lifetime_t2": every node's T2 (s); "memory_lifetime_t2:A" only node A's;
- "alpha_loss_db_km": the fibre loss in dB/km, setting the configuration's `baseline_purify_factor` as
  ``PhysicalConfig(alpha_loss_db_km)`` does;
- "fidelity_target" (fraction), "max_latency_ms" (ms): the request's target and bound;
- with the physical model, each parameter of ``PhysicalModel`` by its name (`vorn.physics.parameters`:
  "cutoff_ms" in ms, "efficiency", "swap_success_probability", ...).

The timeline reads neither memory lifetimes nor (except to choose a route under HighestSuccess) generation
rates; the physical model reads neither the fibre loss of the configuration (it has its own attenuation_db_km)
nor the request's target and bound. A sweep over an input that its model does not read warns
(`vorn._models.UnreadInputWarning`, a UserWarning) and gives the same figures at every value.

With several keys the grid is their cartesian product, the first key varying slowest. It is walked
lazily: its size is known (`grid_size`) and said before anything runs, no list of its points is ever
built, and Ctrl-C stops the sweep at once. Every point runs with the same seed (common random numbers),
so neighbouring points differ by their parameters rather than by their draws; replicates (``replicates=``)
take the same replicate seeds at every point. `parameter_keys(nodes, links)` lists the keys of a network.
"""

from __future__ import annotations

import itertools
import logging
import math
import operator
import warnings
from collections.abc import Iterable, Iterator, Mapping, Sequence
from concurrent.futures import Executor
from typing import TYPE_CHECKING, Any

import vorn_core as vc

from . import _models, _native, _network, parallel, physics
from .stats import EnsembleStats, Table

if TYPE_CHECKING:
    import pandas

__all__ = ["sweep", "iter_sweep", "parameter_keys", "grid_size"]

NODE_FIGURES = _network.NODE_FIGURES
LINK_FIGURES = _network.LINK_FIGURES
REQUEST_FIGURES = ("fidelity_target", "max_latency_ms")
CONFIG_FIGURES = ("alpha_loss_db_km",)
LARGE_GRID = 1_000_000  # points beyond which a sweep warns before it starts
COLUMNS = [
    "runs",
    "successes",
    "success_rate",
    "ci_low",
    "ci_high",
    "mean_latency_ms",
    "mean_fidelity",
    "aggregate_congestion_drops",
    "seed",
]
REPLICATE_COLUMNS = ["replicates", "replicate_sd", "replicate_se"]

Row = dict[str, Any]
log = logging.getLogger(__name__)


def parameter_keys(nodes: Iterable[vc.NodeDefinition], links: Iterable[vc.LinkDefinition]) -> list[str]:
    """Every key that `sweep` accepts for this network (node and link definitions)."""
    keys = list(NODE_FIGURES) + [f"{figure}:{node.id}" for node in nodes for figure in NODE_FIGURES]
    keys += list(LINK_FIGURES)
    for link in links:
        keys += [f"{figure}:{link.from_node}->{link.to}" for figure in LINK_FIGURES]
    keys += list(CONFIG_FIGURES) + list(REQUEST_FIGURES)
    return list(dict.fromkeys(keys))


def apply(key: str, value: float, point: _network.Setup) -> _network.Setup:
    """The point where `key` (a key of `parameter_keys`) has `value`."""
    figure, _, target = key.partition(":")
    changes: dict[str, Any] = {figure: value}
    if figure in REQUEST_FIGURES:
        return point._replace(request=_network.varied(point.request, **changes))
    if figure in CONFIG_FIGURES:
        if point.config is None:  # VornEngine()'s configuration shares SimulationConfig's defaults but the loss
            return point._replace(config=vc.SimulationConfig(alpha_loss_db_km=value))
        purify = vc.PhysicalConfig(value).baseline_purify_factor
        return point._replace(config=_network.with_purify_factor(point.config, purify))
    if figure in NODE_FIGURES:
        nodes = tuple(
            _network.varied(node, **changes) if not target or node.id == target else node for node in point.nodes
        )
        return point._replace(nodes=nodes)
    links = tuple(
        _network.varied(link, **changes) if not target or f"{link.from_node}->{link.to}" == target else link
        for link in point.links
    )
    return point._replace(links=links)


def _axes(grid: object, known: list[str], model: _models.Model) -> list[tuple[str, list[float]]]:
    if not isinstance(grid, Mapping):
        raise TypeError(
            f"argument 'grid': expected a mapping from parameter key to its values, got {type(grid).__name__}"
        )
    axes = []
    for key, values in grid.items():
        if key not in known:
            physical = key in _models.Physical(physics.PhysicalModel()).own_keys()
            hint = (
                "; it is a parameter of the physical model: pass model=vorn.physics.PhysicalModel()" if physical else ""
            )
            raise ValueError(f"unknown sweep parameter {key!r}; this network has: {', '.join(known)}{hint}")
        if isinstance(values, (str, bytes)) or not isinstance(values, Iterable):
            raise TypeError(f"argument 'grid': the values of {key!r} are {type(values).__name__}, not a sequence")
        axes.append((key, [_checked(key, value, model) for value in values]))
    return axes


def _checked(key: str, value: object, model: _models.Model) -> Any:
    """A grid value as its parameter takes it: a whole number or a name for a parameter of the physical model
    that is one (modes, distillation rounds, the heralding scheme), else a float."""
    default = getattr(physics.PhysicalModel(), key, None) if key in model.own_keys() else None
    try:
        if isinstance(default, str):
            if not isinstance(value, str):
                raise TypeError
            number: Any = value
        elif isinstance(default, int) and not isinstance(default, bool):
            number = operator.index(value)  # type: ignore[arg-type]
        else:
            number = float(value)  # type: ignore[arg-type]
    except (TypeError, ValueError):
        kind = "a name" if isinstance(default, str) else "a whole number" if isinstance(default, int) else "a number"
        raise TypeError(f"argument 'grid[{key!r}]': expected {kind}, got {type(value).__name__}") from None
    try:
        if key in model.own_keys():
            physics.PhysicalModel(**{key: number})
        else:
            _native.check_figure(key.partition(":")[0], number)
    except ValueError as refused:
        raise ValueError(f"argument 'grid[{key!r}]': {refused}") from None
    return number


def grid_size(grid: Mapping[str, Sequence[float]]) -> int:
    """Number of points of a grid (the product of its axes' lengths; 1 for an empty grid)."""
    return math.prod(len(values) for values in grid.values())


def iter_sweep(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    fidelity_target: float | None = None,
    max_latency_ms: float | None = None,
    runs: int | None = None,
    grid: Mapping[str, Iterable[float]] | None = None,
    strategy: vc.StrategyType | None = None,
    seed: int | None = None,
    config: vc.SimulationConfig | None = None,
    executor: Executor | None = None,
    confidence: float = 0.95,
    progress: bool | None = None,
    *,
    replicates: int | Sequence[int] | None = None,
    workers: int | None = None,
    model: physics.PhysicalModel | None = None,
) -> Iterator[Row]:
    """The rows of `sweep`, one per point as it is done. Every argument is checked before the first
    point runs (the generator's first ``next``)."""
    if runs is None or grid is None:
        raise TypeError("sweep: runs and grid are needed")
    runs = _network.count(runs, "runs")
    chosen_model = _models.of(model)
    base_point = chosen_model.point(nodes, links, from_node, to, fidelity_target, max_latency_ms, strategy, config)
    known = parameter_keys(base_point.nodes, base_point.links) + chosen_model.own_keys()
    axes = _axes(grid, known, chosen_model)
    for key, _ in axes:
        if not chosen_model.reads(key, base_point):
            _models.warn_unread(key, chosen_model.name)
    chosen = _network.seed_of(seed)
    base = parallel.clock_seed() if chosen is None else chosen
    seeds = parallel.replicate_starts(base, runs, replicates)
    starts = seeds or [base]
    points = math.prod(len(values) for _, values in axes)
    total = points * len(starts) * runs
    described = " x ".join(f"{len(values)} {key}" for key, values in axes) or "one point"
    log.info("sweep of %s points (%s), %s trials in all", f"{points:,}", described, f"{total:,}")
    if points > LARGE_GRID:
        warnings.warn(
            f"a sweep of {points:,} points ({described}): its rows are kept as they come; Ctrl-C stops it",
            stacklevel=3,
        )
    keys = [key for key, _ in axes]

    def jobs() -> Iterator[tuple[Any, int, int]]:
        for values in itertools.product(*(values for _, values in axes)):
            point = base_point
            for key, value in zip(keys, values):
                point = chosen_model.apply(key, value, point)
            for start in starts:
                yield point, runs, start

    results = chosen_model.ensembles(
        jobs(), total, executor=executor, workers=workers, progress=progress, description="sweep"
    )
    for point in itertools.product(*(values for _, values in axes)):
        pieces = [next(results) for _ in starts]
        stats = chosen_model.pooled(pieces, base) if seeds is not None else pieces[0]
        if isinstance(stats, EnsembleStats):
            yield _row(dict(zip(keys, point)), stats, confidence, seeds is not None)
        else:
            yield dict(zip(keys, point)) | _physical_row(stats, len(starts) if seeds is not None else None)


def _physical_row(stats: physics.PhysicsStats, replicates: int | None) -> Row:
    row = stats.to_dict()
    row["path"] = " - ".join(row["path"])
    if replicates is not None:
        row["replicates"] = replicates
    return row


def _row(point: Row, stats: EnsembleStats, confidence: float, replicated: bool) -> Row:
    low, high = stats.interval(confidence)
    row = dict(point)
    row.update(
        runs=stats.total_runs,
        successes=stats.successes,
        success_rate=stats.empirical_success_rate,
        ci_low=low,
        ci_high=high,
        mean_latency_ms=stats.mean_latency_ms,
        mean_fidelity=stats.mean_fidelity,
        aggregate_congestion_drops=stats.aggregate_congestion_drops,
        seed=stats.seed,
    )
    if replicated:
        spread = stats.spread()
        row.update(
            replicates=len(stats.replicates),
            replicate_sd=math.nan if spread is None else spread.sd,
            replicate_se=math.nan if spread is None else spread.se,
        )
    return row


def sweep(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    fidelity_target: float | None = None,
    max_latency_ms: float | None = None,
    runs: int | None = None,
    grid: Mapping[str, Iterable[float]] | None = None,
    strategy: vc.StrategyType | None = None,
    seed: int | None = None,
    config: vc.SimulationConfig | None = None,
    executor: Executor | None = None,
    confidence: float = 0.95,
    progress: bool | None = None,
    frame: bool | None = None,
    *,
    replicates: int | Sequence[int] | None = None,
    workers: int | None = None,
    model: physics.PhysicalModel | None = None,
) -> Table | pandas.DataFrame | list[Row]:
    """Run an ensemble of `runs` trials (every draw keyed by the trial's seed) at every point of `grid`, a
    mapping from parameter key to its values (units as in the module's key list), on vorn_core's timeline
    (`model` None) or on the physical model (`model` a `vorn.physics.PhysicalModel`, whose parameters are keys
    too: "cutoff_ms", "efficiency", ...). A key that the chosen model does not read (a memory lifetime on the
    timeline, a fidelity target on the physical model) is swept all the same, with an UnreadInputWarning
    naming it and the model.

    The timeline runs the ensemble of `vorn.parallel.simulate`: it needs `fidelity_target` (a fraction in
    [0, 1]) and `max_latency_ms` (a bound in ms of simulated time); `config` is its configuration. The
    physical model runs `vorn.physics.simulate` and reads neither. `runs` (trials per point and replicate),
    `strategy` (None: HighestFidelity) and `seed` (trial i uses seed + i; None takes one from the clock and
    every row records it) are common to both, the values of the grid replacing theirs at each point;
    `confidence` is the level of the timeline's intervals, in (0, 1).

    Returns one row per point, in grid order: the point's values under their keys, then on the timeline
    "runs", "successes", "success_rate", "ci_low" and "ci_high" (Wilson interval at `confidence`),
    "mean_latency_ms" (simulated clock), "mean_fidelity", "aggregate_congestion_drops" and "seed", with
    `replicates` (as for `vorn.parallel.simulate`) the pooled figures and "replicates", "replicate_sd" and
    "replicate_se", the scatter of the replicates' success rates; on the physical model the figures of
    ``PhysicsStats.to_dict()`` (waiting time in ms, fidelity, key rate in bit/s, each interval as
    "<figure>_ci_low" and "<figure>_ci_high", quantiles, the model's parameters), with the route as one text,
    and with `replicates` the pooled figures and their number. As a `vorn.stats.Table` (a sequence of dicts
    with ``to_frame()``), as a pandas DataFrame when `frame` is true, a list of dicts when false.

    Points run here one after another, on `executor` (any ``concurrent.futures.Executor``) or on a local
    pool of `workers` processes; a tqdm bar over the trials of the whole grid shows when `progress` is true
    (None: in a terminal or notebook, once the sweep has lasted half a second). Unknown keys, values out
    of range and a grid that is no mapping raise before anything runs; Ctrl-C stops the sweep.
    """
    rows = iter_sweep(
        nodes,
        links,
        from_node,
        to,
        fidelity_target,
        max_latency_ms,
        runs,
        grid,
        strategy,
        seed,
        config,
        executor,
        confidence,
        progress,
        replicates=replicates,
        workers=workers,
        model=model,
    )
    first = next(rows, None)  # checks the arguments
    keys = list(grid) if isinstance(grid, Mapping) else []
    if model is None:
        columns: list[str] | None = keys + COLUMNS + (REPLICATE_COLUMNS if replicates is not None else [])
    else:
        columns = None  # the figures of the physical model's statistics, as they come
    table = Table(itertools.chain([] if first is None else [first], rows), columns)
    if frame is False:
        return table.to_dicts()
    if frame:
        return table.to_frame()
    return table
