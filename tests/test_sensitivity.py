"""Sensitivity analysis: every parameter of an ensemble's context lowered and raised by 10 %."""
import math

import pytest

import vorn_core as vc
from conftest import ctrl_c_after

NO_CONTEXT = "No simulation context available. Pass store_context=True to simulate()."


def two_node_stats(distance_km=300.0, runs=400, seed=5):
    """A one-link network: its trials take no loss draws, so seeded ensembles repeat exactly."""
    engine = vc.VornEngine(vc.SimulationConfig(alpha_loss_db_km=0.5))
    engine.define_network([vc.NodeDefinition("A", 2.0), vc.NodeDefinition("B", 3.0)],
                          [vc.LinkDefinition("A", "B", distance_km, 0.9, 1000.0, vc.LinkType.Satellite,
                                             vc.SatelliteConditions(0.1, 0.1))])
    return engine.simulate("A", "B", 0.9, 10.0, runs, seed=seed)


def success_rate(nodes, link, purify, runs, seed):
    """One ensemble on a fibre network built from plain values, as each variant is."""
    engine = vc.VornEngine(vc.SimulationConfig(alpha_loss_db_km=purify * 10.0))
    engine.define_network([vc.NodeDefinition(*node) for node in nodes], [vc.LinkDefinition(*link)])
    return engine.simulate("A", "B", 0.9, 10.0, runs, seed=seed % 2**64).empirical_success_rate


def impact(baseline, lower, upper):
    return 0.0 if baseline < 0.01 else (abs(upper - baseline) + abs(lower - baseline)) / baseline


@pytest.mark.parametrize("seed_base", [11, 2**64 - 7])
def test_each_variant_runs_with_its_own_seeds(seed_base):
    stats = two_node_stats()
    b = stats.empirical_success_rate
    nodes, link = [("A", 2.0), ("B", 3.0)], ("A", "B", 300.0, 0.9, 1000.0)
    expected = {}
    seed = seed_base
    variants = [("memory_lifetime_t2:A", lambda f: ([("A", 2.0 * f), nodes[1]], link, 0.05)),
                ("memory_lifetime_t2:B", lambda f: ([nodes[0], ("B", 3.0 * f)], link, 0.05))]
    for index, field in ((2, "distance_km"), (3, "base_fidelity"), (4, "generation_rate_hz")):
        def variant(f, index=index):
            changed = list(link)
            changed[index] = link[index] * f
            return nodes, tuple(changed), 0.05
        variants.append((f"{field}:A->B", variant))
    variants.append(("alpha_loss_db_km", lambda f: (nodes, link, 0.2 * f / 10.0)))
    for key, variant in variants:
        lower = success_rate(*variant(0.9), 200, seed)
        upper = success_rate(*variant(1.1), 200, seed + 1)
        expected[key] = impact(b, lower, upper)
        seed += 2
    ranking = stats.sensitivity_analysis(seed_base)
    assert ranking == expected
    assert list(ranking.values()) == sorted(ranking.values(), reverse=True)
    assert ranking == stats.sensitivity_analysis(seed_base)


def test_no_context():
    stats = vc.MonteCarloStats(10, 0.5, 1.0, 0.9, 0, {})
    with pytest.raises(ValueError) as raised:
        stats.sensitivity_analysis(1)
    assert str(raised.value) == NO_CONTEXT
    stats._context = two_node_stats(runs=10)._context
    assert "alpha_loss_db_km" in stats.sensitivity_analysis(1)


EVALUATION_ORDER = ["memory_lifetime_t2:A", "memory_lifetime_t2:B", "distance_km:A->B", "base_fidelity:A->B",
                    "generation_rate_hz:A->B", "alpha_loss_db_km"]


def test_a_baseline_below_one_percent_gives_no_impact():
    stats = two_node_stats()
    stats.empirical_success_rate = 0.0099
    ranking = stats.sensitivity_analysis(3)
    assert list(ranking) == EVALUATION_ORDER and set(ranking.values()) == {0.0}


def test_an_empty_ensemble_gives_nan_in_evaluation_order():
    ranking = two_node_stats(runs=0).sensitivity_analysis(3)
    assert list(ranking) == EVALUATION_ORDER and all(math.isnan(v) for v in ranking.values())


def test_odd_contexts():
    stats = two_node_stats(runs=10)
    context = stats._context
    context.nodes, context.links = [], []
    stats._context = context
    assert list(stats.sensitivity_analysis(0)) == ["alpha_loss_db_km"]
    # Links naming nodes the node list lacks are kept; two links A->B share their three keys.
    context.nodes = [("A", 1.0), ("B", 1.0)]
    context.links = [("A", "B", 10.0, 0.9, 100.0), ("A", "X", 10.0, 0.9, 100.0), ("A", "B", 2000.0, 0.1, 1.0)]
    stats._context = context
    assert sorted(stats.sensitivity_analysis(0)) == sorted(
        ["memory_lifetime_t2:A", "memory_lifetime_t2:B", "alpha_loss_db_km"]
        + [f"{field}:{hop}" for hop in ("A->B", "A->X") for field in ("distance_km", "base_fidelity",
                                                                      "generation_rate_hz")])


def test_context_and_statistics_are_left_unchanged():
    stats = two_node_stats()
    before = (stats.empirical_success_rate, stats._context.nodes, stats._context.links,
              stats._context.baseline_purify_factor)
    stats.sensitivity_analysis(9)
    assert (stats.empirical_success_rate, stats._context.nodes, stats._context.links,
            stats._context.baseline_purify_factor) == before


def test_seed_base_is_an_unsigned_64_bit_integer():
    stats = two_node_stats(runs=10)
    with pytest.raises(OverflowError):
        stats.sensitivity_analysis(2**64)
    with pytest.raises(TypeError, match="^argument 'seed_base': "):
        stats.sensitivity_analysis("1")


def test_ctrl_c_stops_a_long_analysis():
    engine = vc.VornEngine(vc.SimulationConfig(total_time_cutoff_ms=math.inf))
    nodes = [vc.NodeDefinition(f"N{i}", 1.0) for i in range(2000)]
    engine.define_network(nodes, [vc.LinkDefinition("N0", "N1", 4000.0, 0.9, 1.0)])
    stats = engine.simulate("N0", "N1", 0.9, math.inf, 1, seed=1)
    with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.3):
        stats.sensitivity_analysis(1)
