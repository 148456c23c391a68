"""Which parameters of the telecom backbone matter most for a request from A to E?"""

import vorn_core as vc


def main(runs=5_000, seed=2026):
    topology = vc.generate_topology("telecom_backbone")
    engine = vc.VornEngine()
    engine.define_network(topology.nodes, topology.links)
    stats = engine.simulate("A", "E", 0.75, 5000.0, runs, seed=seed)
    print(
        f"Telecom backbone, A -> E (target 0.75, bound 5000 ms): "
        f"success rate {stats.empirical_success_rate:.3f} over {stats.total_runs:,} trials\n"
    )
    print("Parameters ranked by their effect on the success rate (each lowered and raised by 10 %):")
    ranking = stats.sensitivity_analysis(seed)
    for rank, (parameter, impact) in enumerate(ranking.items(), start=1):
        print(f"{rank:>3}. {parameter:<28} {impact:.4f}")
    print(
        "\nMemory lifetimes do not enter the timeline: their impacts show the sampling noise of the\n"
        f"analysis' own ensembles ({max(200, 50 * len(topology.nodes))} trials per variant)."
    )


if __name__ == "__main__":
    main()
