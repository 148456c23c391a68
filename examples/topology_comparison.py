"""One request on three reference topologies: success rates with their 95 % intervals, the recommended
topology highlighted. Writes examples/out/topology_comparison.png.

    python examples/topology_comparison.py [--runs N] [--output FILE]
"""

import argparse
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import vorn_core as vc

from vorn.plot import plot_comparison


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5000, help="trials per topology")
    parser.add_argument("--output", default=os.path.join(os.path.dirname(__file__), "out", "topology_comparison.png"))
    args = parser.parse_args()
    endpoints = [
        vc.TopologyEndpoints("telecom_backbone", "A", "C"),
        vc.TopologyEndpoints("hybrid_satellite_fiber", "Toronto", "London"),
        vc.TopologyEndpoints("repeater_chain", "N0", "N3"),
    ]
    report = vc.compare_topologies(endpoints, 0.75, 5000.0, args.runs, vc.StrategyType.HighestFidelity)
    print(report.summary)

    _, ax = plt.subplots(figsize=(7, 4.5))
    plot_comparison(report, ax=ax)
    ax.set_title(f"Fidelity target 0.75, bound 5000 ms: recommended {report.recommended_topology}")
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    ax.figure.savefig(args.output, dpi=120, bbox_inches="tight")
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
