"""The physical model on a whole network: many demands at once, their routes sharing links and memories.

Each demand wants end-to-end pairs between two nodes along the engine's route for the strategy: always (saturated,
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
from collections.abc import Iterable, Mapping
from concurrent.futures import Executor
from typing import Any

import vorn_core as vc

from . import _jobs, _native
from ._figures import Figure, FigureRecord

POLICIES = {"fifo": 0, "round_robin": 1}

# A demand is described once, in the native module (constructor, checks, pickling, equality); the native
# entry point takes any object with its attributes.
Demand = _native.Demand


# The results are described there too, with every field's meaning and unit, and computed there from the runs'
# tallies; these classes add their tables (repr, HTML, to_dict, to_frame).
class DemandStats(FigureRecord, _native.DemandStats):
    """What one demand got over the replicates: pairs per second of network time with its interval over the
    replicates, waiting time from request to delivery (ms), mean fidelity, and the key rate the pairs' error
    rates allow (bits per second)."""

    __slots__ = ()

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


class LinkStats(FigureRecord, _native.LinkStats):
    """One link's use over the replicates: the fraction of time it attempted, and its pairs by fate."""

    __slots__ = ()

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


class NodeStats(FigureRecord, _native.NodeStats):
    """One node's memories: how many were in use on average and at most."""

    __slots__ = ()

    FIGURES = (Figure("mean_occupied", "memories in use on average"), Figure("most_occupied", "at most"))

    def _subject(self) -> str:
        return f"{self.node} ({self.memories} memories)"

    def _fields(self) -> dict[str, Any]:
        return {"node": self.node, "memories": self.memories}


class NetworkStats(FigureRecord, _native.NetworkStats):
    """The network model's results: per demand, per link on some route and per node; the fairness of the
    throughputs (Jain's index, 1 when all are equal); and the account of every pair the links made, which
    balances exactly: generated = used + discarded + lost + held."""

    __slots__ = ()

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
    def demands(self) -> tuple[DemandStats, ...]:
        return tuple(_companion(DemandStats, demand) for demand in super().demands)

    @property
    def links(self) -> tuple[LinkStats, ...]:
        return tuple(_companion(LinkStats, link) for link in super().links)

    @property
    def nodes(self) -> tuple[NodeStats, ...]:
        return tuple(_companion(NodeStats, node) for node in super().nodes)

    def _subject(self) -> str:
        return f"{len(self.demands)} demands, {self.replicates} runs of {self.duration_ms:g} ms, {self.policy}"

    def _fields(self) -> dict[str, Any]:
        return {"duration_ms": self.duration_ms, "replicates": self.replicates, "seed": self.seed}


def _companion(cls: Any, native: Any) -> Any:
    """The native record as the companion's class over it."""
    from .physics import _field_names

    return cls(**{name: getattr(native, name) for name in _field_names(cls)})


def _runs(arguments: tuple[Any, ...], model: Any, strategy: int | None, policy: int, runs: int, seed: int) -> Any:
    """The tallies of `runs` runs from `seed`, as the job runner takes a shard."""
    nodes, links, demands, memories, per_end, duration_ms = arguments
    return _native.physics_network(
        nodes, links, demands, memories, per_end, duration_ms, runs, model, strategy, policy, seed
    )


def _outcomes(result: Any, runs: int, seed: int) -> Any:
    """A shard's runs, refused unless it holds as many as were asked from that seed (a forged or mixed-up
    result)."""
    if not isinstance(result, _native.NetworkRuns):
        raise ValueError(f"it is a {type(result).__name__}, not NetworkRuns")
    if (len(result.runs), result.seed) != (runs, seed):
        raise ValueError(f"{len(result.runs)} runs from seed {result.seed} came back")
    return result.runs


def network(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    demands: Iterable[Demand],
    duration_ms: float,
    model: Any = None,
    *,
    strategy: vc.StrategyType | None = None,
    policy: str = "fifo",
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

    - `demands`: `Demand` records (or any objects with their attributes), in the order the result reports them.
    - `model`: the physical model's parameters (None: `PhysicalModel()`); `strategy`: route choice (None:
      HighestFidelity); `policy`: ``"fifo"`` or ``"round_robin"``.
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
        wanted,
        [None if capacity.get(node.id) is None else _count(capacity[node.id], "memory_capacity") for node in nodes],
        per_end,
        float(duration_ms),
    )
    settings = (model, code, POLICIES[policy])
    # Refusals come at once and once: a call of no runs checks the network, the demands and the model.
    layout = _native.physics_network(*arguments, 0, *settings, base_seed)
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
    from .physics import replaced

    joined = replaced(layout, runs=outcomes)
    stats: NetworkStats = _companion(NetworkStats, _native.physics_network_stats(joined, policy))
    return stats
