"""Compare one entanglement request across the three reference topologies and print a table with intervals.

The comparison takes a seed: run it twice and it prints the same table. A .vorn file's path may stand in
for any reference name.

    python examples/compare_topologies.py [--runs N] [--seed S]
"""

import argparse

import vorn_core as vc

from vorn.compare import compare

NETWORKS = [
    ("telecom_backbone", "A", "E"),
    ("repeater_chain", "N0", "N3"),
    ("hybrid_satellite_fiber", "Toronto", "London"),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=20_000, help="trials per topology")
    parser.add_argument("--seed", type=int, default=2026)
    args = parser.parse_args()
    report = compare(NETWORKS, 0.75, 5000.0, args.runs, vc.StrategyType.HighestFidelity, seed=args.seed)
    print(
        f"One request per topology: target fidelity {report.fidelity_target}, bound {report.max_latency_ms:g} ms, "
        f"{report.runs:,} trials each from seed {report.seed}\n"
    )
    print(f"{'topology':<24} {'route':<18} {'success':>8} {'95 % interval':>17} {'latency ms':>11} {'fidelity':>9}")
    for row in report.table:
        route = f"{row['from_node']} -> {row['to']}"
        interval = f"{row['ci_low']:.3f} to {row['ci_high']:.3f}"
        print(
            f"{row['topology']:<24} {route:<18} {row['success_rate']:>8.3f} {interval:>17} "
            f"{row['mean_latency_ms']:>11.1f} {row['mean_fidelity']:>9.4f}"
        )
    print(f"\n{report.summary}")
    print("(latencies are times on the simulated clock: whole 2.5 ms cycles, not the light's travel time)")


if __name__ == "__main__":
    main()
