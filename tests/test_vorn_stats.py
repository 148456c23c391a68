import functools
import hashlib
import math
import operator
import warnings
from fractions import Fraction

import pytest
import vorn_core as vc
from conftest import result_class, two_node_network

from vorn import physics
from vorn.stats import (
    EnsembleStats,
    SeedOverlapWarning,
    Table,
    merge,
    overlapping_seeds,
    replicate_seeds,
    successes,
    to_dict,
    to_frame,
    warn_overlaps,
    wilson_interval,
)


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


def piece(runs, won, latency, fidelity, drops=0, heatmap=None, seed=None):
    return EnsembleStats(runs, won, Fraction(latency), Fraction(fidelity), drops, heatmap or {}, seed)


def test_merge_adds_exact_sums_and_computes_each_mean_once():
    # 0.1 + 0.2 is not 0.3 in floats: the means come from exact sums, however the pieces were cut
    parts = [piece(1, 1, 0.1, 0.1, 1, {"B->C": 1}, seed=5), piece(1, 1, 0.2, 0.2, 2, {"A->B": 2, "B->C": 3}, seed=6)]
    merged = merge(parts)
    exact = Fraction(0.1) + Fraction(0.2)
    assert merged == piece(2, 2, exact, exact, 3, {"B->C": 4, "A->B": 2}, seed=5)
    tenths = merge([piece(1, 1, 0.1, 0.1, seed=seed) for seed in range(10)])
    # a plain running float sum drifts (sum() itself compensates from CPython 3.12 on)
    assert tenths.mean_latency_ms == 0.1 != functools.reduce(operator.add, [0.1] * 10) / 10
    assert list(merged.link_utilization_heatmap.items()) == [("B->C", 4), ("A->B", 2)]
    assert merge(reversed(parts)).seed is None  # not one consecutive seed range
    assert merge([piece(1, 0, 0, 0, seed=2**64 - 1), piece(1, 0, 0, 0, seed=0)]).seed == 2**64 - 1


def test_merge_of_nothing_is_an_ensemble_of_zero_runs():
    for merged in (merge([]), merge([vc.MonteCarloStats(0, math.nan, math.nan, 0.0, 0, {})])):
        assert merged.total_runs == 0 and math.isnan(merged.empirical_success_rate)
        assert math.isnan(merged.mean_latency_ms) and merged.mean_fidelity == 0.0


def test_merge_takes_counts_of_vorn_core_statistics():
    merged = merge([vc.MonteCarloStats(10, 0.5, 2.0, 0.9, 3, {}), vc.MonteCarloStats(30, 0.1, 4.0, 0.6, 4, {})])
    assert (merged.total_runs, successes(merged), merged.aggregate_congestion_drops) == (40, 8, 7)
    assert merged.mean_latency_ms == pytest.approx(140.0 / 40) and merged.mean_fidelity == pytest.approx(6.3 / 8)


@pytest.mark.parametrize("seed", [0, 1, 2, 2**32, 2**64 - 1])
def test_replicate_seeds_are_disjoint_reproducible_and_apart_from_neighbouring_seeds(seed):
    seeds = replicate_seeds(seed, 5, 1000)
    digest = hashlib.blake2b(seed.to_bytes(8, "little"), digest_size=8, person=b"vorn-rep").digest()
    assert seeds[0] == int.from_bytes(digest, "little")
    assert [(b - a) % 2**64 for a, b in zip(seeds, seeds[1:])] == [1000] * 4
    assert overlapping_seeds(seeds + replicate_seeds(seed + 1 if seed < 2**64 - 1 else 0, 5, 1000), 1000) == []
    assert overlapping_seeds(replicate_seeds(seed, 2, 2**63), 2**63) == []  # every seed there is, once


@pytest.mark.parametrize(
    ("count", "runs", "message"),
    [
        (2**40, 0, r"^argument 'runs': replicates need at least one run each, got 0"),
        (3, 2**63, r"^argument 'count': 3 replicates of 9223372036854775808 runs need more than the 2\*\*64 seeds"),
        (2**64 - 1, 2, r"^argument 'count': 18446744073709551615 replicates of 2 runs need more"),
    ],
)
def test_replicate_seeds_refuse_counts_that_cannot_be_used_before_making_any(count, runs, message):
    with pytest.raises(ValueError, match=message):
        replicate_seeds(1, count, runs)


def test_overlapping_seed_ranges_are_found_across_the_wrap_and_warned_of():
    assert overlapping_seeds([1, 2, 1000], 1000) == [(1, 2, 999), (1, 1000, 1), (2, 1000, 2)]
    assert overlapping_seeds([2**64 - 1, 5], 10) == [(2**64 - 1, 5, 4)]
    assert overlapping_seeds([7, 7], 0) == []
    with pytest.warns(SeedOverlapWarning, match=r"^replicates: seeds 1 and 2 share 999 of their 1,000 trials"):
        warn_overlaps([1, 2, 3], 1000, "replicates")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        warn_overlaps([0, 1000], 1000, "replicates")


def test_results_become_dicts_and_data_frames():
    stats = piece(4, 3, 10.0, 2.7, 1, {"A->B": 5}, seed=9)
    assert to_dict(stats) == {
        "seed": 9,
        "total_runs": 4,
        "successes": 3,
        "empirical_success_rate": 0.75,
        "ci_low": wilson_interval(3, 4)[0],
        "ci_high": wilson_interval(3, 4)[1],
        "mean_latency_ms": 2.5,
        "mean_fidelity": 0.9,
        "aggregate_congestion_drops": 1,
        "link_utilization_heatmap": {"A->B": 5},
    }
    assert to_dict(vc.MonteCarloStats(2, 0.5, 1.0, 0.9, 0, {})) == {
        "total_runs": 2,
        "empirical_success_rate": 0.5,
        "mean_latency_ms": 1.0,
        "mean_fidelity": 0.9,
        "aggregate_congestion_drops": 0,
        "link_utilization_heatmap": {},
    }
    assert to_dict(result_class()(True, 2.5, 0.9, ["A", "B"])) == {
        "success": True,
        "latency_ms": 2.5,
        "final_fidelity": 0.9,
        "execution_path": ["A", "B"],
    }
    with pytest.raises(TypeError, match="^cannot turn object into a dict of its results$"):
        to_dict(object())
    pandas = pytest.importorskip("pandas")
    frame = to_frame([stats, stats.to_monte_carlo_stats()])
    assert isinstance(frame, pandas.DataFrame) and list(frame["total_runs"]) == [4, 4]


@pytest.mark.parametrize(
    "make",
    [
        lambda: piece(4, 3, 10.0, 2.7, 1, {"A->B": 5}, seed=9),
        lambda: physics.simulate(*two_node_network(), "A", "B", 1000, seed=1),
    ],
)
def test_results_show_each_figure_once_with_its_unit_and_interval(make):
    stats = make()
    assert "\n" not in repr(stats) and len(repr(stats)) < 300  # no exact sums, no histogram
    text, page, row = str(stats), stats._repr_html_(), stats.to_dict()
    for figure, value, interval in stats.figures():
        line = next(line for line in text.splitlines() if line.strip().startswith(figure.label))
        assert (figure.unit in line) and ("interval" in line) == (interval is not None)
        assert f"<td>{figure.label}</td>" in page and row[figure.key] == value
        assert interval is None or (
            interval[0] <= value <= interval[1] and all(end in row.values() for end in interval)
        )


def test_tables_show_as_text_and_html_with_their_values_escaped():
    table = Table([{"node": "<b>A</b>", "rate": 0.123456789, "runs": 12345}], ["node", "rate", "runs"])
    assert repr(table) == "    node      rate    runs\n<b>A</b>  0.123457  12,345"
    assert table._repr_html_() == (
        '<table class="vorn-table"><thead><tr><th>node</th><th>rate</th><th>runs</th></tr></thead>'
        "<tbody><tr><td>&lt;b&gt;A&lt;/b&gt;</td><td>0.123457</td><td>12,345</td></tr></tbody></table>"
    )
    assert table.column("runs") == [12345] and table[0]["runs"] == 12345 and table[:0].columns == table.columns
    with pytest.raises(KeyError, match="no column 'x'; the table has: node, rate, runs"):
        table.column("x")
    assert "<table" in piece(1, 1, 0.0, 1.0)._repr_html_()
