"""Compare one entanglement request across the three reference topologies and print a table."""

import vorn_core as vc

ENDPOINTS = [
    vc.TopologyEndpoints("telecom_backbone", "A", "E"),
    vc.TopologyEndpoints("repeater_chain", "N0", "N3"),
    vc.TopologyEndpoints("hybrid_satellite_fiber", "Toronto", "London"),
]


def main(runs=20_000):
    report = vc.compare_topologies(
        ENDPOINTS, fidelity_target=0.75, max_latency_ms=5000.0, runs=runs, strategy=vc.StrategyType.HighestFidelity
    )
    print(
        f"One request per topology: target fidelity {report.fidelity_target}, "
        f"bound {report.max_latency_ms:g} ms, {report.runs:,} trials each\n"
    )
    print(f"{'topology':<24} {'route':<18} {'success':>8} {'latency ms':>11} {'fidelity':>9}")
    for endpoint, result in zip(ENDPOINTS, report.results):
        route = f"{endpoint.from_node} -> {endpoint.to_node}"
        print(
            f"{result.topology_name:<24} {route:<18} {result.success_rate:>8.3f} "
            f"{result.mean_latency_ms:>11.1f} {result.mean_fidelity:>9.4f}"
        )
    print(f"\nRecommended: {report.recommended_topology}")
    print(report.summary)


if __name__ == "__main__":
    main()
