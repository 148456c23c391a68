"""The three application protocols on the four-node repeater chain N0 - N1 - N2 - N3.

Every protocol asks the engine for entanglement, once or many times, and post-processes what comes
back: a secret key from many pairs between the two ends, one teleported state, and a computation
shared by all four nodes.
"""

import vorn_core as vc


def chain_engine():
    chain = vc.generate_topology("repeater_chain")  # N0..N3, 100 km links, fidelity 0.92, 800 Hz
    engine = vc.VornEngine()
    engine.define_network(chain.nodes, chain.links)
    link = chain.links[0]
    print(
        f"Repeater chain: {' - '.join(n.id for n in chain.nodes)}, {len(chain.links)} links of "
        f"{link.distance_km:g} km (fidelity {link.base_fidelity}, {link.generation_rate_hz:g} Hz)"
    )
    return engine


def key_distribution(engine):
    rounds, budget_ms = 10_000, 1_000.0
    result = vc.qkd(engine, "N0", "N3", fidelity_target=0.8, max_latency_ms=budget_ms, rounds=rounds)
    print(f"\nKey distribution N0 -> N3: {rounds:,} rounds requested, {budget_ms:g} ms of simulated time allowed")
    print(
        f"  rounds completed / failed  {result.rounds_completed:,} / {result.rounds_failed:,}"
        " (the last failure is the budget running out)"
    )
    print(f"  quantum bit error rate     {result.qber:.4f} (a key needs it below 0.11)")
    print(
        f"  secret key                 {result.secret_key_length_bits:,} bits "
        f"({result.efficiency_rate:.3f} bits per requested round)"
    )
    print(f"  simulated time used        {result.latency_ms:.1f} ms, over {' -> '.join(result.execution_path)}")

    # The engine method takes every setting, including the post-processing ratios.
    strict = vc.QKDParameters(
        "N0",
        "N3",
        0.8,
        budget_ms,
        rounds,
        error_rate_tolerance=0.005,
        sifting_overhead_ratio=0.5,
        privacy_amplification_factor=0.6,
    )
    print(f"  with a 0.005 QBER tolerance: {engine.run_qkd(strict)!r}")


def teleportation(engine):
    outcome = vc.teleportation(engine, "N0", "N3", state_fidelity=0.95, classical_bandwidth_ms=100.0)
    print("\nTeleportation N0 -> N3 of a state prepared with fidelity 0.95")
    print(f"  resource pair fidelity     {outcome.resource_entanglement_fidelity:.4f}")
    print(
        f"  teleported state fidelity  {outcome.teleportation_fidelity:.4f}"
        f" ({'usable' if outcome.success else 'not usable'} pair)"
    )
    print(
        f"  latency                    {outcome.latency_ms:.2f} ms, {outcome.classical_bits_transferred} classical bits"
    )

    params = vc.TeleportationParameters("N0", "N3")
    params.relay_nodes = ["N1", "N2"]  # the classical message passes the repeaters: 0.25 ms each
    relayed = engine.execute_teleportation(params)
    print(f"  via relays {' -> '.join(relayed.path)}: {relayed!r}")


def distributed_computation(engine):
    participants = ["N0", "N1", "N2", "N3"]
    basis = vc.MeasurementBasis(vc.BasisType.GHZ, correlation_strength=0.85)
    for topology in (
        vc.CoordinationTopology.ring(),
        vc.CoordinationTopology.star("N1"),
        vc.CoordinationTopology.mesh(),
    ):
        result = vc.distributed_computation(engine, participants, topology, basis, classical_relay_latency_ms=5.0)
        print(
            f"\nDistributed computation, {topology.kind} coordination "
            f"({len(result.resource_links_used)} entangled links: {', '.join(result.resource_links_used)})"
        )
        for party in result.party_results:
            state = "measured" if party.successful_measurement else "FAILED"
            print(f"  {party.node_id}  {state:<8}  local fidelity {party.local_fidelity:.4f}")
        print(
            f"  computation fidelity {result.computation_fidelity:.4f}, "
            f"{'success' if result.success else 'failure'}; "
            f"entanglement {result.total_latency_ms:.2f} ms + coordination {result.coordination_overhead_ms:.1f} ms"
        )


def main():
    engine = chain_engine()
    key_distribution(engine)
    teleportation(engine)
    distributed_computation(engine)


if __name__ == "__main__":
    main()
