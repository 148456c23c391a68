"""Parameter sweeps: one request over a grid of parameter values, with confidence intervals.

    from vorn.sweep import sweep
    table = sweep(nodes, links, "N0", "N3", 0.8, 100.0, runs=5_000,
                  grid={"distance_km": [50, 75, 100, 125, 150]}, seed=1)

A parameter is named by a key in the vocabulary of `MonteCarloStats.sensitivity_analysis`:

- "distance_km", "base_fidelity", "generation_rate_hz": that figure of every link;
  with ":A->B" (for example "distance_km:N0->N1") only of the links defined from A to B;
- "memory_lifetime_t2": every node's T2 (seconds); "memory_lifetime_t2:A" only node A's;
- "alpha_loss_db_km": the fibre loss, setting the configuration's `baseline_purify_factor` as
  ``PhysicalConfig(alpha_loss_db_km)`` does;
- "fidelity_target", "max_latency_ms": the request's target and bound.

With several keys the grid is their cartesian product, the first key varying slowest. Every point runs
with the same seed (common random numbers), so neighbouring points differ by their parameters rather than
by their draws. `parameter_keys(nodes, links)` lists the keys of a network.
"""

from __future__ import annotations

import itertools
import time
from collections.abc import Iterable, Mapping, Sequence
from concurrent.futures import Executor
from typing import TYPE_CHECKING, Any, Protocol

import vorn_core as vc

from . import _jobs, _network
from .stats import successes, wilson_interval

__all__ = ["sweep", "parameter_keys"]

LINK_FIGURES = _network.LINK_FIGURES
NODE_FIGURES = ("memory_lifetime_t2",)
REQUEST_FIGURES = ("fidelity_target", "max_latency_ms")
CONFIG_FIGURES = ("alpha_loss_db_km",)

Row = dict[str, Any]

if TYPE_CHECKING:
    import pandas


class _Node(Protocol):  # a node definition, or its plain form
    @property
    def id(self) -> str: ...


class _Link(Protocol):  # a link definition, or its plain form
    @property
    def from_node(self) -> str: ...
    @property
    def to(self) -> str: ...


def parameter_keys(nodes: Iterable[_Node], links: Iterable[_Link]) -> list[str]:
    """Every key that `sweep` accepts for this network (node and link definitions)."""
    keys = list(NODE_FIGURES) + [f"{NODE_FIGURES[0]}:{node.id}" for node in nodes]
    keys += list(LINK_FIGURES)
    for link in links:
        keys += [f"{figure}:{link.from_node}->{link.to}" for figure in LINK_FIGURES]
    keys += list(CONFIG_FIGURES) + list(REQUEST_FIGURES)
    return list(dict.fromkeys(keys))


def _apply(
    key: str, value: float, network: _network.Network, config: _network.Config | None, request: _network.Request
) -> tuple[_network.Network, _network.Config | None, _network.Request]:
    """The point of the grid where `key` (a key of `parameter_keys`) has `value`."""
    figure, _, target = key.partition(":")
    changes: dict[str, Any] = {figure: value}
    if figure in REQUEST_FIGURES:
        return network, config, request._replace(**changes)
    if figure in CONFIG_FIGURES:
        purify = vc.PhysicalConfig(value).baseline_purify_factor
        if config is None:  # VornEngine()'s configuration shares SimulationConfig's defaults but the loss
            return network, _network.pack_config(vc.SimulationConfig(alpha_loss_db_km=value)), request
        return network, config._replace(baseline_purify_factor=purify), request
    if figure in NODE_FIGURES:
        nodes = tuple(
            node._replace(memory_lifetime_t2=value) if not target or node.id == target else node
            for node in network.nodes
        )
        return network._replace(nodes=nodes), config, request
    links = tuple(
        link._replace(**changes) if not target or f"{link.from_node}->{link.to}" == target else link
        for link in network.links
    )
    return network._replace(links=links), config, request


def sweep(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    grid: Mapping[str, Iterable[float]],
    strategy: vc.StrategyType | None = None,
    seed: int | None = None,
    config: vc.SimulationConfig | None = None,
    executor: Executor | None = None,
    confidence: float = 0.95,
    progress: bool | None = None,
    frame: bool | None = None,
) -> pandas.DataFrame | list[Row]:
    """Run the ensemble ``simulate(from_node, to, fidelity_target, max_latency_ms, runs, strategy, seed)``
    of ``VornEngine(config)`` at every point of `grid` (a mapping from parameter key to its values).

    Returns one row per point, in grid order: the point's parameter values under their keys, then
    "runs", "successes", "success_rate", "ci_low" and "ci_high" (Wilson interval at `confidence`),
    "mean_latency_ms", "mean_fidelity", "aggregate_congestion_drops" and "seed". As a pandas DataFrame
    when pandas is installed (or `frame` is true), as a list of dicts otherwise (or when `frame` is false).

    Points run here one after another, or one per job on `executor` (any concurrent.futures.Executor);
    a tqdm bar over points shows when `progress` is true (None: when tqdm is installed and stderr is a
    terminal). Unknown keys raise ValueError before anything runs; Ctrl-C stops the sweep.
    """
    runs = _network.count(runs, "runs")
    engine, network = _network.checked_engine(nodes, links, config)
    engine.simulate(from_node, to, fidelity_target, max_latency_ms, 0, strategy, seed)  # checks the arguments
    seed = time.time_ns() % _network.SEEDS if seed is None else seed
    request = _network.pack_request(from_node, to, fidelity_target, max_latency_ms, strategy)
    plain_config = _network.pack_config(config)

    known = parameter_keys(network.nodes, network.links)
    axes: list[tuple[str, list[float]]] = []
    for key, values in grid.items():
        if key not in known:
            raise ValueError(f"unknown sweep parameter {key!r}; this network has: {', '.join(known)}")
        axes.append((key, [float(value) for value in values]))
    points: list[Sequence[float]] = list(itertools.product(*(values for _, values in axes))) if axes else []

    jobs = []
    for point in points:
        point_network, point_config, point_request = network, plain_config, request
        for (key, _), value in zip(axes, point):
            point_network, point_config, point_request = _apply(key, value, point_network, point_config, point_request)
        jobs.append((point_network, point_config, point_request, runs, seed))
    results = _jobs.run_jobs(executor, _network.run, jobs, "sweep", progress)

    rows: list[Row] = []
    for point, fields in zip(points, results):
        stats = vc.MonteCarloStats(*fields)
        won = successes(stats)
        low, high = wilson_interval(won, stats.total_runs, confidence)
        row: Row = {key: value for (key, _), value in zip(axes, point)}
        row.update(
            runs=stats.total_runs,
            successes=won,
            success_rate=stats.empirical_success_rate,
            ci_low=low,
            ci_high=high,
            mean_latency_ms=stats.mean_latency_ms,
            mean_fidelity=stats.mean_fidelity,
            aggregate_congestion_drops=stats.aggregate_congestion_drops,
            seed=seed,
        )
        rows.append(row)
    return _table(rows, [key for key, _ in axes], frame)


def _table(rows: list[Row], keys: list[str], frame: bool | None) -> pandas.DataFrame | list[Row]:
    if frame is False:
        return rows
    try:
        import pandas
    except ImportError:
        if frame:
            raise ImportError("vorn.sweep needs pandas for a DataFrame: pip install pandas") from None
        return rows
    columns = keys + [
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
    return pandas.DataFrame(rows, columns=columns)
