"""Sensitivity analysis: every parameter of an ensemble's context lowered and raised by 10 %."""

import math

import pytest
import vorn_core as vc
from conftest import ctrl_c_after

NO_CONTEXT = "No simulation context available. Pass store_context=True to simulate()."


def two_node_stats(runs=400):
    """A one-link network: its trials take no loss draws, so seeded ensembles repeat exactly."""
    engine = vc.VornEngine(vc.SimulationConfig(alpha_loss_db_km=0.5))
    engine.define_network(
        [vc.NodeDefinition("A", 2.0), vc.NodeDefinition("B", 3.0)],
        [vc.LinkDefinition("A", "B", 300.0, 0.9, 1000.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.1, 0.1))],
    )
    return engine.simulate("A", "B", 0.9, 10.0, runs, seed=5)


def success_rate(nodes, link, purify, seed):
    """One ensemble of 200 trials on a fibre network built from plain values, as each variant is."""
    engine = vc.VornEngine(vc.SimulationConfig(alpha_loss_db_km=purify * 10.0))
    engine.define_network([vc.NodeDefinition(*node) for node in nodes], [vc.LinkDefinition(*link)])
    return engine.simulate("A", "B", 0.9, 10.0, 200, seed=seed % 2**64).empirical_success_rate


# Each variant of two_node_stats in evaluation order, as a function of the factor f (0.9, then 1.1).
NODES, LINK = [("A", 2.0), ("B", 3.0)], ("A", "B", 300.0, 0.9, 1000.0)
LINK_FIELDS = ("distance_km", "base_fidelity", "generation_rate_hz")
VARIANTS = {
    "memory_lifetime_t2:A": lambda f: ([("A", 2.0 * f), NODES[1]], LINK, 0.05),
    "memory_lifetime_t2:B": lambda f: ([NODES[0], ("B", 3.0 * f)], LINK, 0.05),
    **{
        f"{field}:A->B": (lambda f, i=i: (NODES, LINK[:i] + (LINK[i] * f,) + LINK[i + 1 :], 0.05))
        for i, field in enumerate(LINK_FIELDS, 2)
    },
    "alpha_loss_db_km": lambda f: (NODES, LINK, 0.2 * f / 10.0),
}


@pytest.mark.parametrize("seed_base", [11, 2**64 - 7])
def test_each_variant_runs_with_its_own_seeds(seed_base):
    stats = two_node_stats()
    b = stats.empirical_success_rate
    expected = {}
    for i, (key, variant) in enumerate(VARIANTS.items()):
        lower = success_rate(*variant(0.9), seed_base + 2 * i)
        upper = success_rate(*variant(1.1), seed_base + 2 * i + 1)
        expected[key] = (abs(upper - b) + abs(lower - b)) / b
    ranking = stats.sensitivity_analysis(seed_base)
    # A repeat gives the same ranking: the analysis left the statistics and their context as it found them.
    assert ranking == expected and ranking == stats.sensitivity_analysis(seed_base)
    assert stats.empirical_success_rate == b and stats._context.nodes == [("A", 2.0), ("B", 3.0)]
    assert list(ranking.values()) == sorted(ranking.values(), reverse=True)


def test_no_context():
    stats = vc.MonteCarloStats(10, 0.5, 1.0, 0.9, 0, {})
    with pytest.raises(ValueError) as raised:
        stats.sensitivity_analysis(1)
    assert str(raised.value) == NO_CONTEXT
    stats._context = two_node_stats(runs=10)._context
    assert "alpha_loss_db_km" in stats.sensitivity_analysis(1)


def test_degenerate_baselines_keep_the_evaluation_order():
    stats = two_node_stats()
    stats.empirical_success_rate = 0.0099  # below one percent: no impact
    assert list(stats.sensitivity_analysis(3).items()) == [(key, 0.0) for key in VARIANTS]
    ranking = two_node_stats(runs=0).sensitivity_analysis(3)
    assert list(ranking) == list(VARIANTS) and all(math.isnan(v) for v in ranking.values())


def test_odd_contexts():
    stats = two_node_stats(runs=10)
    context = stats._context
    context.nodes, context.links = [], []
    stats._context = context
    assert list(stats.sensitivity_analysis(0)) == ["alpha_loss_db_km"]
    # Links naming nodes the node list lacks are kept; two links A->B share their three keys.
    context.nodes, context.links = (
        [("A", 1.0), ("B", 1.0)],
        [("A", "B", 10.0, 0.9, 100.0), ("A", "X", 10.0, 0.9, 100.0), ("A", "B", 2000.0, 0.1, 1.0)],
    )
    stats._context = context
    assert set(stats.sensitivity_analysis(0)) == {
        "memory_lifetime_t2:A",
        "memory_lifetime_t2:B",
        "alpha_loss_db_km",
        *(f"{f}:{hop}" for hop in ("A->B", "A->X") for f in LINK_FIELDS),
    }


def test_ctrl_c_stops_a_long_analysis():
    engine = vc.VornEngine(vc.SimulationConfig(total_time_cutoff_ms=math.inf))
    engine.define_network(
        [vc.NodeDefinition(f"N{i}", 1.0) for i in range(2000)], [vc.LinkDefinition("N0", "N1", 4000.0, 0.9, 1.0)]
    )
    stats = engine.simulate("N0", "N1", 0.9, math.inf, 1, seed=1)
    with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.3):
        stats.sensitivity_analysis(1)
