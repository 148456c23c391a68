from concurrent.futures import ThreadPoolExecutor

import pytest
import vorn_core as vc
from conftest import two_node_network

from vorn.stats import successes, wilson_interval
from vorn.sweep import parameter_keys, sweep

COLUMNS = [
    "runs",
    "successes",
    "success_rate",
    "ci_low",
    "ci_high",
    "mean_latency_ms",
    "mean_fidelity",
    "aggregate_congestion_drops",
    "seed",
]


def chain():
    return (
        [vc.NodeDefinition(f"N{i}", 150.0) for i in range(3)],
        [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(2)],
    )


def ensemble(nodes, links, target=0.8, bound=100.0, runs=300, seed=5, config=None):
    engine = vc.VornEngine(config)
    engine.define_network(nodes, links)
    return engine.simulate(nodes[0].id, nodes[-1].id, target, bound, runs, seed=seed)


def test_rows_hold_the_point_the_statistics_and_the_interval():
    rows = sweep(*two_node_network(), "A", "B", 0.9, 20.0, 400, {"distance_km": [10.0, 80.0]}, seed=9, frame=False)
    assert [list(row) for row in rows] == [["distance_km"] + COLUMNS] * 2
    for row in rows:
        nodes, links = two_node_network()
        links[0].distance_km = row["distance_km"]
        expected = ensemble(nodes, links, 0.9, 20.0, 400, 9)
        assert (row["runs"], row["successes"], row["aggregate_congestion_drops"], row["seed"]) == (
            400,
            successes(expected),
            expected.aggregate_congestion_drops,
            9,
        )
        assert (row["ci_low"], row["ci_high"]) == wilson_interval(row["successes"], 400)
        assert row["mean_latency_ms"] == pytest.approx(expected.mean_latency_ms)


@pytest.mark.parametrize(
    "key, values, change",
    [
        ("base_fidelity:N1->N2", [0.85, 0.97], lambda links, value: setattr(links[1], "base_fidelity", value)),
        (
            "generation_rate_hz",
            [200.0, 2000.0],
            lambda links, value: [setattr(l, "generation_rate_hz", value) for l in links],
        ),
        ("distance_km:N0->N1", [200.0, 2000.0], lambda links, value: setattr(links[0], "distance_km", value)),
    ],
)
def test_a_key_changes_what_it_names(key, values, change):
    rows = sweep(*chain(), "N0", "N2", 0.8, 100.0, 300, {key: values}, seed=5, frame=False)
    for row, value in zip(rows, values):
        nodes, links = chain()
        change(links, value)
        assert row["successes"] == successes(ensemble(nodes, links))


def test_grid_is_the_product_of_its_keys_and_reaches_request_and_configuration():
    grid = {"fidelity_target": [0.5, 0.99], "max_latency_ms": [1.0, 50.0], "alpha_loss_db_km": [0.1]}
    with ThreadPoolExecutor(2) as executor:
        rows = sweep(*chain(), "N0", "N2", 0.8, 100.0, 200, grid, seed=2, executor=executor, frame=False)
    assert [(row["fidelity_target"], row["max_latency_ms"]) for row in rows] == [
        (0.5, 1.0),
        (0.5, 50.0),
        (0.99, 1.0),
        (0.99, 50.0),
    ]
    for row in rows:
        expected = ensemble(
            *chain(), row["fidelity_target"], row["max_latency_ms"], 200, 2, vc.SimulationConfig(alpha_loss_db_km=0.1)
        )
        assert row["successes"] == successes(expected)


def test_unknown_keys_are_refused_with_the_known_ones():
    nodes, links = two_node_network()
    assert parameter_keys(nodes, links) == [
        "memory_lifetime_t2",
        "memory_lifetime_t2:A",
        "memory_lifetime_t2:B",
        "distance_km",
        "base_fidelity",
        "generation_rate_hz",
        "distance_km:A->B",
        "base_fidelity:A->B",
        "generation_rate_hz:A->B",
        "alpha_loss_db_km",
        "fidelity_target",
        "max_latency_ms",
    ]
    with pytest.raises(
        ValueError,
        match=r"unknown sweep parameter 'distance_km:B->A'; this network has: "
        r"memory_lifetime_t2, memory_lifetime_t2:A, ",
    ):
        sweep(nodes, links, "A", "B", 0.9, 20.0, 10, {"distance_km:B->A": [1.0]})


def test_data_frame_when_pandas_is_there():
    pandas = pytest.importorskip("pandas")
    table = sweep(*two_node_network(), "A", "B", 0.9, 20.0, 50, {"max_latency_ms": [5.0, 10.0, 20.0]}, seed=1)
    assert isinstance(table, pandas.DataFrame) and list(table.columns) == ["max_latency_ms"] + COLUMNS
    assert len(table) == 3
