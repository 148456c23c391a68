"""vorn._native.simulate: ensembles whose loss draws are keyed by each trial's seed, so that every field
follows from the seed, and shards over consecutive seed ranges merge into one ensemble exactly."""

import math

import pytest
import vorn_core as vc
from conftest import ctrl_c_after

import vorn._native as native

STATISTICS = "empirical_success_rate mean_latency_ms mean_fidelity aggregate_congestion_drops link_utilization_heatmap"


def settings(cutoff_ms, step_ms, purify_factor, speed_km_ms):
    config = vc.SimulationConfig(cutoff_ms, step_ms)
    physical = config.physical
    physical.baseline_purify_factor, physical.speed_of_light_in_fiber_km_ms = purify_factor, speed_km_ms
    config.physical = physical
    return config


def chain(n, km=100.0, fidelity=0.92):
    nodes = [vc.NodeDefinition(f"N{i}", 150.0) for i in range(n)]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", km, fidelity, 800.0) for i in range(n - 1)]
    return nodes, links


# (network, config, request): a chain whose losses decide only latency and fidelity, and one whose
# losses decide successes and drops too (purification that lowers the fidelity).
REPEATER_CHAIN = (*chain(4), None, vc.EntanglementRequest("N0", "N3", 0.8, 20.0))
LOSSES_DECIDE = (
    *chain(3, 0.0, 0.95),
    settings(5000.0, 0.1, -0.1, 200.0),
    vc.EntanglementRequest("N0", "N2", 0.9, 20.0),
)


def keyed(case, runs, seed):
    nodes, links, config, request = case
    return native.simulate(nodes, links, config, request, runs, seed)


def merge(shards):
    runs, successes, drops = (sum(s[i] for s in shards) for i in (0, 6, 4))
    heatmap = {}
    for shard in shards:
        for key, count in shard[5].items():
            heatmap[key] = heatmap.get(key, 0) + count
    latency = [x for s in shards for x in s[7]]
    fidelity = [x for s in shards for x in s[8]]
    mean_fidelity = math.fsum(fidelity) / successes if successes else 0.0
    return (runs, successes / runs, math.fsum(latency) / runs, mean_fidelity, drops, heatmap, successes)


@pytest.mark.parametrize("case", [REPEATER_CHAIN, LOSSES_DECIDE], ids=["repeater chain", "losses decide"])
def test_same_seed_same_ensemble(case):
    first = keyed(case, 3000, 5)
    assert keyed(case, 3000, 5) == first
    assert first != keyed(case, 3000, 5 + 3000)  # seeds 5 and 6 would share all trials but one


@pytest.mark.parametrize("case", [REPEATER_CHAIN, LOSSES_DECIDE], ids=["repeater chain", "losses decide"])
@pytest.mark.parametrize("seed", [17, 2**64 - 300], ids=["seed 17", "across the 2**64 wrap"])
def test_shards_over_consecutive_seed_ranges_merge_exactly(case, seed):
    whole = keyed(case, 1000, seed)
    cuts = [0, 1, 9, 400, 401, 1000]
    shards = [keyed(case, end - start, (seed + start) % 2**64) for start, end in zip(cuts, cuts[1:])]
    assert merge(shards) == whole[:7]


def test_sums_are_exact_and_the_means_round_them():
    runs, rate, latency, fidelity, _, _, successes, latency_sum, fidelity_sum = keyed(REPEATER_CHAIN, 5000, 3)
    assert (latency, fidelity, rate) == (
        math.fsum(latency_sum) / runs,
        math.fsum(fidelity_sum) / successes,
        successes / runs,
    )
    assert all(abs(a) < abs(b) for a, b in zip(fidelity_sum, fidelity_sum[1:]))


def test_generation_draws_are_those_of_the_engine():
    nodes, links, _, request = REPEATER_CHAIN
    engine = vc.VornEngine()
    engine.define_network(nodes, links)
    for seed, runs in [(1, 20000), (2**64 - 7, 100)]:
        stats = engine.simulate(
            request.from_node, request.to, request.fidelity_target, request.max_latency_ms, runs, seed=seed
        )
        result = keyed(REPEATER_CHAIN, runs, seed)
        assert (result[6], result[4], result[5]) == (
            round(stats.empirical_success_rate * runs),
            stats.aggregate_congestion_drops,
            stats.link_utilization_heatmap,
        )


def test_configuration_and_strategy_are_honoured():
    nodes = [vc.NodeDefinition(name, 1.0) for name in "ABC"]
    links = [
        vc.LinkDefinition("A", "B", 1.0, 0.6, 1.0),
        vc.LinkDefinition("A", "C", 1.0, 0.99, 1.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.5)),
        vc.LinkDefinition("C", "B", 1.0, 0.99, 1.0),
    ]

    def run(config, strategy=vc.StrategyType.LowestLatency):
        return native.simulate(nodes, links, config, vc.EntanglementRequest("A", "B", 0.75, 20.0, strategy), 10, 1)

    assert list(run(None, vc.StrategyType.HighestSuccess)[5]) == ["A->C", "C->B"]
    # On A-B a success takes one purification; a failure ends at the cut-off.
    successes = run(None)[6]
    assert 0 < successes < 10 and run(settings(5.0, 0.1, 0.12, 200.0))[:3] == (
        10,
        successes / 10,
        math.fsum([0.85] * successes + [5.0] * (10 - successes)) / 10,
    )
    assert run(settings(5.0, 0.1, 0.0, 200.0))[:3] == (10, 0.0, 0.0)  # 0.6 purifies only to 0.70
    assert run(settings(5.0, 0.1, 0.12, 0.01))[:3] == (10, 0.0, 100.0)  # propagation delay above the bound


def test_zero_runs():
    result = keyed(REPEATER_CHAIN, 0, 1)
    assert result[0] == 0 and all(map(math.isnan, result[1:3]))
    assert result[3:] == (0.0, 0, {}, 0, [], [])


@pytest.mark.parametrize(
    "source, target, message",
    [("X", "N3", "from_node: no node 'X' in the network"), ("N0", "N9", "to: no node 'N9' in the network")],
)
def test_unknown_nodes(source, target, message):
    nodes, links, config, request = REPEATER_CHAIN
    with pytest.raises(ValueError, match=f"^{message}$"):
        native.simulate(nodes, links, config, vc.EntanglementRequest(source, target, 0.8, 20.0), 10, 1)


def test_ctrl_c_stops_a_long_ensemble():
    with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.2):
        keyed(REPEATER_CHAIN, 10**15, 1)
