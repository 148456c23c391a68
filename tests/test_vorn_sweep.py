import math
from concurrent.futures import ThreadPoolExecutor

import pytest
import vorn_core as vc
from conftest import two_node_network

from vorn import _models, parallel, physics
from vorn.stats import Table, wilson_interval
from vorn.sweep import COLUMNS, grid_size, parameter_keys, sweep


def chain():
    return (
        [vc.NodeDefinition(f"N{i}", 150.0) for i in range(3)],
        [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(2)],
    )


def ensemble(nodes, links, target=0.8, bound=100.0, runs=300, seed=5, config=None):
    ends = nodes[0].id, nodes[-1].id
    return parallel.simulate(nodes, links, *ends, target, bound, runs, None, seed, config, workers=1)


def test_rows_hold_the_point_the_statistics_and_the_interval():
    rows = sweep(*two_node_network(), "A", "B", 0.9, 20.0, 400, {"distance_km": [10.0, 80.0]}, seed=9)
    assert isinstance(rows, Table) and rows.columns == ["distance_km"] + COLUMNS
    for row in rows:
        nodes, links = two_node_network()
        links[0].distance_km = row["distance_km"]
        expected = ensemble(nodes, links, 0.9, 20.0, 400, 9)
        assert row == {
            "distance_km": row["distance_km"],
            "runs": 400,
            "successes": expected.successes,
            "success_rate": expected.empirical_success_rate,
            "ci_low": wilson_interval(expected.successes, 400)[0],
            "ci_high": wilson_interval(expected.successes, 400)[1],
            "mean_latency_ms": expected.mean_latency_ms,
            "mean_fidelity": expected.mean_fidelity,
            "aggregate_congestion_drops": expected.aggregate_congestion_drops,
            "seed": 9,
        }


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
@pytest.mark.filterwarnings("ignore::vorn._models.UnreadInputWarning")
def test_a_key_changes_what_it_names(key, values, change):
    rows = sweep(*chain(), "N0", "N2", 0.8, 100.0, 300, {key: values}, seed=5)
    for row, value in zip(rows, values):
        nodes, links = chain()
        change(links, value)
        assert row["successes"] == ensemble(nodes, links).successes


def test_grid_is_the_product_of_its_keys_and_reaches_request_and_configuration():
    grid = {"fidelity_target": [0.5, 0.99], "max_latency_ms": [1.0, 50.0], "alpha_loss_db_km": [0.1]}
    with ThreadPoolExecutor(2) as executor:
        rows = sweep(*chain(), "N0", "N2", 0.8, 100.0, 200, grid, seed=2, executor=executor, frame=False)
    assert grid_size(grid) == 4 and [(row["fidelity_target"], row["max_latency_ms"]) for row in rows] == [
        (0.5, 1.0),
        (0.5, 50.0),
        (0.99, 1.0),
        (0.99, 50.0),
    ]
    for row in rows:
        expected = ensemble(
            *chain(), row["fidelity_target"], row["max_latency_ms"], 200, 2, vc.SimulationConfig(alpha_loss_db_km=0.1)
        )
        assert row["successes"] == expected.successes


@pytest.mark.parametrize(
    "grid",
    [
        {"memory_lifetime_t2:N1": [0.01, 1.0], "cutoff_ms": [2.0, 20.0]},
        {"modes": [1, 3], "heralding": ["midpoint", "sender_receiver"]},
    ],
)
def test_the_physical_model_runs_each_point_with_its_network_and_parameters(grid):
    rows = sweep(*chain(), "N0", "N2", runs=500, grid=grid, seed=3, model=physics.PhysicalModel(efficiency=0.5))
    assert len({(row["mean_waiting_time_ms"], row["mean_fidelity"]) for row in rows}) == 4
    for row in rows:
        nodes, links = chain()
        if "memory_lifetime_t2:N1" in grid:
            nodes[1].memory_lifetime_t2 = row["memory_lifetime_t2:N1"]
        own = {key: row[key] for key in grid if ":" not in key}
        model = physics.PhysicalModel(efficiency=0.5, **own)
        expected = physics.simulate(nodes, links, "N0", "N2", 500, model, seed=3).to_dict()
        assert row == grid_point(row, grid) | expected | {"path": "N0 - N1 - N2"}


def grid_point(row, grid):
    return {key: row[key] for key in grid}


@pytest.mark.parametrize(
    "request_, key, model, names",
    [
        ((0.8, 100.0), "memory_lifetime_t2", None, ["memory_lifetime_t2 is not read by vorn_core's timeline"]),
        (
            (0.8, None),
            "alpha_loss_db_km",
            physics.PhysicalModel(),
            ["fidelity_target is not read by the physical model", "alpha_loss_db_km is not read by the physical model"],
        ),
    ],
)
def test_a_sweep_over_what_the_model_does_not_read_warns_naming_both(request_, key, model, names):
    with pytest.warns(_models.UnreadInputWarning) as caught:
        rows = sweep(*chain(), "N0", "N2", *request_, 200, {key: [0.1, 1.0]}, seed=1, model=model)
    assert [str(warning.message).split(":")[0] for warning in caught] == names
    assert {warning.filename for warning in caught} == {__file__}
    assert rows[0] | {key: None} == rows[1] | {key: None}


def test_replicates_share_their_seeds_across_the_grid():
    rows = sweep(*chain(), "N0", "N2", 0.8, 100.0, 100, {"distance_km": [50.0, 150.0]}, seed=4, replicates=3)
    assert rows.columns[-3:] == ["replicates", "replicate_sd", "replicate_se"]
    for row in rows:
        nodes, links = chain()
        for link in links:
            link.distance_km = row["distance_km"]
        expected = parallel.simulate(nodes, links, "N0", "N2", 0.8, 100.0, 100, seed=4, workers=1, replicates=3)
        spread = expected.spread()
        assert (row["runs"], row["successes"], row["replicates"]) == (300, expected.successes, 3)
        assert (row["replicate_sd"], row["replicate_se"]) == (spread.sd, spread.se)


def test_unknown_keys_and_values_out_of_range_are_refused():
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
    for grid, error, text in (
        (
            {"distance_km:B->A": [1.0]},
            ValueError,
            "unknown sweep parameter 'distance_km:B->A'; this network has: memory_lifetime_t2, memory_lifetime_t2:A, ",
        ),
        ({"base_fidelity": [0.5, 1.5]}, ValueError, "argument 'grid['base_fidelity']': base_fidelity must be within"),
        ({"distance_km": [math.nan]}, ValueError, "argument 'grid['distance_km']': distance_km must be finite"),
        ({"distance_km": 5.0}, TypeError, "argument 'grid': the values of 'distance_km' are float, not a sequence"),
    ):
        with pytest.raises(error) as raised:
            sweep(nodes, links, "A", "B", 0.9, 20.0, 10, grid)
        assert str(raised.value).startswith(text)


def test_data_frame_when_asked_for():
    pandas = pytest.importorskip("pandas")
    grid = {"max_latency_ms": [5.0, 10.0, 20.0]}
    table = sweep(*two_node_network(), "A", "B", 0.9, 20.0, 50, grid, seed=1, frame=True)
    assert isinstance(table, pandas.DataFrame) and list(table.columns) == ["max_latency_ms"] + COLUMNS
    assert table.equals(sweep(*two_node_network(), "A", "B", 0.9, 20.0, 50, grid, seed=1).to_frame())
