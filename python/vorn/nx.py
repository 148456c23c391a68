"""networkx graphs of vorn networks, both ways (needs the `plot` extra: networkx).

`to_networkx` gives a MultiGraph: one node per node definition with its ``memory_lifetime_t2``, one edge
per link with its figures (``distance_km``, ``base_fidelity``, ``generation_rate_hz``), its ends as defined
(``from_node``, ``to``), its ``link_type`` ("Fiber" or "Satellite") and, when it has satellite conditions,
``satellite_visibility`` and ``satellite_weather_factor``. Parallel links stay separate edges, keyed by
their position in the link list, so `from_networkx` gives the definitions back in their order.
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import Any, cast

import vorn_core as vc

from . import _native
from ._extras import require
from ._network import LINK_FIGURES, NODE_FIGURES, member_name

__all__ = ["to_networkx", "from_networkx"]

LINK_TYPE_NAMES = ("Fiber", "Satellite")


def _networkx() -> Any:
    return require("networkx", "plot", "vorn.nx")


def _file_definitions(qf: vc.VornFile) -> tuple[list[vc.NodeDefinition], list[vc.LinkDefinition]]:
    """The definitions that an engine makes of a .vorn file, in file order."""
    nodes, links, _ = _native.file_network(qf.nodes, qf.links, qf.config)
    return nodes, links


# What the functions over networks take: node definitions (with link definitions beside them), a
# NetworkTopologyPayload or a VornFile.
NetworkSource = Iterable[vc.NodeDefinition] | vc.NetworkTopologyPayload | vc.VornFile


def definitions_of(
    network: NetworkSource,
    links: Iterable[vc.LinkDefinition] | None = None,
) -> tuple[list[vc.NodeDefinition], list[vc.LinkDefinition]]:
    """Node and link definitions from (nodes, links), a NetworkTopologyPayload or a VornFile."""
    if links is not None:
        return list(cast(Iterable[vc.NodeDefinition], network)), list(links)
    if isinstance(network, vc.VornFile):
        return _file_definitions(network)
    if isinstance(network, vc.NetworkTopologyPayload):
        return network.nodes, network.links
    raise TypeError(
        "expected node and link definitions, a NetworkTopologyPayload or a VornFile, "
        f"got {type(network).__name__} without links"
    )


def to_networkx(nodes: NetworkSource, links: Iterable[vc.LinkDefinition] | None = None) -> Any:
    """A networkx MultiGraph of node and link definitions, of a NetworkTopologyPayload or of a VornFile."""
    nx = _networkx()
    node_list, link_list = definitions_of(nodes, links)
    graph = nx.MultiGraph()
    for node in node_list:
        graph.add_node(node.id, **{figure: getattr(node, figure) for figure in NODE_FIGURES})
    for index, link in enumerate(link_list):
        figures = {figure: getattr(link, figure) for figure in LINK_FIGURES}
        conditions = link.satellite_conditions
        if conditions is not None:
            figures.update(
                satellite_visibility=conditions.visibility, satellite_weather_factor=conditions.weather_factor
            )
        graph.add_edge(
            link.from_node,
            link.to,
            key=index,
            from_node=link.from_node,
            to=link.to,
            link_type=member_name(link.link_type, vc.LinkType),
            **figures,
        )
    return graph


def _figures(
    data: dict[str, Any], names: tuple[str, ...], defaults: dict[str, float | None], where: str
) -> dict[str, float]:
    """The figures of a node or an edge: its attributes, else the defaults given; a figure without either
    that is given no default parameter keeps its record's default."""
    figures = {}
    for name in names:
        value = data.get(name, defaults.get(name))
        if value is None and name in defaults:
            raise ValueError(f"{where} has no {name}; pass {name}= to from_networkx for a default")
        if value is not None:
            figures[name] = float(value)
    return figures


def from_networkx(
    graph: Any,
    memory_lifetime_t2: float | None = None,
    distance_km: float | None = None,
    base_fidelity: float | None = None,
    generation_rate_hz: float | None = None,
) -> tuple[list[vc.NodeDefinition], list[vc.LinkDefinition]]:
    """Node and link definitions from any networkx graph.

    Figures come from the node and edge attributes named as in `to_networkx`; a missing one takes the
    default given here, and without a default raises ValueError. Node names become ids with ``str``;
    two nodes whose names give the same id (1 and "1") are refused with ValueError. A link's ends are
    its ``from_node`` and ``to`` attributes when they name the edge's two nodes, else
    the edge's ends as the graph lists them. Edges of a multigraph whose keys are distinct integers come
    in key order (the order `to_networkx` recorded), other edges in the graph's order.
    """
    ids: dict[str, Any] = {}
    for name in graph.nodes:
        other = ids.setdefault(str(name), name)
        if other is not name and other != name:
            raise ValueError(f"nodes {other!r} and {name!r} would both become the node id {str(name)!r}")
    node_defaults = {"memory_lifetime_t2": memory_lifetime_t2}
    nodes = [
        vc.NodeDefinition(id=str(name), **_figures(data, NODE_FIGURES, node_defaults, f"node {name!r}"))
        for name, data in graph.nodes(data=True)
    ]
    if graph.is_multigraph():
        edges = list(graph.edges(keys=True, data=True))
        keys = [key for _, _, key, _ in edges]
        if all(isinstance(key, int) for key in keys) and len(set(keys)) == len(keys):
            edges.sort(key=lambda edge: edge[2])
        ends_and_data = [(u, v, data) for u, v, _, data in edges]
    else:
        ends_and_data = list(graph.edges(data=True))
    defaults: dict[str, float | None] = {
        "distance_km": distance_km,
        "base_fidelity": base_fidelity,
        "generation_rate_hz": generation_rate_hz,
    }
    links = []
    for u, v, data in ends_and_data:
        ends = (str(u), str(v))
        recorded = (data.get("from_node"), data.get("to"))
        if sorted(map(str, recorded)) == sorted(ends) and None not in recorded:
            ends = (str(recorded[0]), str(recorded[1]))
        where = f"link {ends[0]}->{ends[1]}"
        kind = data.get("link_type", "Fiber")
        if kind not in LINK_TYPE_NAMES:
            raise ValueError(f"{where} has link_type {kind!r}; expected one of {', '.join(LINK_TYPE_NAMES)}")
        conditions = None
        if "satellite_visibility" in data or "satellite_weather_factor" in data:
            conditions = vc.SatelliteConditions(data.get("satellite_visibility"), data.get("satellite_weather_factor"))
        links.append(
            vc.LinkDefinition(
                from_node=ends[0],
                to=ends[1],
                **_figures(data, LINK_FIGURES, defaults, where),
                link_type=getattr(vc.LinkType, kind),
                satellite_conditions=conditions,
            )
        )
    return nodes, links
