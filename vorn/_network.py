"""A network, a configuration and a request as plain Python data.

What a job needs crosses a process or machine boundary as tuples of the record fields, which sweeps vary
with ``_replace``, and is rebuilt into records on the other side.
"""

from __future__ import annotations

import operator
from collections.abc import Iterable
from typing import NamedTuple

import vorn_core as vc

SEEDS = 2**64
LINK_FIGURES = ("distance_km", "base_fidelity", "generation_rate_hz")


class Node(NamedTuple):
    id: str
    memory_lifetime_t2: float


class Link(NamedTuple):
    from_node: str
    to: str
    distance_km: float
    base_fidelity: float
    generation_rate_hz: float
    link_type: str = "Fiber"  # member name of vorn_core.LinkType
    satellite_conditions: tuple[float, float] | None = None  # (visibility, weather_factor)


class Config(NamedTuple):
    total_time_cutoff_ms: float
    step_resolution_ms: float
    baseline_purify_factor: float
    speed_of_light_in_fiber_km_ms: float


class Request(NamedTuple):
    from_node: str
    to: str
    fidelity_target: float
    max_latency_ms: float
    strategy: int | None = None  # StrategyType.to_u8(), None for the engine's default


# The fields of MonteCarloStats without its context, in constructor order.
StatsFields = tuple[int, float, float, float, int, dict[str, int]]


class Network(NamedTuple):
    nodes: tuple[Node, ...]
    links: tuple[Link, ...]


LINK_TYPES = {"Fiber": vc.LinkType.Fiber, "Satellite": vc.LinkType.Satellite}
STRATEGIES = {
    member.to_u8(): member
    for member in (vc.StrategyType.LowestLatency, vc.StrategyType.HighestFidelity, vc.StrategyType.HighestSuccess)
}


def count(value: int, name: str) -> int:
    """An unsigned 64-bit count argument, checked before any work starts."""
    try:
        number = operator.index(value)
    except TypeError as error:
        raise TypeError(f"argument '{name}': {error}") from None
    if not 0 <= number < SEEDS:
        raise OverflowError(f"argument '{name}': must be a non-negative integer below 2**64, got {number}")
    return number


def link_type_name(link_type: vc.LinkType | vc.VornLinkType) -> str:
    """ "Fiber" or "Satellite", for a link's type or a file link's."""
    # Enumeration members compare by identity and a record hands out a new one on each read: the repr
    # ("LinkType.Fiber") names the member.
    if type(link_type) not in (vc.LinkType, vc.VornLinkType):
        raise TypeError(f"not a LinkType: {link_type!r}")
    return repr(link_type).rpartition(".")[2]


def pack_network(nodes: Iterable[vc.NodeDefinition], links: Iterable[vc.LinkDefinition]) -> Network:
    """Plain data of node and link definitions (check them first: `checked_engine`)."""
    packed_nodes = tuple(Node(node.id, node.memory_lifetime_t2) for node in nodes)
    packed_links = []
    for link in links:
        conditions = link.satellite_conditions
        packed_links.append(
            Link(
                link.from_node,
                link.to,
                link.distance_km,
                link.base_fidelity,
                link.generation_rate_hz,
                link_type_name(link.link_type),
                None if conditions is None else (conditions.visibility, conditions.weather_factor),
            )
        )
    return Network(packed_nodes, tuple(packed_links))


def definitions(network: Network) -> tuple[list[vc.NodeDefinition], list[vc.LinkDefinition]]:
    nodes = [vc.NodeDefinition(node.id, node.memory_lifetime_t2) for node in network.nodes]
    links = []
    for link in network.links:
        conditions = link.satellite_conditions
        links.append(
            vc.LinkDefinition(
                link.from_node,
                link.to,
                link.distance_km,
                link.base_fidelity,
                link.generation_rate_hz,
                LINK_TYPES[link.link_type],
                None if conditions is None else vc.SatelliteConditions(*conditions),
            )
        )
    return nodes, links


def pack_config(config: vc.SimulationConfig | None) -> Config | None:
    if config is None:
        return None
    physical = config.physical
    return Config(
        config.total_time_cutoff_ms,
        config.step_resolution_ms,
        physical.baseline_purify_factor,
        physical.speed_of_light_in_fiber_km_ms,
    )


def simulation_config(config: Config | None) -> vc.SimulationConfig | None:
    """The engine configuration; None stands for the configuration of `VornEngine()`."""
    if config is None:
        return None
    built = vc.SimulationConfig(config.total_time_cutoff_ms, config.step_resolution_ms)
    physical = built.physical
    physical.baseline_purify_factor = config.baseline_purify_factor
    physical.speed_of_light_in_fiber_km_ms = config.speed_of_light_in_fiber_km_ms
    built.physical = physical
    return built


def pack_request(
    from_node: str, to: str, fidelity_target: float, max_latency_ms: float, strategy: vc.StrategyType | None
) -> Request:
    return Request(from_node, to, fidelity_target, max_latency_ms, None if strategy is None else strategy.to_u8())


def strategy(request: Request) -> vc.StrategyType | None:
    return None if request.strategy is None else STRATEGIES[request.strategy]


def engine(network: Network, config: Config | None) -> vc.VornEngine:
    built = vc.VornEngine(simulation_config(config))
    built.define_network(*definitions(network))
    return built


def checked_engine(
    nodes: Iterable[vc.NodeDefinition], links: Iterable[vc.LinkDefinition], config: vc.SimulationConfig | None
) -> tuple[vc.VornEngine, Network]:
    """An engine on the caller's records, so that bad arguments get the engine's own errors, and their plain data."""
    node_list, link_list = list(nodes), list(links)
    built = vc.VornEngine(config)
    built.define_network(node_list, link_list)
    return built, pack_network(node_list, link_list)


def from_context(context: vc.PyMonteCarloContext) -> tuple[Network, Config]:
    """The network and configuration that sensitivity trials rebuild from a Monte Carlo context."""
    network = Network(tuple(Node(*node) for node in context.nodes), tuple(Link(*link) for link in context.links))
    config = Config(
        context.total_time_cutoff_ms,
        context.step_resolution_ms,
        context.baseline_purify_factor,
        vc.PhysicalConfig().speed_of_light_in_fiber_km_ms,
    )
    return network, config


def run(network: Network, config: Config | None, request: Request, runs: int, seed: int) -> StatsFields:
    """One ensemble on a freshly built engine, as the plain tuple of the MonteCarloStats fields (no context)."""
    stats = engine(network, config).simulate(
        request.from_node, request.to, request.fidelity_target, request.max_latency_ms, runs, strategy(request), seed
    )
    return (
        stats.total_runs,
        stats.empirical_success_rate,
        stats.mean_latency_ms,
        stats.mean_fidelity,
        stats.aggregate_congestion_drops,
        stats.link_utilization_heatmap,
    )
