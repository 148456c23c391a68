"""The engine from Python: requests, seeded ensembles, their statistics and context."""

import json
import math
import pathlib
import struct

import pytest
import vorn_core as vc
from conftest import ctrl_c_after, fields

VECTORS = json.loads((pathlib.Path(__file__).parent / "data" / "chacha12.json").read_text())["vectors"]
SEEDED = [v for v in VECTORS if v["seed"] is not None]
ZERO_KEY = next(v for v in VECTORS if v["seed"] is None)


def uniforms(vector):
    return [struct.unpack(">d", bytes.fromhex(bits))[0] for bits in vector["uniform_bits_hex"]]


STATISTICS = "empirical_success_rate mean_latency_ms mean_fidelity aggregate_congestion_drops link_utilization_heatmap"


def one_link_engine(distance_km, fidelity=0.9, config=None):
    engine = vc.VornEngine(config)
    engine.define_network(
        [vc.NodeDefinition("A", 1.0), vc.NodeDefinition("B", 1.0)],
        [vc.LinkDefinition("A", "B", distance_km, fidelity, 1000.0)],
    )
    return engine


# On one link with the fidelity at the target, a trial succeeds at once when its first draw is
# below the attempt probability; otherwise it fails and every further cycle draws once more, so
# the failed attempts count exactly the draws at or above that probability.
ATTEMPT_PROBABILITY = {  # by link length in km, for a link whose fidelity meets the target
    0.0: 0.98, 50.0: 0.95, 100.0: 0.8875, 200.0: 0.8, 300.0: 0.746875, 400.0: 0.712, 900.0: 0.6355, 1900.0: 0.593875,
}  # fmt: skip
DISTANCES = list(ATTEMPT_PROBABILITY)
BOUND_MS = 25.0  # ten cycles
CYCLES = 10


@pytest.mark.parametrize("vector", SEEDED, ids=lambda v: v["label"])
@pytest.mark.parametrize("distance", DISTANCES)
def test_seeded_trials_follow_the_reference_stream(vector, distance):
    draws, p = uniforms(vector), ATTEMPT_PROBABILITY[distance]
    stats = one_link_engine(distance).simulate("A", "B", 0.9, BOUND_MS, 1, seed=int(vector["seed"]))
    if draws[0] < p:
        assert fields(stats, STATISTICS) == (1.0, 0.0, 0.9, 0, {"A->B": 1})
    else:
        assert fields(stats, STATISTICS) == (0.0, BOUND_MS, 0.0, sum(u >= p for u in draws[:CYCLES]), {"A->B": CYCLES})


@pytest.mark.parametrize("distance", DISTANCES)
def test_unseeded_request_uses_the_zero_key(distance):
    result = one_link_engine(distance).request_entanglement("A", "B", 0.9, BOUND_MS)
    assert fields(result, "success latency_ms final_fidelity execution_path") == (
        (True, 0.0, 0.9, ["A", "B"])
        if uniforms(ZERO_KEY)[0] < ATTEMPT_PROBABILITY[distance]
        else (False, BOUND_MS, 0.0, ["A", "B"])
    )


def test_trial_i_uses_seed_plus_i_wrapping():
    engine = one_link_engine(1000.0)
    together = engine.simulate("A", "B", 0.9, BOUND_MS, 3, seed=2**64 - 1)
    apart = [engine.simulate("A", "B", 0.9, BOUND_MS, 1, seed=s) for s in (2**64 - 1, 0, 1)]
    assert together.aggregate_congestion_drops == sum(s.aggregate_congestion_drops for s in apart)
    assert together.empirical_success_rate == sum(s.empirical_success_rate for s in apart) / 3


class TestEngine:
    def test_fresh_engine_has_no_network(self):
        engine = vc.VornEngine()
        with pytest.raises(RuntimeError, match=r"^No network defined\. Call define_network\(\) first\.$"):
            engine.simulate("A", "B", 0.8, 10.0, 10)
        assert not issubclass(vc.PanicException, Exception)
        with pytest.raises(vc.PanicException) as raised:
            engine.request_entanglement("A", "B", 0.8, 10.0)
        assert str(raised.value) == "Network topology must be explicitly defined prior to run processing."

    def test_redefinition_replaces_the_network(self, chain_engine):
        chain_engine.define_network([vc.NodeDefinition("N0", 1.0)], [])
        assert chain_engine.request_entanglement("N0", "N3", 0.8, 100.0).execution_path == []
        assert chain_engine.simulate("N0", "N0", 0.8, 100.0, 0, seed=0)._context.nodes == [("N0", 1.0)]

    def test_default_engine_purifies_more_than_default_config(self):
        # 0.78 purifies to about 0.96 with the engine's 0.12 and to about 0.86 with SimulationConfig's 0.022.
        rates = [
            one_link_engine(0.0, 0.78, config).simulate("A", "B", 0.95, 10.0, 200, seed=3).empirical_success_rate
            for config in (None, vc.SimulationConfig())
        ]
        assert rates[0] > 0.9 and rates[1] == 0.0

    def test_configuration_is_copied(self):
        config = vc.SimulationConfig(total_time_cutoff_ms=5.0)
        engine = one_link_engine(1.0, config=config)
        config.total_time_cutoff_ms = 5000.0
        assert engine.simulate("A", "A", 0.5, 10.0, 0, seed=0)._context.total_time_cutoff_ms == 5.0


class TestStatistics:
    def test_zero_runs(self, chain_engine):
        stats = chain_engine.simulate("N0", "N3", 0.8, 100.0, 0, seed=1)
        assert stats.total_runs == 0 and all(map(math.isnan, fields(stats, STATISTICS)[:2]))
        assert fields(stats, STATISTICS)[2:] == (0.0, 0, {})

    def test_zero_runs_search_no_route(self):
        # A NaN rate switches the bounds off: finding this route would score every path of the mesh.
        engine = vc.VornEngine()
        engine.define_network(
            [vc.NodeDefinition(f"K{i}", 1.0) for i in range(16)],
            [vc.LinkDefinition(f"K{i}", f"K{j}", 1.0, 0.99, math.nan) for i in range(16) for j in range(i + 1, 16)],
        )
        with ctrl_c_after(5.0):  # fails rather than hangs
            stats = engine.simulate("K0", "K15", 0.8, 100.0, 0, vc.StrategyType.HighestSuccess, seed=1)
        assert fields(stats, STATISTICS)[2:] == (0.0, 0, {}) and stats._context.to_node == "K15"

    def test_heatmap_counts_cycles_in_path_direction(self):
        stats = one_link_engine(1000.0).simulate("B", "A", 0.9, BOUND_MS, 500, seed=5)
        # A success takes one cycle, a failure all ten.
        successes = round(stats.empirical_success_rate * 500)
        assert stats.link_utilization_heatmap == {"B->A": successes + CYCLES * (500 - successes)}
        assert stats.mean_latency_ms == BOUND_MS * (500 - successes) / 500

    def test_context_records_the_call(self):
        engine = vc.VornEngine()
        engine.define_network(
            [vc.NodeDefinition("B", 2.0), vc.NodeDefinition("A", 1.0), vc.NodeDefinition("B", 3.0)],
            [vc.LinkDefinition("A", "B", 10.0, 0.9, 100.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.5))],
        )
        context = engine.simulate("A", "B", 0.8, 20.0, 5, vc.StrategyType.HighestSuccess, seed=9)._context
        names = "nodes links from_node to_node fidelity_target max_latency_ms total_time_cutoff_ms step_resolution_ms"
        assert fields(context, names + " baseline_purify_factor seed") == (
            [("B", 3.0), ("A", 1.0)], [("A", "B", 10.0, 0.9, 100.0)], "A", "B", 0.8, 20.0, 5000.0, 0.1, 0.12, 9
        )  # fmt: skip
        assert repr(context.strategy) == "StrategyType.HighestSuccess"
        unseeded = engine.simulate("A", "B", 0.8, 20.0, 5)._context
        assert (unseeded.seed, unseeded.strategy) == (None, None)


class TestBounds:
    # With no reachable bound the cycle cap ends the request; a far but reachable bound is honoured past the cap.
    @pytest.mark.parametrize("bound, cycles", [(math.inf, 2**20), (3_000_000.0, 1_200_000)])
    def test_far_bounds(self, bound, cycles):
        vector = next(v for v in SEEDED if uniforms(v)[0] >= ATTEMPT_PROBABILITY[1900.0])
        engine = one_link_engine(1900.0, config=vc.SimulationConfig(total_time_cutoff_ms=math.inf))
        stats = engine.simulate("A", "B", 0.9, bound, 1, seed=int(vector["seed"]))
        outcome = fields(stats, "empirical_success_rate mean_latency_ms link_utilization_heatmap")
        assert outcome == (0.0, 2.5 * cycles, {"A->B": cycles})

    @pytest.mark.parametrize("bound", [math.nan, 0.0, -1.0])
    def test_degenerate_bounds_fail_without_cycles(self, bound):
        stats = one_link_engine(100.0).simulate("A", "B", 0.9, bound, 10, seed=1)
        assert (stats.empirical_success_rate, stats.link_utilization_heatmap) == (0.0, {})

    @pytest.mark.parametrize("source, target, runs", [("A", "B", 0), ("A", "A", 1000)])  # or trials ending at once
    def test_far_bounds_cost_only_the_trials_that_reach_them(self, source, target, runs):
        # Stepping the clock towards 1e13 ms would take hours.
        engine = one_link_engine(0.0, config=vc.SimulationConfig(total_time_cutoff_ms=1e13))
        try:
            with ctrl_c_after(10.0):
                stats = engine.simulate(source, target, 0.8, 1e13, runs, seed=1)
        except KeyboardInterrupt:
            pytest.fail("the ensemble worked towards the bound before any trial needed it")
        assert (stats.total_runs, stats.link_utilization_heatmap) == (runs, {})
        assert runs == 0 or (stats.empirical_success_rate, stats.mean_latency_ms) == (1.0, 0.0)

    @pytest.mark.parametrize(
        "n, rate, call",
        [
            # A NaN target is never met, the bounds lie some 4e14 cycles away, and no cycle draws.
            (1, 1.0, lambda engine: engine.request_entanglement("K0", "K0", math.nan, 1e15)),
            (1, 1.0, lambda engine: engine.simulate("K0", "K0", math.nan, 1e15, 1, seed=1)),
            (2, 1.0, lambda engine: engine.simulate("K0", "K1", 0.8, 100.0, 10**15, seed=1)),
            # A NaN rate switches the bounds off: HighestSuccess scores every path of the full mesh.
            (16, math.nan, lambda e: e.request_entanglement("K0", "K15", 0.5, 10.0, vc.StrategyType.HighestSuccess)),
        ],
    )
    def test_ctrl_c_stops_a_long_call_and_releases_the_engine(self, n, rate, call):
        engine = vc.VornEngine(vc.SimulationConfig(total_time_cutoff_ms=1e15))
        engine.define_network(
            [vc.NodeDefinition(f"K{i}", 1.0) for i in range(n)],
            [vc.LinkDefinition(f"K{i}", f"K{j}", 1.0, 0.99, rate) for i in range(n) for j in range(i + 1, n)],
        )
        with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.2):
            call(engine)
        engine.define_network([], [])  # no hold outlives the interrupted call
