"""The physical model on a whole network: many demands at once, their routes sharing links and memories.

Each demand wants end-to-end pairs between two nodes along the engine's route for the strategy (or spread over its
``paths`` best routes, the engine's first): always (saturated,
``arrival_rate_hz=None``, which measures capacity) or for requests arriving as a Poisson process (which measures
waiting under load), at most ``max_outstanding`` requests in progress at once. Every node has a number of memory
qubits (``memory_capacity`` where given, else ``memories_per_link_end`` for each link at it) shared by every route
through it. A link attempts only while a request that still needs its pair waits for it and a memory is free at
each of its ends; its pair goes to one waiting request by the policy (``"fifo"``: the request that came first;
``"round_robin"``: the demands in turn). Along each route, swaps, cut-offs and classical messages work as in the
chain model. Each replicate is one run of ``duration_ms`` on seed + i, the same bit for bit wherever it runs.
"""

from __future__ import annotations

import math
import statistics
from collections.abc import Iterable, Mapping, Sequence
from concurrent.futures import Executor
from dataclasses import dataclass
from typing import Any

import vorn_core as vc

from . import _jobs, _native
from ._figures import Figure, FigureRecord

POLICIES = {"fifo": 0, "round_robin": 1}


@dataclass(frozen=True)
class Demand:
    """Pairs wanted between `from_node` and `to`: always (`arrival_rate_hz` None) or per request of a Poisson
    process of that rate (Hz), at most `max_outstanding` requests in progress at once (None: no bound)."""

    from_node: str
    to: str
    arrival_rate_hz: float | None = None
    max_outstanding: int | None = None

    def __post_init__(self) -> None:
        rate = self.arrival_rate_hz
        if rate is not None and (
            isinstance(rate, bool) or not isinstance(rate, (int, float)) or not 0 < rate < math.inf
        ):
            raise ValueError(f"arrival_rate_hz: must be positive and finite, or None, got {rate!r}")
        bound = self.max_outstanding
        if bound is not None and (isinstance(bound, bool) or not isinstance(bound, int) or bound < 1):
            raise ValueError(f"max_outstanding: must be an integer of at least 1, or None, got {bound!r}")


def _mean_interval(values: Sequence[float], z: float) -> tuple[float, tuple[float, float]]:
    if not values:
        return math.nan, (math.nan, math.nan)
    mean = math.fsum(values) / len(values)
    spread = z * statistics.stdev(values) / math.sqrt(len(values)) if len(values) > 1 else math.nan
    return mean, (mean - spread, mean + spread)


@dataclass(frozen=True, repr=False)
class DemandStats(FigureRecord):
    """What one demand got over the replicates: pairs per second of network time with its interval over the
    replicates, waiting time from request to delivery (ms), mean fidelity, and the key rate the pairs' error
    rates allow (bits per second)."""

    from_node: str
    to: str
    path: tuple[str, ...]
    requested: int
    delivered: int
    throughput_hz: float
    throughput_hz_interval: tuple[float, float]
    mean_waiting_time_ms: float
    waiting_time_ms_interval: tuple[float, float]
    waiting_time_ms_quantiles: dict[float, float]
    mean_fidelity: float
    secret_key_rate_bps: float
    secret_key_rate_bps_interval: tuple[float, float]
    paths: tuple[tuple[str, ...], ...] = ()  # its routes, `path` first
    delivered_by_path: tuple[int, ...] = ()  # pairs delivered along each

    FIGURES = (
        Figure("delivered", "pairs delivered"),
        Figure("throughput_hz", "throughput", "pairs/s", "throughput_hz_interval"),
        Figure("mean_waiting_time_ms", "mean waiting time", "ms", "waiting_time_ms_interval"),
        Figure("mean_fidelity", "mean fidelity"),
        Figure("secret_key_rate_bps", "secret key rate", "bit/s", "secret_key_rate_bps_interval"),
    )

    def _subject(self) -> str:
        return f"{self.from_node} to {self.to}"

    def _fields(self) -> dict[str, Any]:
        return {"from_node": self.from_node, "to": self.to, "hops": len(self.path) - 1}

    def _details(self) -> dict[str, Any]:
        if len(self.paths) < 2:
            return {}
        return {"paths": ["-".join(path) for path in self.paths], "delivered_by_path": list(self.delivered_by_path)}


@dataclass(frozen=True, repr=False)
class LinkStats(FigureRecord):
    """One link's use over the replicates: the fraction of time it attempted, and its pairs by fate."""

    from_node: str
    to: str
    attempting_fraction: float
    generated: int
    used: int
    discarded: int
    lost: int
    held: int

    FIGURES = (
        Figure("attempting_fraction", "time attempting", format=".3f"),
        Figure("generated", "pairs generated"),
        Figure("used", "used in delivered pairs"),
        Figure("discarded", "discarded by the cut-off"),
        Figure("lost", "lost in failed swaps"),
        Figure("held", "held at the end", short=False),
    )

    def _subject(self) -> str:
        return f"{self.from_node}-{self.to}"

    def _fields(self) -> dict[str, Any]:
        return {"from_node": self.from_node, "to": self.to}


@dataclass(frozen=True, repr=False)
class NodeStats(FigureRecord):
    """One node's memories: how many were in use on average and at most."""

    node: str
    memories: int
    mean_occupied: float
    most_occupied: int

    FIGURES = (Figure("mean_occupied", "memories in use on average"), Figure("most_occupied", "at most"))

    def _subject(self) -> str:
        return f"{self.node} ({self.memories} memories)"

    def _fields(self) -> dict[str, Any]:
        return {"node": self.node, "memories": self.memories}


@dataclass(frozen=True, repr=False)
class NetworkStats(FigureRecord):
    """The network model's results: per demand, per link on some route and per node; the fairness of the
    throughputs (Jain's index, 1 when all are equal); and the account of every pair the links made, which
    balances exactly: generated = used + discarded + lost + held."""

    duration_ms: float
    replicates: int
    seed: int
    policy: str
    demands: tuple[DemandStats, ...]
    links: tuple[LinkStats, ...]
    nodes: tuple[NodeStats, ...]

    FIGURES = (
        Figure("throughput_hz", "total throughput", "pairs/s"),
        Figure("fairness", "fairness (Jain's index)", format=".3f"),
        Figure("generated", "pairs generated"),
        Figure("used", "used in delivered pairs", short=False),
        Figure("discarded", "discarded by the cut-off", short=False),
        Figure("lost", "lost in failed swaps", short=False),
        Figure("held", "held at the end", short=False),
    )

    @property
    def throughput_hz(self) -> float:
        return math.fsum(demand.throughput_hz for demand in self.demands)

    @property
    def fairness(self) -> float:
        rates = [demand.throughput_hz for demand in self.demands]
        squares = math.fsum(rate * rate for rate in rates)
        return math.fsum(rates) ** 2 / (len(rates) * squares) if squares > 0 else math.nan

    @property
    def generated(self) -> int:
        return sum(link.generated for link in self.links)

    @property
    def used(self) -> int:
        return sum(link.used for link in self.links)

    @property
    def discarded(self) -> int:
        return sum(link.discarded for link in self.links)

    @property
    def lost(self) -> int:
        return sum(link.lost for link in self.links)

    @property
    def held(self) -> int:
        return sum(link.held for link in self.links)

    def _subject(self) -> str:
        return f"{len(self.demands)} demands, {self.replicates} runs of {self.duration_ms:g} ms, {self.policy}"

    def _fields(self) -> dict[str, Any]:
        return {"duration_ms": self.duration_ms, "replicates": self.replicates, "seed": self.seed}


def _key_fraction(error_z: float, error_x: float) -> float:
    from .physics import _key_fraction as unclipped

    return max(0.0, unclipped(error_z, error_x))


def _demand_stats(demand: Demand, paths: list[list[str]], runs: list[Any], seconds: float, z: float) -> DemandStats:
    from .physics import QUANTILES

    waiting = sorted(time for run in runs for time in run[1])
    delivered = len(waiting)
    throughput, throughput_interval = _mean_interval([len(run[1]) / seconds for run in runs], z)
    mean_waiting = math.fsum(waiting) / delivered if delivered else math.nan
    _, waiting_interval = _mean_interval([math.fsum(run[1]) / len(run[1]) for run in runs if run[1]], z)
    if delivered:
        fraction = _key_fraction(
            math.fsum(run[3] for run in runs) / delivered, math.fsum(run[4] for run in runs) / delivered
        )
        quantiles = {q: waiting[min(delivered - 1, int(q * delivered))] for q in QUANTILES}
    else:
        fraction, quantiles = 0.0, {q: math.nan for q in QUANTILES}
    return DemandStats(
        demand.from_node,
        demand.to,
        tuple(paths[0]),
        sum(run[0] for run in runs),
        delivered,
        throughput,
        throughput_interval,
        mean_waiting,
        waiting_interval,
        quantiles,
        math.fsum(run[2] for run in runs) / delivered if delivered else math.nan,
        throughput * fraction,
        (throughput_interval[0] * fraction, throughput_interval[1] * fraction),
        tuple(tuple(path) for path in paths),
        tuple(sum(run[5][k] for run in runs) for k in range(len(paths))),
    )


def _runs(arguments: tuple[Any, ...], model: Any, strategy: int | None, policy: int, runs: int, seed: int) -> Any:
    """The outcomes of `runs` runs from `seed`, as the job runner takes a shard."""
    nodes, links, demands, paths, memories, per_end, duration_ms = arguments
    return _native.physics_network(
        nodes, links, demands, paths, memories, per_end, duration_ms, runs, model, strategy, policy, seed
    )[3]


def _outcomes(result: Any, runs: int, seed: int) -> Any:
    """A shard's runs, refused unless it holds as many as were asked (a forged or mixed-up result)."""
    if not isinstance(result, (list, tuple)) or len(result) != runs:
        count = len(result) if isinstance(result, (list, tuple)) else type(result).__name__
        raise ValueError(f"{count} runs came back")
    return result


def _link_stats(a: str, b: str, runs: list[tuple[float, int, int, int, int, int]], total_ms: float) -> LinkStats:
    return LinkStats(
        a,
        b,
        math.fsum(run[0] for run in runs) / total_ms,
        sum(run[1] for run in runs),
        sum(run[2] for run in runs),
        sum(run[3] for run in runs),
        sum(run[4] for run in runs),
        sum(run[5] for run in runs),
    )


def network(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    demands: Iterable[Demand],
    duration_ms: float,
    model: Any = None,
    *,
    strategy: vc.StrategyType | None = None,
    policy: str = "fifo",
    paths: int = 1,
    replicates: int = 10,
    memory_capacity: Mapping[str, int] | None = None,
    memories_per_link_end: int = 1,
    seed: int | None = None,
    workers: int | None = None,
    executor: Executor | None = None,
    shards: int | None = None,
    progress: bool | None = None,
) -> NetworkStats:
    """`replicates` runs of the network for `duration_ms` of network time each, serving `demands` at once.

    - `model`: the physical model's parameters (None: `PhysicalModel()`); `strategy`: route choice (None:
      HighestFidelity); `policy`: ``"fifo"`` or ``"round_robin"``.
    - `paths`: the routes each demand spreads its requests over, at most: the engine's route for the strategy,
      then the other loop-free routes by expected rate (fewer where fewer exist). Each new request takes the
      route of the highest expected rate divided by 1 + the requests in progress on it, the better route on a
      tie; a saturated demand without `max_outstanding` keeps at least one request per route. TypeError when
      not an integer, ValueError when below 1.
    - `memory_capacity`: memory qubits of the nodes named (a .vorn file's ``memory_capacity``); every other node
      has `memories_per_link_end` for each link at it.
    - `seed`: run i uses seed + i; None takes one from the clock.
    - `executor` (any `concurrent.futures.Executor`, a dask.distributed cluster's ``client.get_executor()``) or
      `workers` (a local process pool of that many) runs the replicates in shards (`shards` of them, or as many
      as keep a bar moving); every shard that comes back is checked against the runs it was asked for;
      `progress`: a bar over the
      runs (None: when tqdm is there and the output is a terminal or a notebook). The result is the same bit
      for bit however the runs are cut.

    Ctrl-C stops the run with KeyboardInterrupt.
    """
    from .physics import _count, _seed, _settings

    nodes, links, wanted = tuple(nodes), tuple(links), tuple(demands)
    for demand in wanted:
        if not isinstance(demand, Demand):
            raise TypeError(f"demands: each must be a Demand, got {demand!r}")
    if not wanted:
        raise ValueError("demands: at least one demand is needed")
    if not (isinstance(duration_ms, (int, float)) and 0 < duration_ms < math.inf):
        raise ValueError(f"duration_ms: must be positive and finite, got {duration_ms!r}")
    if policy not in POLICIES:
        raise ValueError(f"policy: must be one of {', '.join(map(repr, POLICIES))}, got {policy!r}")
    model, code = _settings(model, strategy)
    runs = _count(replicates, "replicates")
    if runs == 0:
        raise ValueError("replicates: at least one run is needed, got 0")
    per_end = _count(memories_per_link_end, "memories_per_link_end")
    capacity = dict(memory_capacity or {})
    base_seed = _seed(seed)
    if workers is not None and _count(workers, "workers") == 0:
        raise ValueError("workers: at least one worker is needed, got 0")
    arguments = (
        nodes,
        links,
        [(d.from_node, d.to, d.arrival_rate_hz, d.max_outstanding) for d in wanted],
        _count(paths, "paths"),
        [None if capacity.get(node.id) is None else _count(capacity[node.id], "memory_capacity") for node in nodes],
        per_end,
        float(duration_ms),
    )
    settings = (model, code, POLICIES[policy])
    # Refusals come at once and once: a call of no runs checks the network, the demands and the model.
    routes, ends, memories, _ = _native.physics_network(*arguments, 0, *settings, base_seed)
    task = _jobs.Task(_runs, (arguments, *settings), runs, base_seed)

    def pieces(pool: Executor | None) -> list[Any]:
        found = next(
            _jobs.run_tasks(
                [task], runs, _outcomes, executor=pool, shards=shards, progress=progress, description="runs", unit="run"
            )
        )
        return [outcome for piece in found for outcome in piece]

    if executor is None and workers is not None:
        with _jobs.process_pool(workers) as pool:
            outcomes = pieces(pool)
    else:
        outcomes = pieces(executor)
    from .physics import _Z95 as z

    seconds = duration_ms / 1000.0
    total_ms = duration_ms * runs
    return NetworkStats(
        float(duration_ms),
        runs,
        base_seed,
        policy,
        tuple(
            _demand_stats(demand, routes[k], [outcome[0][k] for outcome in outcomes], seconds, z)
            for k, demand in enumerate(wanted)
        ),
        tuple(_link_stats(a, b, [outcome[1][k] for outcome in outcomes], total_ms) for k, (a, b) in enumerate(ends)),
        tuple(
            NodeStats(
                node.id,
                memories[k],
                math.fsum(outcome[2][k][0] for outcome in outcomes) / total_ms,
                max(outcome[2][k][1] for outcome in outcomes),
            )
            for k, node in enumerate(nodes)
        ),
    )
