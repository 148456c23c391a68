import math
import statistics

import pytest
import vorn_core as vc

from vorn import inputs, parallel, physics
from vorn._models import UnreadInputWarning
from vorn.sensitivity import parameters, sensitivity
from vorn.stats import replicate_seeds
from vorn.sweep import LINK_FIGURES


def network():
    """A chain A-B-C with a bypass A-D-C that the HighestFidelity route does not take."""
    nodes = [vc.NodeDefinition(name, 2.0) for name in "ABCD"]
    links = [
        vc.LinkDefinition("A", "B", 60.0, 0.97, 900.0),
        vc.LinkDefinition("B", "C", 80.0, 0.95, 700.0),
        vc.LinkDefinition("A", "D", 50.0, 0.9, 2000.0),
        vc.LinkDefinition("D", "C", 50.0, 0.9, 2000.0),
    ]
    return nodes, links


def rows_by_parameter(report):
    return {row["parameter"]: row for row in report.table}


def test_both_directions_with_common_random_numbers_and_standard_errors():
    report = sensitivity(*network(), "A", "C", 0.85, 50.0, 300, seed=7, replicates=4)
    rows = rows_by_parameter(report)
    seeds = replicate_seeds(7, 4, 300)
    baseline = parallel.simulate(*network(), "A", "C", 0.85, 50.0, 300, seed=7, workers=1, replicates=4)
    assert report.baseline == baseline and (report.runs, report.replicates, report.seed) == (300, 4, 7)
    nodes, links = network()
    links[1].distance_km = 80.0 * 1.1
    raised = parallel.simulate(nodes, links, "A", "C", 0.85, 50.0, 300, seed=7, workers=1, replicates=seeds)
    row = rows["distance_km:B->C"]
    differences = [
        (ours.successes - theirs.successes) / 300 for ours, theirs in zip(raised.replicates, baseline.replicates)
    ]
    assert (row["upper_value"], row["figure_upper"]) == (80.0 * 1.1, raised.empirical_success_rate)
    assert row["effect_upper"] == pytest.approx((raised.successes - baseline.successes) / 1200, abs=1e-15)
    assert row["se_upper"] == pytest.approx(statistics.stdev(differences) / 2, abs=1e-15)
    assert row["effect_lower"] > 0 > row["effect_upper"]  # a longer link serves worse
    # the bypass is not on the route: its figures change no trial at all
    assert (rows["distance_km:A->D"]["effect_lower"], rows["distance_km:A->D"]["se_upper"]) == (0.0, 0.0)
    p = baseline.empirical_success_rate
    assert report.noise_floor == pytest.approx(1.959964 * math.sqrt(p * (1 - p) / 1200), rel=1e-6)
    ordered = [row["impact"] for row in report.table if row["read"]]
    assert ordered == sorted(ordered, reverse=True)


def test_parameters_the_model_does_not_read_are_marked_and_not_run():
    report = sensitivity(*network(), "A", "C", 0.85, 50.0, 50, seed=1, replicates=2)
    unread = [row for row in report.table if not row["read"]]
    assert [row["parameter"] for row in unread] == [
        "memory_lifetime_t2:A",
        "memory_lifetime_t2:B",
        "memory_lifetime_t2:C",
        "memory_lifetime_t2:D",
        "generation_rate_hz:A->B",
        "generation_rate_hz:B->C",
        "generation_rate_hz:A->D",
        "generation_rate_hz:D->C",
    ]
    assert report.table[-1]["base_value"] == 2000.0 and math.isnan(report.table[-1]["effect_upper"])
    assert not any(inputs.reads(row["parameter"]) for row in unread)
    under_success = sensitivity(
        *network(), "A", "C", 0.85, 50.0, 50, vc.StrategyType.HighestSuccess, seed=1, replicates=2
    )
    assert rows_by_parameter(under_success)["generation_rate_hz:A->B"]["read"] is True
    assert parameters(*network()) == [
        *(f"memory_lifetime_t2:{name}" for name in "ABCD"),
        *(f"{figure}:{ends}" for ends in ("A->B", "B->C", "A->D", "D->C") for figure in LINK_FIGURES),
        "alpha_loss_db_km",
    ]


def test_perturbed_values_stay_in_range():
    report = sensitivity(*network(), "A", "C", 0.85, 50.0, 20, seed=1, replicates=2)
    row = rows_by_parameter(report)["base_fidelity:A->B"]
    assert (row["base_value"], row["lower_value"], row["upper_value"]) == (0.97, 0.97 * 0.9, 1.0)
    loss = rows_by_parameter(report)["alpha_loss_db_km"]  # VornEngine()'s purify factor 0.12
    assert loss["base_value"] == pytest.approx(1.2) and loss["upper_value"] == pytest.approx(1.32)


@pytest.mark.parametrize(
    "arguments, text",
    [
        ({"runs": 0}, "argument 'runs': the analysis needs at least one run, got 0"),
        ({"replicates": 1}, "argument 'replicates': standard errors need at least 2 replicates, got 1"),
        ({"change": 1.5}, "argument 'change': must lie strictly between 0 and 1, got 1.5"),
        ({"to": "E"}, "to: no node 'E' in the network"),
    ],
)
def test_loud_errors(arguments, text):
    call = {"from_node": "A", "to": "C", "fidelity_target": 0.85, "max_latency_ms": 50.0, "runs": 10} | arguments
    with pytest.raises(ValueError) as raised:
        sensitivity(*network(), **call)
    assert str(raised.value) == text


def test_report_shows_as_text_and_html():
    report = sensitivity(*network(), "A", "C", 0.85, 50.0, 20, seed=1, replicates=2)
    rate = report.baseline.empirical_success_rate
    assert repr(report).startswith(f"Sensitivity of the success rate {rate:.4g} on vorn_core's timeline (")
    assert report._repr_html_().startswith("<p>Sensitivity of the success rate")


def test_physical_model_ranks_its_own_parameters_and_warns_of_inputs_it_does_not_read():
    nodes, links = network()
    model = physics.PhysicalModel(cutoff_ms=20.0)
    report = sensitivity(nodes, links, "A", "C", runs=400, seed=2, replicates=3, model=model)
    rows = rows_by_parameter(report)
    assert report.figure == "secret_key_rate_bps" and report.base_value == report.baseline.secret_key_rate_bps
    assert rows["memory_lifetime_t2:B"]["read"] and not rows["alpha_loss_db_km"]["read"]
    assert rows["base_fidelity:A->B"]["effect_lower"] < 0 < rows["attenuation_db_km"]["effect_lower"]
    assert rows["efficiency"]["upper_value"] == 1.0 and rows["cutoff_ms"]["lower_value"] == 18.0
    lowered = physics.PhysicalModel(cutoff_ms=18.0)
    pieces = [physics.simulate(nodes, links, "A", "C", 400, lowered, seed=s) for s in replicate_seeds(2, 3, 400)]
    assert rows["cutoff_ms"]["figure_lower"] == physics.merge(pieces).secret_key_rate_bps
    with pytest.warns(UnreadInputWarning, match="alpha_loss_db_km is not read by the physical model"):
        sensitivity(nodes, links, "A", "C", runs=20, seed=2, model=model, keys=["alpha_loss_db_km", "efficiency"])
