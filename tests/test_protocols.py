"""Key distribution, teleportation and distributed computation from Python.

Requests without a generator draw from the all-zero key, whose first draw (0.328) is below every
attempt probability, and a two-node route takes no loss draws. So on one link of fidelity F and no
length a request succeeds at once (latency 0.0, fidelity F) when the target is at most F, after one
purification (latency 0.85) when that reaches the target, and is refused (latency 0.0) when nothing
can: every round below is deterministic.
"""

import math

import pytest
import vorn_core as vc
from conftest import ctrl_c_after, fields, having

U64_MAX = 2**64 - 1


def engine_of(*links):
    """Links (a, b, fidelity) of no length."""
    engine = vc.VornEngine()
    names = dict.fromkeys(n for a, b, _ in links for n in (a, b))
    engine.define_network(
        [vc.NodeDefinition(n, 1.0) for n in names], [vc.LinkDefinition(a, b, 0.0, f, 1000.0) for a, b, f in links]
    )
    return engine


def repeated_sum(value, times):
    total = 0.0
    for _ in range(times):
        total += value
    return total


def qber(rounds):  # of rounds on a link of fidelity 0.95, summed as the run sums them
    return (1 - repeated_sum(0.95, rounds) / rounds) * 0.5


def qkd_fields(result):
    return fields(
        result,
        "success secret_key_length_bits efficiency_rate qber latency_ms execution_path rounds_completed rounds_failed",
    )


class TestKeyDistribution:
    def test_worked_example(self):
        result = vc.qkd(engine_of(("A", "B", 0.95)), "A", "B", 0.9, 1000.0, 100)
        assert qkd_fields(result) == (True, 40, 0.4, qber(100), 0.0, ["A", "B"], 100, 0)
        assert repr(result) == "QKDResult(success=true, key_bits=40, qber=0.0250)"

    def test_budget_running_out_part_way(self):
        # Each round purifies once: success after 0.85 ms, even when less budget than that is left.
        result = vc.qkd(engine_of(("A", "B", 0.85)), "A", "B", 0.9, 3.0, 100)
        completed = fields(result, "rounds_completed rounds_failed latency_ms efficiency_rate")
        assert completed == (4, 1, repeated_sum(0.85, 4), result.secret_key_length_bits / 100)

    @pytest.mark.parametrize(
        "fidelity, to, rounds, budget, failed, latency",
        [
            (0.3, "B", 3, math.inf, 3, 7.5),  # every request refused: 2.5 ms per round, whatever the result says
            (0.3, "B", U64_MAX, 10.0, 5, 10.0),  # four rounds, then the budget check fails, long before 2^64
            (0.3, "B", 5, math.nan, 5, 12.5),  # a NaN budget never stops the run; every request is refused
            (0.3, "B", 5, 0.0, 1, 0.0),  # the first check fails: no request at all
            (0.95, "X", 10, 5.0, 3, 5.0),  # an unknown node fails every round
        ],
    )
    def test_failing_rounds(self, fidelity, to, rounds, budget, failed, latency):
        result = vc.qkd(engine_of(("A", "B", fidelity)), "A", to, 0.9, budget, rounds)
        assert qkd_fields(result) == (False, 0, 0.0, 1.0, latency, [], 0, failed)

    @pytest.mark.parametrize("rounds", [100_003, U64_MAX])
    def test_rounds_taking_no_time_never_spend_the_budget(self, rounds):
        # Every round succeeds at once, so only the round count ends the run; its sum is the one that
        # adding 0.95 round by round gives (checked literally for the count that can be run).
        result = vc.qkd(engine_of(("A", "B", 0.95)), "A", "B", 0.9, 10.0, rounds)
        assert fields(result, "rounds_completed rounds_failed latency_ms") == (rounds, 0, 0.0)
        if rounds < U64_MAX:
            assert result.qber == qber(rounds)
        else:
            # The sum stops growing at 2^53, where adding 0.95 rounds back to the same value.
            assert result.qber == (1 - 2.0**53 / rounds) * 0.5 and result.secret_key_length_bits == 0

    @pytest.mark.parametrize("engine, rounds", [(vc.VornEngine(), 100), (engine_of(("A", "B", 0.95)), 0)])
    def test_no_request(self, engine, rounds):
        params = vc.QKDParameters("A", "B", 0.9, 100.0, rounds)
        for result in (vc.qkd(engine, "A", "B", 0.9, 100.0, rounds), engine.run_qkd(params)):
            assert qkd_fields(result) == (False, 0, 0.0, 1.0, 0.0, [], 0, 0)

    @pytest.mark.parametrize(
        "privacy, tolerance, key",
        [
            (0.8, None, 8),  # the defaults: floor(floor(0.5 * 20) * 0.8)
            (math.inf, None, U64_MAX),  # saturates (every saturating case is checked in C++)
            (0.8, qber(20), 0),  # a tolerance equal to the QBER keeps no key
        ],
    )
    def test_key_length(self, privacy, tolerance, key):
        result = engine_of(("A", "B", 0.95)).run_qkd(
            vc.QKDParameters("A", "B", 0.9, 100.0, 20, tolerance, 0.5, privacy)
        )
        assert fields(result, "success secret_key_length_bits qber efficiency_rate") == (True, key, qber(20), key / 20)

    def test_long_run_is_interruptible(self, chain_engine):
        with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.2):
            vc.qkd(chain_engine, "N0", "N3", 0.8, math.inf, U64_MAX)


TELEPORTED = "success teleportation_fidelity resource_entanglement_fidelity latency_ms path classical_bits_transferred"


class TestTeleportation:
    def test_worked_example_with_relays(self):
        # The target is the state fidelity: 0.9 purifies once, to the cap.
        outcome = engine_of(("A", "B", 0.9)).execute_teleportation(
            having(vc.TeleportationParameters("A", "B"), relay_nodes=["R1", "R2"])
        )
        assert fields(outcome, TELEPORTED) == (True, 0.95 * 0.999, 0.999, 0.85 + 0.5, ["A", "R1", "R2", "B"], 2)
        assert repr(outcome) == "TeleportationOutcome(success=true, fidelity=0.9490, latency=1.4ms)"

    @pytest.mark.parametrize(
        "link, state, success, teleported",
        [
            (0.5, 0.5, False, 0.25),  # a resource of exactly 0.5 is not enough
            (1.0, 1.0, True, 0.999),  # capped
            (0.9, 0.0, True, 0.0),  # nothing to teleport, yet the pair is good
            (0.3, 0.9, False, 0.0),  # refused request: no resource
        ],
    )
    def test_outcomes(self, link, state, success, teleported):
        outcome = vc.teleportation(engine_of(("A", "B", link)), "A", "B", state)
        expected = (success, teleported, 0.0, ["A", "B"], 2)
        assert fields(outcome, "success teleportation_fidelity latency_ms path classical_bits_transferred") == expected

    def test_no_network(self):
        params = having(vc.TeleportationParameters("A", "B"), relay_nodes=["R"])
        outcome = vc.VornEngine().execute_teleportation(params)
        assert fields(outcome, TELEPORTED) == (False, 0.0, 0.0, 0.0, ["A", "R"], 2)


DISTRIBUTED = "success computation_fidelity party_results resource_links_used total_latency_ms coordination_overhead_ms"
STAR_ENGINE = engine_of(("N2", "N1", 0.95), ("N3", "N1", 0.92))


class TestDistributedComputation:
    def test_worked_example(self):
        result = vc.distributed_computation(
            STAR_ENGINE, ["N1", "N2", "N3"], vc.CoordinationTopology.star("N1"), vc.MeasurementBasis()
        )
        locals_ = [(0.95 + 0.92) / 2 * 0.85, 0.95 * 0.85, 0.92 * 0.85]
        parties = [(p.node_id, p.successful_measurement, p.local_fidelity) for p in result.party_results]
        assert parties == [("N1", True, locals_[0]), ("N2", True, locals_[1]), ("N3", True, locals_[2])]
        assert result.computation_fidelity == locals_[0] * locals_[1] * locals_[2]
        overall = fields(result, "success resource_links_used total_latency_ms coordination_overhead_ms")
        assert overall == (True, ["N2->N1", "N3->N1"], 0.0, 10.0)
        assert repr(result) == "DistributedComputingResult(success=true, fidelity=0.5019, parties=3)"
        assert repr(result.party_results[0]) == "PartyOutcome(N1, success=true, fidelity=0.7948)"

    @pytest.mark.parametrize(
        "topology, participants, links",
        [
            (vc.CoordinationTopology.ring(), ["N1"], ["N1->N1"]),
            (vc.CoordinationTopology.ring(), ["N1", "N2"], ["N1->N2", "N2->N1"]),
            (vc.CoordinationTopology.mesh(), ["N1", "N2", "N3"], ["N1->N2", "N1->N3", "N2->N3"]),
            (vc.CoordinationTopology.star("N9"), ["N1", "N2"], ["N1->N9", "N2->N9"]),
            (vc.CoordinationTopology("Star", "N1"), ["N1", "N2"], []),  # any other kind is an edge list
            (vc.CoordinationTopology("star"), ["N1", ""], ["N1->"]),  # no center: the empty string
        ],
    )
    def test_links(self, topology, participants, links):
        result = vc.distributed_computation(STAR_ENGINE, participants, topology, vc.MeasurementBasis())
        assert (result.resource_links_used, result.coordination_overhead_ms) == (links, 5.0 * len(links))

    @pytest.mark.parametrize(
        "topology, links",
        [
            (vc.CoordinationTopology.star("N1"), []),
            (vc.CoordinationTopology.ring(), []),
            (vc.CoordinationTopology.mesh(), []),
            # Explicit edges are requested all the same, repeats included.
            (
                vc.CoordinationTopology.arbitrary([("N2", "N1"), ("X", "N1"), ("N2", "N1")]),
                ["N2->N1", "X->N1", "N2->N1"],
            ),
        ],
    )
    def test_no_participants(self, topology, links):
        result = vc.distributed_computation(STAR_ENGINE, [], topology, vc.MeasurementBasis(), 1.0)
        assert fields(result, DISTRIBUTED) == (False, 0.999, [], links, 0.0, float(len(links)))

    def test_a_large_computation_is_interruptible(self):
        # A million parties in a line: short requests, then the parties' links, all polled.
        parties = [f"P{i}" for i in range(1_000_000)]
        topology = vc.CoordinationTopology.arbitrary(list(zip(parties, parties[1:])))
        with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.2):
            vc.distributed_computation(STAR_ENGINE, parties, topology, vc.MeasurementBasis())

    def test_failed_link_and_untouched_party(self):
        # X is no node: its link fails, so both of its ends fail; N3 has no link and counts as successful.
        topology = vc.CoordinationTopology.arbitrary([("N2", "N1"), ("X", "N1")])
        result = vc.distributed_computation(STAR_ENGINE, ["N1", "N3", "N2"], topology, vc.MeasurementBasis(None, 1.2))
        parties = [(p.successful_measurement, p.local_fidelity) for p in result.party_results]
        assert parties == [(False, 0.95 / 2 * 1.2), (True, 0.999), (True, 0.999)]
        # The product takes the uncapped values.
        assert (result.success, result.computation_fidelity) == (False, 0.95 / 2 * 1.2 * 1.2 * (0.95 * 1.2))

    def test_engine_method(self):
        result = STAR_ENGINE.run_distributed_computation(["N1", "N2", "N3"], "star", "cluster", 0.5, 1.0)
        # Centred on the first participant.
        assert result.resource_links_used == ["N2->N1", "N3->N1"] and result.coordination_overhead_ms == 2.0
        assert result.party_results[1].local_fidelity == 0.95 * 0.5

    @pytest.mark.parametrize(
        "topology, basis, message",
        [
            ("arbitrary", "ghz", "coordination_topology must be one of: 'star', 'ring', 'mesh'"),
            ("ring", "GHZ", "basis_type must be one of: 'ghz', 'cluster', 'graph'"),
            ("bad", "worse", "coordination_topology must be one of: 'star', 'ring', 'mesh'"),
        ],
    )
    def test_engine_method_refuses_names_before_anything_else(self, topology, basis, message):
        for engine in (vc.VornEngine(), STAR_ENGINE):
            with pytest.raises(ValueError) as raised:
                engine.run_distributed_computation(["N1"], topology, basis)
            assert str(raised.value) == message

    def test_no_network(self):
        result = vc.VornEngine().run_distributed_computation(["A", "B"], "mesh", "ghz")
        assert fields(result, DISTRIBUTED) == (False, 0.0, [], [], 0.0, 0.0)


class TestRecords:
    def test_defaults(self):
        qkd = vc.QKDParameters("A", "B", 0.9, 10.0)
        teleportation = vc.TeleportationParameters("A", "B")
        d = vc.DistributedComputingParameters(["A"], vc.CoordinationTopology.ring())
        qkd_defaults = fields(qkd, "rounds error_rate_tolerance sifting_overhead_ratio privacy_amplification_factor")
        teleportation_defaults = fields(teleportation, "relay_nodes state_fidelity classical_bandwidth_ms")
        assert qkd_defaults + teleportation_defaults == (100, 0.11, 0.5, 0.8, [], 0.95, 100.0)
        basis = d.measurement_basis
        distributed_defaults = (repr(basis.basis_type), basis.correlation_strength, d.classical_relay_latency_ms)
        assert distributed_defaults == ("BasisType.GHZ", 0.85, 5.0)

    @pytest.mark.parametrize(
        "record, text",
        [
            (vc.QKDResult(False, 0, 0.0, math.nan, 0.0, (), 0, 1),
             "QKDResult(success=false, key_bits=0, qber=NaN)"),
            (vc.QKDStats(3, 2 / 3, 12.25, 0.1, 0.02), "QKDStats(runs=3, success=67, mean_key_len=12.2)"),
            (vc.TeleportationStats(4, 1.0, 0.9, 0.01234, 2.0),
             "TeleportationStats(runs=4, fidelity=0.9000\u00b10.0123)"),
            (vc.DistributedComputingStats(2, 0.5, 0.25, 0.5),
             "DistributedComputingStats(runs=2, success=50, fidelity=0.2500)"),
            (vc.PartyOutcome("N\u00e9", False, 1.0), "PartyOutcome(N\u00e9, success=false, fidelity=1.0000)"),
        ],
    )  # fmt: skip
    def test_reprs(self, record, text):
        assert repr(record) == text
