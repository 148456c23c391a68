"""The two models that the companion's analyses (sweeps, sensitivity, comparisons) run on a network, behind one
interface: vorn_core's timeline (``model=None``) and the physical model of `vorn.physics` (``model=`` a
``PhysicalModel``).

A point is what one ensemble runs: for the timeline a `_network.Setup` (network, configuration, request), for
the physical model the request of `vorn.physics` (network, ends, parameters, strategy). Both keep their network
as `nodes` and `links`, so the network's figures vary alike; each model says which keys it reads, how a key
changes a point, and how its ensembles run and merge.
"""

from __future__ import annotations

import os
import sys
import warnings
from collections.abc import Iterable, Iterator
from concurrent.futures import Executor
from typing import Any, Protocol

import vorn_core as vc

from . import _jobs, _network, inputs, parallel, physics
from .stats import EnsembleStats, pool

NETWORK_FIGURES = (*_network.NODE_FIGURES, *_network.LINK_FIGURES)
TIMELINE = "vorn_core's timeline"
PHYSICAL = "the physical model"


class UnreadInputWarning(UserWarning):
    """An analysis varies an input that the model it runs does not read: every value gives the same figures."""


class Model(Protocol):
    name: str  # as a message names it
    figure: str  # the figure a sensitivity analysis or a comparison looks at by default

    def point(
        self,
        nodes: Iterable[vc.NodeDefinition],
        links: Iterable[vc.LinkDefinition],
        from_node: str,
        to: str,
        fidelity_target: float | None,
        max_latency_ms: float | None,
        strategy: vc.StrategyType | None,
        config: vc.SimulationConfig | None,
    ) -> Any: ...
    def own_keys(self) -> list[str]: ...
    def reads(self, key: str, point: Any) -> bool: ...
    def apply(self, key: str, value: float, point: Any) -> Any: ...
    def ensembles(
        self,
        jobs: Iterable[tuple[Any, int, int]],
        total: int,
        *,
        executor: Executor | None,
        workers: int | None,
        progress: bool | None,
        description: str,
    ) -> Iterator[Any]: ...
    def pooled(self, replicates: list[Any], seed: int) -> Any: ...


class Timeline:
    """vorn_core's timeline: a request's success under a fidelity target and a latency bound."""

    name = TIMELINE
    figure = "success_rate"

    def point(
        self,
        nodes: Iterable[vc.NodeDefinition],
        links: Iterable[vc.LinkDefinition],
        from_node: str,
        to: str,
        fidelity_target: float | None,
        max_latency_ms: float | None,
        strategy: vc.StrategyType | None,
        config: vc.SimulationConfig | None,
    ) -> _network.Setup:
        if fidelity_target is None or max_latency_ms is None:
            raise TypeError(
                "vorn_core's timeline needs a fidelity_target and a max_latency_ms (for waiting time, fidelity and key "
                "rate from the physical model, pass model=vorn.physics.PhysicalModel())"
            )
        return _network.setup(nodes, links, config, from_node, to, fidelity_target, max_latency_ms, strategy)

    def own_keys(self) -> list[str]:
        return []

    def reads(self, key: str, point: _network.Setup) -> bool:
        return inputs.reads(key, point.request.strategy)

    def apply(self, key: str, value: float, point: _network.Setup) -> _network.Setup:
        from .sweep import apply

        return apply(key, value, point)

    def ensembles(
        self,
        jobs: Iterable[tuple[Any, int, int]],
        total: int,
        *,
        executor: Executor | None,
        workers: int | None,
        progress: bool | None,
        description: str,
    ) -> Iterator[EnsembleStats]:
        return parallel.ensembles(
            jobs, total, executor=executor, workers=workers, shards=None, progress=progress, description=description
        )

    def pooled(self, replicates: list[EnsembleStats], seed: int) -> EnsembleStats:
        return pool(replicates, seed)


class Physical:
    """The physical model of `vorn.physics` under the given parameters."""

    name = PHYSICAL
    figure = "secret_key_rate_bps"

    def __init__(self, model: physics.PhysicalModel) -> None:
        self.model = model

    def point(
        self,
        nodes: Iterable[vc.NodeDefinition],
        links: Iterable[vc.LinkDefinition],
        from_node: str,
        to: str,
        fidelity_target: float | None,
        max_latency_ms: float | None,
        strategy: vc.StrategyType | None,
        config: vc.SimulationConfig | None,
    ) -> physics._Request:
        for value, name in (
            (fidelity_target, "fidelity_target"),
            (max_latency_ms, "max_latency_ms"),
            (config, "config"),
        ):
            if value is not None:
                warn_unread(name, self.name)
        node_list, link_list = _network.definitions(nodes, links)
        request = physics._request(node_list, link_list, from_node, to, self.model, strategy)
        physics.route(node_list, link_list, from_node, to, self.model, strategy)  # refuses what no trial can run
        return request

    def own_keys(self) -> list[str]:
        return [parameter.name for parameter in physics.parameters()]

    def reads(self, key: str, point: physics._Request) -> bool:
        figure = key.partition(":")[0]
        return figure in NETWORK_FIGURES or figure in self.own_keys()

    def apply(self, key: str, value: float, point: physics._Request) -> physics._Request:
        from .sweep import apply

        if key in self.own_keys():
            return point.with_model(**{key: value})
        if not self.reads(key, point):
            return point  # an input of the timeline, which warned
        varied: physics._Request = apply(key, value, point)  # type: ignore[arg-type, assignment]
        return varied

    def ensembles(
        self,
        jobs: Iterable[tuple[physics._Request, int, int]],
        total: int,
        *,
        executor: Executor | None,
        workers: int | None,
        progress: bool | None,
        description: str,
    ) -> Iterator[physics.PhysicsStats]:
        requests: list[physics._Request] = []
        seeds: list[int] = []

        def tasks() -> Iterator[_jobs.Task]:
            for request, runs, seed in jobs:
                requests.append(request)
                seeds.append(seed)
                yield request.task(runs, seed)

        def piece(result: Any, runs: int, seed: int) -> tuple[Any, int, int]:
            return result, runs, seed  # made statistics below, where the request is known

        results = parallel.stream(
            tasks(), total, piece, executor=executor, workers=workers, progress=progress, description=description
        )
        for index, pieces in enumerate(results):
            request = requests[index]
            if pieces:
                yield physics.merge(_jobs.checked(request.piece, *one) for one in pieces)
            else:
                yield request.piece(physics._shard(request, 0, seeds[index]), 0, seeds[index])

    def pooled(self, replicates: list[physics.PhysicsStats], seed: int) -> physics.PhysicsStats:
        return physics.pooled(replicates, seed)


def value(stats: Any, figure: str) -> float:
    """A figure of an ensemble's statistics (the timeline's "success_rate" is its empirical success rate)."""
    found: float = stats.empirical_success_rate if figure == "success_rate" else getattr(stats, figure)
    return found


def named(figure: str) -> tuple[str, str]:
    """A figure of either model's statistics as a reader says it, and its unit ("" for none; the key itself and
    no unit if unknown)."""
    key = "empirical_success_rate" if figure == "success_rate" else figure
    for declared in (*physics.PhysicsStats.FIGURES, *EnsembleStats.FIGURES):
        if declared.key == key:
            return declared.label, declared.unit
    return figure, ""


def label(figure: str) -> str:
    """A figure as a reader says it, with its unit."""
    name, unit = named(figure)
    return f"{name} ({unit})" if unit else name


def of(model: physics.PhysicalModel | None) -> Model:
    """The model an analysis runs: the timeline for None, else the physical model with these parameters."""
    if model is None:
        return Timeline()
    if isinstance(model, physics.PhysicalModel):
        return Physical(model)
    raise TypeError(f"argument 'model': expected None or a vorn.physics.PhysicalModel, got {type(model).__name__}")


def _caller_level() -> int:
    """The stack level of the first caller outside this package, for a warning to point at."""
    level, frame = 1, sys._getframe(1)
    while frame is not None and os.path.dirname(frame.f_code.co_filename) == _PACKAGE:
        level, frame = level + 1, frame.f_back  # type: ignore[assignment]
    return level


_PACKAGE = os.path.dirname(os.path.abspath(__file__))


def warn_unread(key: str, model: str) -> None:
    """An UnreadInputWarning that `key` is not read by `model`, pointing at the caller of the companion."""
    other = (
        "the physical model reads it: pass model=vorn.physics.PhysicalModel()"
        if model == TIMELINE
        else "vorn_core's timeline reads it (model=None)"
    )
    warnings.warn(
        UnreadInputWarning(f"{key} is not read by {model}: no value of it changes any result; {other}"),
        stacklevel=_caller_level(),
    )
