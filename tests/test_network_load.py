"""Sweeps of the network model over load: each point is the `network` call of its load, waiting grows with load,
and bad loads are refused before anything runs."""

import pytest
import vorn_core as vc

import vorn.physics as physics


def star():
    """A hub H with three leaves, 20 km links at 1 kHz; T2 of 1 s."""
    nodes = [vc.NodeDefinition(id, 1.0) for id in ("H", "A", "B", "C")]
    links = [vc.LinkDefinition("H", leaf, 20.0, 0.97, 1000.0) for leaf in ("A", "B", "C")]
    return nodes, links


DEMANDS = [physics.Demand("A", "C", arrival_rate_hz=120.0), physics.Demand("B", "C", arrival_rate_hz=120.0)]


@pytest.mark.parametrize(
    ("load", "point_demands"),
    [
        ({"rates_hz": [20, 120.0]}, [[physics.replaced(d, arrival_rate_hz=20.0) for d in DEMANDS], DEMANDS]),
        ({"counts": [1, 2]}, [DEMANDS[:1], DEMANDS]),
    ],
)
def test_points_are_the_network_calls_of_their_loads(load, point_demands):
    nodes, links = star()
    model = physics.PhysicalModel(cutoff_ms=20.0)
    points = physics.network_load(nodes, links, DEMANDS, 300.0, model, replicates=3, seed=7, **load)
    for point, demands in zip(points, point_demands):
        assert point.demands == len(demands)
        assert point.stats == physics.network(nodes, links, demands, 300.0, model, replicates=3, seed=7)
    low, high = points
    assert high.mean_waiting_time_ms > low.mean_waiting_time_ms and high.throughput_hz > low.throughput_hz
    for point in points:
        for figure, value, (below, above) in (point.figures()[0], point.figures()[1]):
            assert below < value < above, figure.key
    assert [point.to_dict()["arrival_rate_hz"] for point in points] == load.get("rates_hz", [None, None])


@pytest.mark.parametrize(
    ("load", "error", "message"),
    [
        ({}, TypeError, "either rates_hz or counts"),
        ({"rates_hz": [10.0], "counts": [1]}, TypeError, "either rates_hz or counts"),
        ({"rates_hz": []}, ValueError, "at least one load"),
        ({"rates_hz": [10.0, -1.0]}, ValueError, "arrival_rate_hz"),
        ({"rates_hz": [None]}, TypeError, "rates_hz"),
        ({"counts": [1, 3]}, ValueError, r"1 \.\. 2"),
        ({"counts": [1.0]}, TypeError, "counts"),
    ],
)
def test_bad_loads_are_refused(load, error, message):
    nodes, links = star()
    with pytest.raises(error, match=message):
        physics.network_load(nodes, links, DEMANDS, 50.0, replicates=1, **load)
