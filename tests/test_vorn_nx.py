import pytest
import vorn_core as vc
from conftest import network_figures

nx = pytest.importorskip("networkx")
from vorn.nx import from_networkx, to_networkx  # noqa: E402


def network():
    nodes = [vc.NodeDefinition("A", 1.0), vc.NodeDefinition("B", 2.0), vc.NodeDefinition("C", 3.0)]
    links = [
        vc.LinkDefinition("B", "C", 30.0, 0.9, 100.0),
        vc.LinkDefinition("A", "B", 10.0, 0.95, 500.0),
        vc.LinkDefinition("B", "A", 12.0, 0.97, 400.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.8)),
    ]
    return nodes, links


def test_round_trip_keeps_parallel_links_their_ends_and_their_order():
    graph = to_networkx(*network())
    assert isinstance(graph, nx.MultiGraph) and graph.number_of_edges("A", "B") == 2
    assert graph.nodes["B"] == {"memory_lifetime_t2": 2.0}
    assert graph.edges["A", "B", 2] == {
        "from_node": "B",
        "to": "A",
        "distance_km": 12.0,
        "base_fidelity": 0.97,
        "generation_rate_hz": 400.0,
        "link_type": "Satellite",
        "satellite_visibility": 0.5,
        "satellite_weather_factor": 0.8,
    }
    assert network_figures(*from_networkx(graph)) == network_figures(*network())


def test_payload_and_file_give_the_engine_definitions(tmp_path):
    assert network_figures(*from_networkx(to_networkx(vc.NetworkTopologyPayload(*network())))) == network_figures(
        *network()
    )
    qf = vc.VornFile("net")
    qf.add_node("A", 1500.0)
    qf.add_node("B")
    qf.add_link("L1", "B", "A", 10.0, 0.9, 100.0, vc.VornLinkType.Satellite, vc.VornSatelliteExtension(0.5, 0.8))
    assert network_figures(*from_networkx(to_networkx(qf))) == (
        [("A", 1.5), ("B", 1.0)],
        [("B", "A", 10.0, 0.9, 100.0, "LinkType.Satellite", (0.5, 0.8))],
    )


def test_any_graph_with_defaults_for_missing_figures():
    graph = nx.path_graph(3)
    graph.nodes[0]["memory_lifetime_t2"] = 9.0
    assert network_figures(
        *from_networkx(graph, memory_lifetime_t2=1.0, distance_km=5.0, base_fidelity=0.9, generation_rate_hz=10.0)
    ) == (
        [("0", 9.0), ("1", 1.0), ("2", 1.0)],
        [("0", "1", 5.0, 0.9, 10.0, "LinkType.Fiber", None), ("1", "2", 5.0, 0.9, 10.0, "LinkType.Fiber", None)],
    )
    with pytest.raises(ValueError, match="^node 1 has no memory_lifetime_t2; pass memory_lifetime_t2= "):
        from_networkx(graph)
    with pytest.raises(TypeError, match="expected node and link definitions"):
        to_networkx([vc.NodeDefinition("A", 1.0)])
