import math

import pytest
import vorn_core as vc
from conftest import two_node_network

from vorn.stats import merge, successes, wilson_interval


@pytest.mark.parametrize(
    "won, runs, low, high",
    [  # Newcombe (1998), Wilson score intervals at 95 %
        (81, 263, 0.2553, 0.3662),
        (0, 20, 0.0, 0.1611),
        (1, 29, 0.0061, 0.1718),
        (10, 10, 0.7225, 1.0),
    ],
)
def test_wilson_interval_known_values(won, runs, low, high):
    assert (result := wilson_interval(won, runs)) == pytest.approx((low, high), abs=5e-5)
    assert (result[0] == 0.0) == (won == 0) and (result[1] == 1.0) == (won == runs)


def test_wilson_interval_widens_with_confidence_and_knows_nothing_without_runs():
    assert wilson_interval(5, 10, 0.99)[0] < wilson_interval(5, 10, 0.9)[0]
    assert wilson_interval(0, 0) == (0.0, 1.0)


@pytest.mark.parametrize(
    "won, runs, confidence, message",
    [
        (-1, 10, 0.95, "need 0 <= successes <= runs, got -1 successes in 10 runs"),
        (11, 10, 0.95, "need 0 <= successes <= runs, got 11 successes in 10 runs"),
        (1, 10, 0.0, "confidence must lie strictly between 0 and 1, got 0.0"),
        (1, 10, 1.0, "confidence must lie strictly between 0 and 1, got 1.0"),
    ],
)
def test_wilson_interval_refuses_impossible_counts(won, runs, confidence, message):
    with pytest.raises(ValueError) as raised:
        wilson_interval(won, runs, confidence)
    assert str(raised.value) == message


def stats(runs, rate, latency, fidelity, drops=0, heatmap=None):
    return vc.MonteCarloStats(runs, rate, latency, fidelity, drops, heatmap or {})


def test_merge_weights_latency_by_runs_and_fidelity_by_successes():
    merged = merge(
        [
            stats(10, 0.5, 2.0, 0.9, 3, {"B->C": 1}),
            stats(0, math.nan, math.nan, 0.0),
            stats(30, 0.1, 4.0, 0.6, 4, {"A->B": 2, "B->C": 3}),
        ]
    )
    assert (merged.total_runs, successes(merged), merged.aggregate_congestion_drops) == (40, 8, 7)
    assert merged.empirical_success_rate == 8 / 40
    assert merged.mean_latency_ms == pytest.approx((20.0 + 120.0) / 40)
    assert merged.mean_fidelity == pytest.approx((4.5 + 1.8) / 8)
    assert list(merged.link_utilization_heatmap.items()) == [("B->C", 4), ("A->B", 2)]
    assert merged._context is None


def test_merge_of_nothing_is_an_ensemble_of_zero_runs():
    for merged in (merge([]), merge([stats(0, math.nan, math.nan, 0.0)])):
        assert merged.total_runs == 0 and math.isnan(merged.empirical_success_rate)
        assert math.isnan(merged.mean_latency_ms) and merged.mean_fidelity == 0.0


def test_merge_carries_the_context_of_the_first_piece():
    engine = vc.VornEngine()
    engine.define_network(*two_node_network())
    context = merge(
        [engine.simulate("A", "B", 0.9, 20.0, runs, seed=seed) for runs, seed in ((2, 2**64 - 2), (3, 0))]
    )._context
    assert (context.seed, context.from_node) == (2**64 - 2, "A")
