"""Seeded ensembles against statistics recorded from earlier builds (tests/data/ensemble_references.ORIGIN.md):
whatever the seed decides stays bit for bit what it was."""

import json
import pathlib
from fractions import Fraction

import pytest
import vorn_core as vc

import vorn._native as native

DATA = json.loads((pathlib.Path(__file__).parent / "data" / "ensemble_references.json").read_text())
SCENARIOS = {s["name"]: s for s in DATA["scenarios"]}
STRATEGIES = [vc.StrategyType.LowestLatency, vc.StrategyType.HighestFidelity, vc.StrategyType.HighestSuccess]


def label(entry):
    return f"{entry['scenario']}, seed {entry['seed']}, {entry['runs']} runs"


def settings_of(scenario):
    """None, or the configuration (total_time_cutoff_ms, step_resolution_ms, purify factor, signal speed)."""
    config = scenario["config"]
    if config is None:
        return None
    settings = vc.SimulationConfig(config[0], config[1])
    physical = settings.physical
    physical.baseline_purify_factor, physical.speed_of_light_in_fiber_km_ms = config[2:]
    settings.physical = physical
    return settings


def network_of(scenario):
    nodes = [vc.NodeDefinition(*node) for node in scenario["nodes"]]
    links = [
        vc.LinkDefinition(
            *link[:5], getattr(vc.LinkType, link[5]), None if link[6] is None else vc.SatelliteConditions(*link[6])
        )
        for link in scenario["links"]
    ]
    return nodes, links


def engine_of(scenario):
    engine = vc.VornEngine(settings_of(scenario))
    engine.define_network(*network_of(scenario))
    return engine


@pytest.mark.parametrize("entry", DATA["engine"], ids=label)
def test_engine_ensembles(entry):
    scenario = SCENARIOS[entry["scenario"]]
    source, target, fidelity, bound, strategy = scenario["request"]
    runs = entry["runs"]
    stats = engine_of(scenario).simulate(
        source, target, fidelity, bound, runs, None if strategy is None else STRATEGIES[strategy], entry["seed"]
    )
    assert (stats.empirical_success_rate, stats.aggregate_congestion_drops, stats.link_utilization_heatmap) == (
        entry["successes"] / runs,
        entry["drops"],
        entry["heatmap"],
    )
    if "mean_latency_ms" in entry:
        assert (stats.mean_latency_ms.hex(), stats.mean_fidelity.hex()) == (
            entry["mean_latency_ms"],
            entry["mean_fidelity"],
        )


@pytest.mark.parametrize("entry", DATA["keyed"], ids=label)
def test_keyed_ensembles(entry):
    scenario = SCENARIOS[entry["scenario"]]
    source, target, fidelity, bound, strategy = scenario["request"]
    request = vc.EntanglementRequest(
        source, target, fidelity, bound, None if strategy is None else STRATEGIES[strategy]
    )
    result = native.simulate(*network_of(scenario), settings_of(scenario), request, entry["runs"], entry["seed"])
    runs, rate, latency, mean_fidelity, drops, heatmap, successes, latency_sum, fidelity_sum = result
    assert (runs, rate, successes, drops, heatmap, latency.hex(), mean_fidelity.hex()) == (
        entry["runs"],
        entry["successes"] / entry["runs"],
        entry["successes"],
        entry["drops"],
        entry["heatmap"],
        entry["mean_latency_ms"],
        entry["mean_fidelity"],
    )
    assert (sum(map(Fraction, latency_sum), Fraction(0)), sum(map(Fraction, fidelity_sum), Fraction(0))) == (
        Fraction(entry["latency_sum"]),
        Fraction(entry["fidelity_sum"]),
    )
