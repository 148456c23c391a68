"""vorn_core's records at the companion's entry points: the arguments checked once, before anything runs,
and the function that runs a range of trials (a shard).

Nodes, links, configurations and requests are vorn_core's own records throughout: they pickle, so they
travel to any worker as they are, and sweeps vary copies of them (`varied`). vorn._native takes them as
they are and checks every figure by the one set of rules in core, so nothing here restates a field or a
range.
"""

from __future__ import annotations

import copy
import operator
import warnings
from collections.abc import Iterable
from typing import Any, NamedTuple, TypeVar

import vorn_core as vc

from . import _native

SEEDS = 2**64
# The figures of a node and of a link (their fields that are numbers), in the order of their descriptions.
NODE_FIGURES, LINK_FIGURES = (tuple(names) for names in _native.definition_figures())

Record = TypeVar("Record")


class LongSearchWarning(UserWarning):
    """A route search that will likely take more than about a second, said before it starts: HighestSuccess
    over many nodes, or every path scored on a large network. Ctrl-C stops it."""


class Setup(NamedTuple):
    """What one ensemble runs: the network, the configuration (None: ``VornEngine()``'s) and the request."""

    nodes: tuple[vc.NodeDefinition, ...]
    links: tuple[vc.LinkDefinition, ...]
    config: vc.SimulationConfig | None
    request: vc.EntanglementRequest


# What `_native.simulate` returns: total_runs, empirical_success_rate, mean_latency_ms, mean_fidelity,
# aggregate_congestion_drops, heatmap, successes, and the exact sums of latency (ms) and fidelity.
Piece = tuple[int, float, float, float, int, dict[str, int], int, Any, Any]


def members(cls: type) -> list[Any]:
    """The members of one of vorn_core's enumerations, in the order of their numbers."""
    found = [value for value in vars(cls).values() if type(value) is cls]
    return sorted(found, key=lambda member: int(member.to_u8()))


def member_name(member: object, cls: type) -> str:
    """The name of an enumeration member of `cls` ("Fiber" for LinkType.Fiber).

    Members read from a record are new objects, so neither identity nor a dict of members finds them;
    pickling reduces a member to ``getattr(cls, name)``, which names it without parsing any text.
    """
    if type(member) is not cls:
        raise TypeError(f"expected a {cls.__name__} member, got {type(member).__name__}")
    reduced = member.__reduce__()
    if isinstance(reduced, tuple) and len(reduced) == 2 and isinstance(reduced[1], tuple) and len(reduced[1]) == 2:
        owner, name = reduced[1]
        if owner is cls and isinstance(name, str):
            return name
    raise TypeError(f"expected a {cls.__name__} member, got {member!r}")


def count(value: object, name: str) -> int:
    """A count argument (runs, shards, workers): a whole number from 0 to 2**64 - 1."""
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"argument '{name}': expected a whole number, got {type(value).__name__}") from None
    if not 0 <= number < SEEDS:
        raise ValueError(f"argument '{name}': must be a whole number from 0 to 2**64 - 1, got {number}")
    return number


def seed_of(seed: object, name: str = "seed") -> int | None:
    """A seed argument: None or a whole number from 0 to 2**64 - 1."""
    return None if seed is None else count(seed, name)


def varied(record: Record, **changes: Any) -> Record:
    """A copy of a record with some attributes set."""
    changed = copy.copy(record)
    for name, value in changes.items():
        setattr(changed, name, value)
    return changed


def with_purify_factor(config: vc.SimulationConfig, factor: float) -> vc.SimulationConfig:
    """A copy of a configuration with another ``physical.baseline_purify_factor``."""
    return varied(config, physical=varied(config.physical, baseline_purify_factor=factor))


def definitions(
    nodes: Iterable[vc.NodeDefinition], links: Iterable[vc.LinkDefinition]
) -> tuple[tuple[vc.NodeDefinition, ...], tuple[vc.LinkDefinition, ...]]:
    """The node and link definitions of two iterables, taken once."""
    for value, name in ((nodes, "nodes"), (links, "links")):
        if isinstance(value, (str, bytes)) or not isinstance(value, Iterable):
            raise TypeError(f"argument '{name}': expected a sequence of definitions, got {type(value).__name__}")
    return tuple(nodes), tuple(links)


def setup(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    config: vc.SimulationConfig | None,
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    strategy: vc.StrategyType | None = None,
) -> Setup:
    """An ensemble's network, configuration and request, refused loudly (ValueError naming the figure or
    node) where the engine would quietly report no success: unknown nodes, a figure out of its range, a
    node id defined twice. Warns (LongSearchWarning) when the request's route search will likely be long."""
    if strategy is not None and not isinstance(strategy, vc.StrategyType):
        raise TypeError(f"argument 'strategy': expected StrategyType or None, got {type(strategy).__name__}")
    if config is not None and not isinstance(config, vc.SimulationConfig):
        raise TypeError(f"argument 'config': expected SimulationConfig or None, got {type(config).__name__}")
    node_list, link_list = definitions(nodes, links)
    request = vc.EntanglementRequest(from_node, to, fidelity_target, max_latency_ms, strategy)
    checked = Setup(node_list, link_list, config, request)
    warn_if_long_search(checked)
    return checked


def warn_if_long_search(checked: Setup) -> None:
    """Checks the network, the configuration and the request, and warns (LongSearchWarning, pointing at the
    caller of the companion's entry point) when the request's route search will likely take more than about a
    second."""
    request = checked.request
    nodes, links, log2_paths, _, exponential, likely_long = _native.route_search_estimate(
        checked.nodes, checked.links, checked.config, request
    )
    if not likely_long:
        return
    strategy = member_name(request.strategy or vc.StrategyType.HighestFidelity, vc.StrategyType)
    growth = "a search that grows exponentially with them" if exponential else "every path scored"
    warnings.warn(
        LongSearchWarning(
            f"the route search from {request.from_node!r} to {request.to!r} under {strategy} will likely take "
            f"more than a second: {nodes} nodes and {links} links lie on paths between them (up to about "
            f"2**{log2_paths:.0f} paths), for {growth}; Ctrl-C stops it"
        ),
        stacklevel=4,
    )


def run(checked: Setup, runs: int, seed: int) -> Piece:
    """Trials seed .. seed + runs - 1 (modulo 2**64) of the request: vorn_core's timeline with loss draws
    keyed by each trial's own seed, so that the result depends on nothing but these arguments."""
    piece: Piece = _native.simulate(checked.nodes, checked.links, checked.config, checked.request, runs, seed)
    return piece
