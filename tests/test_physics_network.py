"""The network model through vorn.physics: its results from a network of records, the account of its pairs,
one link shared in turn, and its refusals. The model's exact checks are in tests/cpp/test_network_model.cpp."""

import math
from concurrent.futures import ThreadPoolExecutor

import pytest
import vorn_core as vc
from conftest import ctrl_c_after

import vorn.physics as physics


def star():
    """A hub H with three leaves, 20 km links at 1 kHz; T2 of 1 s."""
    nodes = [vc.NodeDefinition(id, 1.0) for id in ("H", "A", "B", "C")]
    links = [vc.LinkDefinition("H", leaf, 20.0, 0.97, 1000.0) for leaf in ("A", "B", "C")]
    return nodes, links


@pytest.mark.parametrize("policy", ["fifo", "round_robin"])
def test_results_from_records_balance_and_share(policy):
    nodes, links = star()
    demands = [physics.Demand("A", "B", max_outstanding=1), physics.Demand("A", "C", arrival_rate_hz=50.0)]
    model = physics.PhysicalModel(swap_success_probability=0.8, cutoff_ms=20.0)
    stats = physics.network(nodes, links, demands, 500.0, model, policy=policy, replicates=4, seed=3)
    assert [d.path for d in stats.demands] == [("A", "H", "B"), ("A", "H", "C")]
    assert stats.generated == stats.used + stats.discarded + stats.lost + stats.held
    assert all(
        d.delivered > 0 and d.throughput_hz_interval[0] < d.throughput_hz < d.throughput_hz_interval[1]
        for d in stats.demands
    )
    assert stats.used == sum(d.delivered * (len(d.path) - 1) for d in stats.demands)
    assert 0 < stats.fairness <= 1 and {n.node: n.memories for n in stats.nodes} == {"H": 3, "A": 1, "B": 1, "C": 1}
    assert all(0 < n.mean_occupied <= n.most_occupied <= n.memories for n in stats.nodes)
    with ThreadPoolExecutor(2) as pool:
        again = physics.network(nodes, links, demands, 500.0, model, policy=policy, replicates=4, seed=3, executor=pool)
    assert again.to_dict() == stats.to_dict() and "total throughput" in repr(stats)


def test_a_demand_spreads_over_its_best_routes():
    """A ring of four: two disjoint routes of two equal links from A to C. One request at a time per route makes
    each route a renewal process of its own, so two routes deliver twice what one does."""
    nodes = [vc.NodeDefinition(id, 1.0) for id in "ABCD"]
    links = [vc.LinkDefinition(a, b, 20.0, 0.97, 1000.0) for a, b in ("AB", "BC", "CD", "DA")]
    model = physics.PhysicalModel(swap_success_probability=0.8)

    def served(max_outstanding, **paths):
        demand = physics.Demand("A", "C", max_outstanding=max_outstanding)
        stats = physics.network(nodes, links, [demand], 1000.0, model, replicates=8, seed=5, **paths)
        assert stats.generated == stats.used + stats.discarded + stats.lost + stats.held and stats.lost > 0
        found = stats.demands[0]
        assert sum(found.delivered_by_path) == found.delivered and stats.used == 2 * found.delivered
        return found

    one, two = served(1), served(2, paths=2)
    assert served(1, paths=1) == one and one.paths == (one.path,) == (("A", "B", "C"),)
    assert two.paths == (("A", "B", "C"), ("A", "D", "C")) and served(2, paths=9) == two
    low, high = two.throughput_hz_interval
    assert low <= 2 * one.throughput_hz_interval[1] and 2 * one.throughput_hz_interval[0] <= high
    assert min(served(None, paths=2).delivered_by_path) > 0


@pytest.mark.parametrize(
    ("change", "error", "message"),
    [
        ({"demands": [physics.Demand("A", "Z")]}, ValueError, "no node 'Z'"),
        ({"demands": []}, ValueError, "at least one demand"),
        ({"duration_ms": math.inf}, ValueError, "duration_ms"),
        ({"policy": "lifo"}, ValueError, "policy"),
        ({"model": 1}, TypeError, "model"),
        ({"paths": 0}, ValueError, "paths: must be at least 1, got 0"),
        ({"paths": -1}, ValueError, "paths: must be a non-negative integer"),
        ({"paths": 1.5}, TypeError, "paths: must be an integer, got 1.5"),
    ],
)
def test_refusals(change, error, message):
    nodes, links = star()
    arguments = {"demands": [physics.Demand("A", "B")], "duration_ms": 10.0, "model": None, **change}
    with pytest.raises(error, match=message):
        physics.network(
            nodes,
            links,
            arguments["demands"],
            arguments["duration_ms"],
            arguments["model"],
            policy=change.get("policy", "fifo"),
            paths=change.get("paths", 1),
        )
    with pytest.raises(ValueError, match="arrival_rate_hz"):
        physics.Demand("A", "B", arrival_rate_hz=0.0)


def test_ctrl_c_stops_a_long_run():
    nodes, links = star()
    with ctrl_c_after(0.2), pytest.raises(KeyboardInterrupt):
        physics.network(nodes, links, [physics.Demand("A", "B")], 1e9, replicates=1)
