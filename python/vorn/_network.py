"""A network, a configuration and a request as plain Python data, checked once at the entry point.

What a job needs crosses a process or machine boundary as tuples of the record fields, which sweeps vary
with ``_replace``, and reaches `vorn._native` as it is: the native functions take exactly these tuples.
"""

from __future__ import annotations

import operator
import warnings
from collections.abc import Iterable
from typing import Any, NamedTuple

import vorn_core as vc

from . import _native

SEEDS = 2**64
LINK_FIGURES = ("distance_km", "base_fidelity", "generation_rate_hz")
NAMES_SHOWN = 12  # node ids listed in a refusal before "..."


class Node(NamedTuple):
    id: str
    memory_lifetime_t2: float  # seconds


class Link(NamedTuple):
    from_node: str
    to: str
    distance_km: float
    base_fidelity: float
    generation_rate_hz: float
    link_type: str = "Fiber"  # member name of vorn_core.LinkType
    satellite_conditions: tuple[float, float] | None = None  # (visibility, weather_factor)


class Physical(NamedTuple):
    baseline_purify_factor: float
    speed_of_light_in_fiber_km_ms: float  # km/ms


class Config(NamedTuple):  # the fields of SimulationConfig, in its order
    physical: Physical
    total_time_cutoff_ms: float  # ms
    step_resolution_ms: float  # ms

    @classmethod
    def of(cls, plain: tuple[tuple[float, float], float, float]) -> Config:
        """The configuration of the plain tuple the native functions give."""
        physical, cutoff, step = plain
        return cls(Physical(*physical), cutoff, step)

    def with_purify_factor(self, factor: float) -> Config:
        return self._replace(physical=self.physical._replace(baseline_purify_factor=factor))


class LongSearchWarning(UserWarning):
    """A route search that will likely take more than about a second, said before it starts: HighestSuccess
    over many nodes, or every path scored on a large network. Ctrl-C stops it."""


class Request(NamedTuple):
    from_node: str
    to: str
    fidelity_target: float
    max_latency_ms: float
    strategy: int | None = None  # StrategyType.to_u8(), None for the engine's default


class Network(NamedTuple):
    nodes: tuple[Node, ...]
    links: tuple[Link, ...]


# What `_native.simulate` returns: total_runs, empirical_success_rate, mean_latency_ms, mean_fidelity,
# aggregate_congestion_drops, heatmap, successes, and the exact sums of latency (ms) and fidelity.
Piece = tuple[int, float, float, float, int, dict[str, int], int, Any, Any]


def members(cls: type) -> list[Any]:
    """The members of one of vorn_core's enumerations, in the order of their numbers."""
    found = [value for value in vars(cls).values() if type(value) is cls]
    return sorted(found, key=lambda member: int(member.to_u8()))


STRATEGIES = members(vc.StrategyType)


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


def _number(value: object, name: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        try:
            return float(value)  # type: ignore[arg-type]
        except (TypeError, ValueError):
            raise TypeError(f"argument '{name}': expected a number, got {type(value).__name__}") from None
    return float(value)


def fraction(value: object, name: str) -> float:
    """A fidelity: a number in [0, 1]."""
    number = _number(value, name)
    if not 0.0 <= number <= 1.0:
        raise ValueError(f"argument '{name}': must lie in [0, 1], got {number!r}")
    return number


def non_negative(value: object, name: str) -> float:
    """A length, time, rate or bound: a number that is neither negative nor NaN (infinity is allowed)."""
    number = _number(value, name)
    if not number >= 0.0:
        raise ValueError(f"argument '{name}': must be a non-negative number, got {number!r}")
    return number


def _node(node: object, index: int) -> Node:
    where = f"nodes[{index}]"
    if isinstance(node, vc.NodeDefinition):
        node = Node(node.id, node.memory_lifetime_t2)
    if not isinstance(node, Node):
        raise TypeError(f"argument 'nodes': expected NodeDefinition items, got {type(node).__name__} at {where}")
    if not isinstance(node.id, str):
        raise TypeError(f"argument 'nodes': the id of {where} is {type(node.id).__name__}, not str")
    return Node(node.id, non_negative(node.memory_lifetime_t2, f"{where}.memory_lifetime_t2"))


def _link(link: object, index: int) -> Link:
    where = f"links[{index}]"
    if isinstance(link, vc.LinkDefinition):
        record = link.satellite_conditions
        link = Link(
            link.from_node,
            link.to,
            link.distance_km,
            link.base_fidelity,
            link.generation_rate_hz,
            member_name(link.link_type, vc.LinkType),
            None if record is None else (record.visibility, record.weather_factor),
        )
    if not isinstance(link, Link):
        raise TypeError(f"argument 'links': expected LinkDefinition items, got {type(link).__name__} at {where}")
    for end in (link.from_node, link.to):
        if not isinstance(end, str):
            raise TypeError(f"argument 'links': the ends of {where} must be str, got {type(end).__name__}")
    if link.link_type not in ("Fiber", "Satellite"):
        raise ValueError(f"argument 'links': {where}.link_type must be 'Fiber' or 'Satellite', got {link.link_type!r}")
    conditions = None
    if link.satellite_conditions is not None:
        visibility, weather = link.satellite_conditions
        conditions = (
            fraction(visibility, f"{where}.satellite_conditions.visibility"),
            fraction(weather, f"{where}.satellite_conditions.weather_factor"),
        )
    return link._replace(
        distance_km=non_negative(link.distance_km, f"{where}.distance_km"),
        base_fidelity=fraction(link.base_fidelity, f"{where}.base_fidelity"),
        generation_rate_hz=non_negative(link.generation_rate_hz, f"{where}.generation_rate_hz"),
        satellite_conditions=conditions,
    )


def pack_network(nodes: Iterable[vc.NodeDefinition | Node], links: Iterable[vc.LinkDefinition | Link]) -> Network:
    """Plain data of node and link definitions, each figure checked (TypeError or ValueError naming it)."""
    for value, name in ((nodes, "nodes"), (links, "links")):
        if isinstance(value, (str, bytes)) or not isinstance(value, Iterable):
            raise TypeError(f"argument '{name}': expected a sequence of definitions, got {type(value).__name__}")
    return Network(
        tuple(_node(node, index) for index, node in enumerate(nodes)),
        tuple(_link(link, index) for index, link in enumerate(links)),
    )


def definitions(network: Network) -> tuple[list[vc.NodeDefinition], list[vc.LinkDefinition]]:
    """vorn_core's node and link definitions of plain data."""
    types = {"Fiber": vc.LinkType.Fiber, "Satellite": vc.LinkType.Satellite}
    nodes = [vc.NodeDefinition(node.id, node.memory_lifetime_t2) for node in network.nodes]
    links = [
        vc.LinkDefinition(
            link.from_node,
            link.to,
            link.distance_km,
            link.base_fidelity,
            link.generation_rate_hz,
            types[link.link_type],
            None if link.satellite_conditions is None else vc.SatelliteConditions(*link.satellite_conditions),
        )
        for link in network.links
    ]
    return nodes, links


def pack_config(config: vc.SimulationConfig | Config | None) -> Config | None:
    """Plain data of an engine configuration; None stands for the configuration of ``VornEngine()``."""
    if config is None:
        return None
    if isinstance(config, vc.SimulationConfig):
        physical = config.physical
        config = Config(
            Physical(physical.baseline_purify_factor, physical.speed_of_light_in_fiber_km_ms),
            config.total_time_cutoff_ms,
            config.step_resolution_ms,
        )
    if not isinstance(config, Config):
        raise TypeError(f"argument 'config': expected SimulationConfig or None, got {type(config).__name__}")
    return Config(
        Physical(
            non_negative(config.physical.baseline_purify_factor, "config.physical.baseline_purify_factor"),
            non_negative(
                config.physical.speed_of_light_in_fiber_km_ms, "config.physical.speed_of_light_in_fiber_km_ms"
            ),
        ),
        non_negative(config.total_time_cutoff_ms, "config.total_time_cutoff_ms"),
        non_negative(config.step_resolution_ms, "config.step_resolution_ms"),
    )


def simulation_config(config: Config | None) -> vc.SimulationConfig | None:
    """The engine configuration of plain data; None stands for the configuration of ``VornEngine()``."""
    if config is None:
        return None
    built = vc.SimulationConfig(config.total_time_cutoff_ms, config.step_resolution_ms)
    physical = built.physical
    physical.baseline_purify_factor = config.physical.baseline_purify_factor
    physical.speed_of_light_in_fiber_km_ms = config.physical.speed_of_light_in_fiber_km_ms
    built.physical = physical
    return built


def default_config() -> Config:
    """The configuration of ``VornEngine()``."""
    return Config.of(_native.engine_default_config())


def strategy_value(strategy: object) -> int | None:
    if strategy is None:
        return None
    if not isinstance(strategy, vc.StrategyType):
        raise TypeError(f"argument 'strategy': expected StrategyType or None, got {type(strategy).__name__}")
    return int(strategy.to_u8())


def strategy_member(value: int | None) -> vc.StrategyType | None:
    return None if value is None else STRATEGIES[value]


def _node_list(ids: list[str]) -> str:
    shown = ", ".join(ids[:NAMES_SHOWN])
    return shown + (", ..." if len(ids) > NAMES_SHOWN else "")


def pack_request(
    network: Network,
    from_node: object,
    to: object,
    fidelity_target: object,
    max_latency_ms: object,
    strategy: object = None,
) -> Request:
    """A request on `network`, refused loudly (ValueError naming the argument and the value) where the
    engine would quietly report no success: unknown nodes, a target outside [0, 1], a negative or NaN bound."""
    ids = [node.id for node in network.nodes]
    known = set(ids)
    for value, name in ((from_node, "from_node"), (to, "to")):
        if not isinstance(value, str):
            raise TypeError(f"argument '{name}': expected str, got {type(value).__name__}")
        if value not in known:
            listing = f" (nodes: {_node_list(ids)})" if ids else " (it has no nodes)"
            raise ValueError(f"argument '{name}': no node {value!r} in the network{listing}")
    request = Request(
        from_node,  # type: ignore[arg-type]
        to,  # type: ignore[arg-type]
        fraction(fidelity_target, "fidelity_target"),
        non_negative(max_latency_ms, "max_latency_ms"),
        strategy_value(strategy),
    )
    warn_if_long_search(network, request)
    return request


def warn_if_long_search(network: Network, request: Request) -> None:
    """A LongSearchWarning, pointing at the caller of the companion's entry point, when the request's route
    search will likely take more than about a second."""
    nodes, links, log2_paths, _, exponential, likely_long = _native.route_search_estimate(
        network.nodes, network.links, request.from_node, request.to, request.strategy
    )
    if not likely_long:
        return
    strategy = member_name(strategy_member(request.strategy) or vc.StrategyType.HighestFidelity, vc.StrategyType)
    growth = "a search that grows exponentially with them" if exponential else "every path scored"
    warnings.warn(
        LongSearchWarning(
            f"the route search from {request.from_node!r} to {request.to!r} under {strategy} will likely take "
            f"more than a second: {nodes} nodes and {links} links lie on paths between them (up to about "
            f"2**{log2_paths:.0f} paths), for {growth}; Ctrl-C stops it"
        ),
        stacklevel=4,
    )


def run(network: Network, config: Config | None, request: Request, runs: int, seed: int) -> Piece:
    """Trials seed .. seed + runs - 1 (modulo 2**64) of the request: vorn_core's timeline with loss draws
    keyed by each trial's own seed, so that the result depends on nothing but these arguments."""
    piece: Piece = _native.simulate(
        network.nodes,
        network.links,
        config,
        request.from_node,
        request.to,
        request.fidelity_target,
        request.max_latency_ms,
        runs,
        request.strategy,
        seed,
    )
    return piece


def reference_network(name: str) -> Network:
    """The network of a reference topology, by any name that ``compare_topologies`` accepts."""
    nodes, links = _native.reference_network(name)
    return Network(tuple(Node(*node) for node in nodes), tuple(Link(*link) for link in links))


def file_network(qf: vc.VornFile) -> tuple[Network, Config]:
    """The network and configuration that ``from_vorn_file`` gives an engine for a loaded file."""
    nodes = [(node.id, node.memory_lifetime_ms) for node in qf.nodes]
    links = [
        (
            link.src,
            link.to,
            link.distance_km,
            link.base_fidelity,
            link.generation_rate_hz,
            None if link.link_type is None else member_name(link.link_type, vc.VornLinkType).lower(),
            None if link.satellite is None else (link.satellite.visibility, link.satellite.weather_factor),
        )
        for link in qf.links
    ]
    section = qf.config
    config = None if section is None else (section.alpha_loss, section.max_attempts)
    plain_nodes, plain_links, plain_config = _native.vorn_network(nodes, links, config)
    network = Network(tuple(Node(*node) for node in plain_nodes), tuple(Link(*link) for link in plain_links))
    return network, Config.of(plain_config)
