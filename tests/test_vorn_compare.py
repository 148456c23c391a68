import pytest
import vorn_core as vc

from vorn import parallel, physics, plot
from vorn._models import UnreadInputWarning
from vorn.compare import compare
from vorn.files import to_vorn_file
from vorn.stats import replicate_seeds, wilson_interval


def saved_chain(tmp_path):
    nodes = [vc.NodeDefinition(f"N{i}", 1.0) for i in range(3)]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 40.0, 0.95, 500.0) for i in range(2)]
    path = tmp_path / "chain.vorn"
    to_vorn_file(nodes, links, "chain", vc.SimulationConfig(1000.0, 0.1, 3.0)).save(str(path))
    return path, nodes, links


def test_reference_names_and_files_run_the_same_seeds_and_repeat(tmp_path):
    path, nodes, links = saved_chain(tmp_path)
    networks = [("telecom_backbone", "A", "E"), ("hybrid", "Toronto", "London"), (path, "N0", "N2")]
    report = compare(networks, 0.75, 5000.0, 400, seed=11)
    assert report == compare(networks, 0.75, 5000.0, 400, seed=11)
    backbone = vc.generate_topology("telecom_backbone")
    expected = [
        parallel.simulate(backbone.nodes, backbone.links, "A", "E", 0.75, 5000.0, 400, seed=11, workers=1),
        parallel.simulate(*_hybrid(), "Toronto", "London", 0.75, 5000.0, 400, seed=11, workers=1),
        parallel.simulate(
            nodes,
            links,
            "N0",
            "N2",
            0.75,
            5000.0,
            400,
            seed=11,
            config=vc.SimulationConfig(1000.0, 0.1, 3.0),
            workers=1,
        ),
    ]
    assert [result.stats for result in report.results] == expected
    assert report.table.column("topology") == ["telecom_backbone", "hybrid", str(path)]
    for row, stats in zip(report.table, expected):
        assert (row["successes"], row["ci_low"], row["ci_high"]) == (
            stats.successes,
            *wilson_interval(stats.successes, 400),
        )
    best = max(range(3), key=lambda index: expected[index].empirical_success_rate)
    assert report.recommended_topology == report.table[best]["topology"]
    assert report.summary.startswith(f"Recommended: {report.recommended_topology} (success rate ")
    assert "400 trials per network from seed 11" in report.summary


def _hybrid():
    hybrid = vc.generate_topology("hybrid_satellite_fiber")
    return hybrid.nodes, hybrid.links


@pytest.mark.parametrize(
    "networks, runs, text",
    [
        ([("telecom_backbone", "A", "E")], 0, "argument 'runs': a comparison needs at least one run, got 0"),
        ([], 10, "argument 'networks': nothing to compare"),
        (
            [("telecom_backbone", "A", "E"), ("mesh", "A", "B")],
            10,
            "Unknown topology in endpoints: 'mesh'. Supported: fiber_only, telecom_backbone, repeater_chain, "
            "hybrid_satellite_fiber, hybrid, or the path of a .vorn file",
        ),
        (
            [("telecom_backbone", "A", "E"), ("repeater_chain", "N0", "N9")],
            10,
            "to: no node 'N9' in the network",
        ),
    ],
)
def test_everything_is_checked_before_anything_runs(networks, runs, text):
    with pytest.raises(ValueError) as raised:
        compare(networks, 0.75, 5000.0, runs, seed=1, executor=_Refusing())
    assert str(raised.value) == text


class _Refusing:
    def submit(self, *args, **kwargs):
        raise AssertionError("a network was simulated")


def test_overlapping_intervals_are_said_and_endpoints_objects_accepted():
    report = compare(
        [vc.TopologyEndpoints("telecom_backbone", "A", "C"), ("fiber_only", "A", "C")], 0.75, 5000.0, 50, seed=3
    )
    assert report.results[0].stats == report.results[1].stats  # the same network under two names
    assert report.recommended_topology == "telecom_backbone"
    rate = report.results[1].success_rate
    assert report.summary.endswith(
        f"Its interval overlaps that of fiber_only ({rate:.4f}): more runs are needed to tell them apart."
    )


def test_physical_model_compares_by_key_rate_with_the_same_seeds(tmp_path):
    path, nodes, links = saved_chain(tmp_path)
    networks = [("repeater_chain", "N0", "N3"), (path, "N0", "N2")]
    model = physics.PhysicalModel(cutoff_ms=100.0)
    report = compare(networks, runs=300, seed=5, model=model, replicates=2)
    chain = vc.generate_topology("repeater_chain")
    pieces = [physics.simulate(nodes, links, "N0", "N2", 300, model, seed=s) for s in replicate_seeds(5, 2, 300)]
    assert report.results[1].stats == physics.replaced(physics.merge(pieces), seed=5)
    assert report.results[0].stats.path == physics.route(chain.nodes, chain.links, "N0", "N3", model).path
    rates = [row["secret_key_rate_bps"] for row in report.table]
    assert report.recommended == str(networks[rates.index(max(rates))][0]) and "secret-key rate" in report.summary
    with pytest.warns(UnreadInputWarning, match="fidelity_target is not read by the physical model"):
        compare(networks[:1], 0.9, runs=10, seed=5, model=model)
    pytest.importorskip("matplotlib")
    heights = [bar.get_height() for bar in plot.plot_comparison(report).patches]
    assert heights == rates
