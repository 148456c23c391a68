"""The reference topologies and the comparison of one request across them."""

import pytest
import vorn_core as vc
from conftest import ctrl_c_after, fields, network_figures

CANONICAL_REFUSAL = "Invalid topology name. Use: 'telecom_backbone', 'repeater_chain', or 'hybrid_satellite_fiber'"
SUPPORTED = "Supported: fiber_only, telecom_backbone, repeater_chain, hybrid_satellite_fiber, hybrid"


F, S = "LinkType.Fiber", "LinkType.Satellite"
REFERENCE_TOPOLOGIES = {
    "telecom_backbone": (
        [("A", 120.0), ("B", 150.0), ("C", 200.0), ("D", 200.0), ("E", 250.0), ("F", 180.0)],
        [("A", "B", 5.0, 0.97, 2000.0, F, None), ("B", "C", 80.0, 0.93, 1200.0, F, None),
         ("C", "D", 600.0, 0.88, 600.0, F, None), ("D", "E", 5500.0, 0.75, 150.0, F, None),
         ("C", "F", 900.0, 0.91, 500.0, F, None), ("F", "E", 4800.0, 0.8, 200.0, F, None),
         ("B", "F", 1200.0, 0.85, 400.0, F, None)],
    ),
    "repeater_chain": (
        [(f"N{i}", 150.0) for i in range(4)],
        [(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0, F, None) for i in range(3)],
    ),
    "hybrid_satellite_fiber": (
        [("Toronto", 150.0), ("Montreal", 180.0), ("London", 220.0), ("SAT-1", 300.0)],
        [("Toronto", "Montreal", 500.0, 0.9, 1000.0, F, None), ("Montreal", "London", 5500.0, 0.75, 200.0, F, None),
         ("Toronto", "SAT-1", 1000.0, 0.98, 50.0, S, (0.95, 0.98)),
         ("SAT-1", "London", 6000.0, 0.97, 50.0, S, (0.85, 0.9))],
    ),
}  # fmt: skip


class TestGenerateTopology:
    @pytest.mark.parametrize("name", REFERENCE_TOPOLOGIES)
    def test_reference_topologies(self, name):
        payload = vc.generate_topology(name)
        assert network_figures(payload.nodes, payload.links) == REFERENCE_TOPOLOGIES[name]

    @pytest.mark.parametrize("name", ["hybrid", "Telecom_backbone", "", " repeater_chain", "repeater_chain\x00"])
    def test_unknown_names(self, name):
        with pytest.raises(ValueError) as raised:
            vc.generate_topology(name)
        assert str(raised.value) == CANONICAL_REFUSAL


def endpoints(*triples):
    return [vc.TopologyEndpoints(*triple) for triple in triples]


class TestCompareTopologies:
    def test_report_fields_and_aliases(self):
        # An alias evaluates the same network under its own name.
        report = vc.compare_topologies(
            endpoints(("telecom_backbone", "A", "C"), ("fiber_only", "A", "C"), ("hybrid", "Toronto", "London")),
            0.75,
            5000.0,
            200,
            vc.StrategyType.HighestFidelity,
        )
        request = fields(report, "source_node target_node fidelity_target max_latency_ms runs")
        assert request == ("A", "C", 0.75, 5000.0, 200)
        assert [r.topology_name for r in report.results] == ["telecom_backbone", "fiber_only", "hybrid"]
        assert set(report.results[0].link_utilization) == set(report.results[1].link_utilization) == {"A->B", "B->C"}
        assert report.summary.startswith("Evaluated 3 topologies. Recommended: " + report.recommended_topology)

    @pytest.mark.parametrize(
        "ends, target, runs, summary",
        [
            # A target above 1 is out of reach on every route: each trial is refused before its first cycle; ties go
            # to the later success and the earlier latency.
            ((("repeater_chain", "N0", "N3"), ("hybrid", "Toronto", "London")), 1.5, 10,
             "Best success rate: 0 (hybrid), Best latency: 0.00ms (repeater_chain)."),
            # No runs rank the first result best.
            ((("hybrid", "Toronto", "London"), ("repeater_chain", "N0", "N3")), 0.8, 0,
             "Best success rate: 0 (hybrid), Best latency: NaNms (hybrid)."),
        ],
    )  # fmt: skip
    def test_ties(self, ends, target, runs, summary):
        report = vc.compare_topologies(endpoints(*ends), target, 100.0, runs)
        assert report.recommended_topology == "hybrid"
        assert report.summary == f"Evaluated 2 topologies. Recommended: hybrid. {summary} Average fidelity: 0.0000."

    def test_no_endpoints(self):
        report = vc.compare_topologies([], 0.8, 100.0, 50)
        report = fields(report, "source_node target_node results recommended_topology summary")
        assert report == ("", "", [], "unknown", "No topologies evaluated")

    def test_names_are_checked_before_any_endpoint(self):
        # The first endpoint's missing node would be reported first if its network were built.
        with pytest.raises(ValueError) as raised:
            vc.compare_topologies(endpoints(("repeater_chain", "X", "Y"), ("Hybrid", "A", "B")), 0.8, 100.0, 10)
        assert str(raised.value) == "Unknown topology in endpoints: 'Hybrid'. " + SUPPORTED

    @pytest.mark.parametrize("ends, message", [(("N0", "N9"), "Target node 'N9'"), (("X", "N9"), "Source node 'X'")])
    def test_unknown_end_nodes(self, ends, message):
        with pytest.raises(ValueError) as raised:
            vc.compare_topologies(endpoints(("repeater_chain", *ends)), 0.8, 100.0, 10)
        assert (
            str(raised.value) == f"{message} not found in topology 'repeater_chain'. "
            'Available nodes: ["N0", "N1", "N2", "N3"]'
        )

    def test_end_nodes_are_checked_before_any_simulation(self):
        # The first endpoint's ensemble would run for hours; the second's bad node is reported at once.
        with pytest.raises(ValueError, match="^Target node 'N9' not found"), ctrl_c_after(5.0):
            vc.compare_topologies(
                endpoints(("repeater_chain", "N0", "N3"), ("repeater_chain", "N0", "N9")), 0.8, 100.0, 10**15
            )

    def test_ctrl_c_stops_a_long_comparison(self):
        with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.2):
            vc.compare_topologies(endpoints(("repeater_chain", "N0", "N3")), 0.8, 100.0, 10**15)
