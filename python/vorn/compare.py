"""One request on several networks, reproducibly, with intervals: which network serves it best?

    from vorn.compare import compare
    networks = [("repeater_chain", "N0", "N3"), ("my_network.vorn", "Alice", "Bob")]
    report = compare(networks, runs=100_000, seed=1, model=vorn.physics.PhysicalModel())  # by secret-key rate
    report = compare(networks, fidelity_target=0.75, max_latency_ms=5000.0, runs=20_000, seed=1)  # by success
    report.table, report.recommended

Networks are named by the reference topologies that ``compare_topologies`` knows (telecom_backbone,
repeater_chain, hybrid_satellite_fiber and their aliases fiber_only and hybrid, each with the engine
configuration of ``VornEngine()``) or by the path of a .vorn file (with the configuration that
``from_vorn_file`` takes from it). Every network runs the same seeds, so the comparison repeats exactly.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Sequence
from concurrent.futures import Executor
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import vorn_core as vc

from . import _models, _native, _network, parallel, physics
from .files import is_utf8, load_network
from .stats import EnsembleStats, Table

if TYPE_CHECKING:
    import pandas

__all__ = ["compare", "ComparisonReport", "ComparedNetwork", "resolve"]

COLUMNS = [
    "topology",
    "from_node",
    "to",
    "runs",
    "successes",
    "success_rate",
    "ci_low",
    "ci_high",
    "mean_latency_ms",
    "mean_fidelity",
]


@dataclass(frozen=True)
class ComparedNetwork:
    """One network of a comparison and its outcome (the shape `vorn.plot.plot_comparison` draws): the
    timeline's `EnsembleStats` or the physical model's `PhysicsStats`."""

    topology_name: str
    from_node: str
    to: str
    stats: EnsembleStats | physics.PhysicsStats

    @property
    def success_rate(self) -> float:
        """The share of trials that succeeded (on the physical model: that delivered a pair)."""
        if isinstance(self.stats, physics.PhysicsStats):
            return self.stats.delivery_rate
        return self.stats.empirical_success_rate

    @property
    def successes(self) -> int:
        return self.stats.delivered if isinstance(self.stats, physics.PhysicsStats) else self.stats.successes


@dataclass(frozen=True)
class ComparisonReport:
    """The outcome of `compare`: each network's statistics, a table with intervals, the recommendation by
    `figure` (an attribute of the statistics: "success_rate" on the timeline, "secret_key_rate_bps" on the
    physical model, which reads no target or bound: they are None)."""

    results: list[ComparedNetwork]
    table: Table
    recommended_topology: str
    summary: str
    fidelity_target: float | None
    max_latency_ms: float | None
    runs: int
    seed: int
    confidence: float
    figure: str = "success_rate"

    @property
    def recommended(self) -> str:
        return self.recommended_topology

    def to_frame(self) -> pandas.DataFrame:
        return self.table.to_frame()

    def __repr__(self) -> str:
        return f"{self.table!r}\n{self.summary}"

    def _repr_html_(self) -> str:
        return f"{self.table._repr_html_()}<p>{self.summary}</p>"


def is_reference(topology: str | os.PathLike[str]) -> bool:
    """Whether `resolve` takes `topology` as a reference topology's name rather than a .vorn file's path."""
    return _reference(topology) is not None


def _reference(topology: object) -> vc.NetworkTopologyPayload | None:
    if isinstance(topology, str) and is_utf8(topology):  # else only a path that is no UTF-8
        try:
            payload: vc.NetworkTopologyPayload = _native.reference_network(topology)
            return payload
        except ValueError as error:
            if not (os.path.exists(topology) or topology.endswith(".vorn") or os.sep in topology):
                raise ValueError(f"{error}, or the path of a .vorn file") from None
    elif not isinstance(topology, (str, os.PathLike)):
        raise TypeError(f"expected a topology name or a .vorn file's path, got {type(topology).__name__}")
    return None


def resolve(
    topology: str | os.PathLike[str],
) -> tuple[list[vc.NodeDefinition], list[vc.LinkDefinition], vc.SimulationConfig | None]:
    """The nodes, links and configuration of a reference topology's name (None: ``VornEngine()``'s) or of a
    .vorn file's path (a path that happens to be a reference name needs a directory part: "./telecom_backbone")."""
    reference = _reference(topology)
    if reference is not None:
        return reference.nodes, reference.links, None
    loaded = load_network(topology)
    return loaded.nodes, loaded.links, loaded.config


def _entry(entry: object, index: int) -> tuple[str, str, str]:
    if isinstance(entry, vc.TopologyEndpoints):
        return entry.topology_name, entry.from_node, entry.to_node
    if isinstance(entry, (tuple, list)) and len(entry) == 3:
        name, source, target = entry
        return os.fspath(name), source, target
    raise TypeError(f"argument 'networks': item {index} is no (topology, from_node, to) triple: {entry!r}")


def compare(
    networks: Iterable[tuple[str | os.PathLike[str], str, str] | vc.TopologyEndpoints],
    fidelity_target: float | None = None,
    max_latency_ms: float | None = None,
    runs: int | None = None,
    strategy: vc.StrategyType | None = None,
    seed: int | None = None,
    *,
    replicates: int | Sequence[int] | None = None,
    confidence: float = 0.95,
    executor: Executor | None = None,
    workers: int | None = None,
    progress: bool | None = None,
    model: physics.PhysicalModel | None = None,
) -> ComparisonReport:
    """Run one request with `runs` trials from `seed` on each network, given as (topology, from_node, to) with
    a reference topology name or a .vorn file path (or as ``TopologyEndpoints``), on vorn_core's timeline
    (`model` None: the request's `fidelity_target`, `max_latency_ms` in ms and `strategy`, compared by success
    rate) or on the physical model (`model` a ``vorn.physics.PhysicalModel``, under `strategy`, compared by
    secret-key rate in bit/s; it reads neither target nor bound, nor a file's configuration).

    Every network, name, node and figure is checked before anything runs (ValueError naming it);
    `runs` must be at least 1. Every network runs the same seeds (None: one from the clock, recorded
    in the report). The recommendation is the network with the highest figure (the first of equal
    ones); the summary says when its interval overlaps the runner-up's, so the data cannot tell them apart.
    `replicates`, `executor`, `workers` and `progress` as for `vorn.parallel.simulate`. The table's rows: on
    the timeline "topology", "from_node", "to", "runs", "successes", "success_rate", "ci_low", "ci_high" (Wilson
    interval at `confidence`), "mean_latency_ms", "mean_fidelity" (and "replicate_sd" with replicates); on the
    physical model "topology", "from_node", "to" and the figures of ``PhysicsStats.to_dict()`` (95 % intervals).
    """
    if runs is None:
        raise TypeError("compare: runs is needed")
    runs = _network.count(runs, "runs")
    if runs == 0:
        raise ValueError("argument 'runs': a comparison needs at least one run, got 0")
    entries = [_entry(entry, index) for index, entry in enumerate(networks)]
    if not entries:
        raise ValueError("argument 'networks': nothing to compare")
    chosen_model = _models.of(model)
    setups = []
    for name, source, target in entries:
        nodes, links, config = resolve(name)
        config = config if model is None else None  # a file's configuration is the timeline's
        setups.append(
            chosen_model.point(nodes, links, source, target, fidelity_target, max_latency_ms, strategy, config)
        )
    chosen = _network.seed_of(seed)
    base = parallel.clock_seed() if chosen is None else chosen
    seeds = parallel.replicate_starts(base, runs, replicates)
    starts = seeds or [base]
    results = chosen_model.ensembles(
        [(checked, runs, start) for checked in setups for start in starts],
        len(entries) * len(starts) * runs,
        executor=executor,
        workers=workers,
        progress=progress,
        description="compare",
    )
    outcomes = []
    for name, source, target in entries:
        pieces = [next(results) for _ in starts]
        stats = chosen_model.pooled(pieces, base) if seeds is not None else pieces[0]
        outcomes.append(ComparedNetwork(name, source, target, stats))

    figure = chosen_model.figure
    rows = [_row(outcome, confidence) for outcome in outcomes]
    low_key, high_key = ("ci_low", "ci_high") if model is None else (f"{figure}_ci_low", f"{figure}_ci_high")
    ranked = sorted(range(len(rows)), key=lambda index: -rows[index][figure])
    best = rows[ranked[0]]
    (label, unit), shown = _models.named(figure), ".4f" if model is None else ".4g"
    unit = f" {unit}" if unit else ""
    summary = (
        f"Recommended: {best['topology']} ({label} {best[figure]:{shown}}{unit}, "
        f"{confidence if model is None else 0.95:.0%} interval {best[low_key]:{shown}} to {best[high_key]:{shown}}"
        f"{unit}; "
        f"{runs * len(starts):,} trials per network from seed {base} on {chosen_model.name})."
    )
    if len(ranked) > 1:
        second = rows[ranked[1]]
        if second[high_key] >= best[low_key]:
            summary += (
                f" Its interval overlaps that of {second['topology']} ({second[figure]:{shown}}): "
                "more runs are needed to tell them apart."
            )
    columns = None
    if model is None:
        columns = COLUMNS + (["replicate_sd"] if seeds is not None and len(seeds) > 1 else [])
    return ComparisonReport(
        outcomes,
        Table(rows, columns),
        str(best["topology"]),
        summary,
        None if fidelity_target is None else float(fidelity_target),
        None if max_latency_ms is None else float(max_latency_ms),
        runs * len(starts),
        base,
        confidence,
        figure,
    )


def _row(outcome: ComparedNetwork, confidence: float) -> dict[str, Any]:
    place = {"topology": outcome.topology_name, "from_node": outcome.from_node, "to": outcome.to}
    stats = outcome.stats
    if isinstance(stats, physics.PhysicsStats):
        row = place | stats.to_dict()
        row["path"] = " - ".join(row["path"])
        return row
    low, high = stats.interval(confidence)
    row = place | {
        "runs": stats.total_runs,
        "successes": stats.successes,
        "success_rate": stats.empirical_success_rate,
        "ci_low": low,
        "ci_high": high,
        "mean_latency_ms": stats.mean_latency_ms,
        "mean_fidelity": stats.mean_fidelity,
    }
    spread = stats.spread()
    if spread is not None:
        row["replicate_sd"] = spread.sd
    return row
