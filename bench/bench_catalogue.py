"""Reference topologies, topology comparison and sensitivity analysis: what each costs beyond its ensembles.

    python bench/bench_catalogue.py [--repeats N]

Prints medians of several runs measured in this one process. The sensitivity analysis is compared with
the same ensembles run one by one through `simulate` (same networks, seeds and trial counts); the
comparison with the share of its time spent in `simulate` calls of the same size.
"""

import argparse

import vorn_core as vc
from measure import median_seconds


def engine_for(nodes, links, purify):
    engine = vc.VornEngine(vc.SimulationConfig(alpha_loss_db_km=purify * 10.0))
    engine.define_network(nodes, links)
    return engine


def variants(context):
    """The 2 x (N + 3L + 1) networks of the analysis, as (nodes, links, purify factor) in evaluation order."""
    nodes = [vc.NodeDefinition(i, t2) for i, t2 in context.nodes]
    links = [vc.LinkDefinition(*link) for link in context.links]
    purify = context.baseline_purify_factor
    for j, (node_id, t2) in enumerate(context.nodes):
        for factor in (0.9, 1.1):
            changed = list(nodes)
            changed[j] = vc.NodeDefinition(node_id, t2 * factor)
            yield changed, links, purify
    for k, link in enumerate(context.links):
        for index in (2, 3, 4):
            for factor in (0.9, 1.1):
                figures = list(link)
                figures[index] *= factor
                changed = list(links)
                changed[k] = vc.LinkDefinition(*figures)
                yield nodes, changed, purify
    for factor in (0.9, 1.1):
        yield nodes, links, 0.2 * factor / 10.0


def bench_sensitivity(label, nodes, links, request, repeats):
    stats = engine_for(nodes, links, 0.12).simulate(*request, 1000, seed=1)
    context = stats._context
    trials = max(200, 50 * len(context.nodes))
    analysis = median_seconds(lambda: stats.sensitivity_analysis(100), repeats)
    engines = [engine_for(*variant) for variant in variants(context)]

    def one_by_one():
        for seed, engine in enumerate(engines, start=100):
            engine.simulate(*request, trials, seed=seed)

    separate = median_seconds(one_by_one, repeats)
    print(
        f"sensitivity_analysis, {label}: {len(engines)} ensembles of {trials} trials in {analysis * 1e3:.1f} ms; "
        f"the same ensembles through simulate {separate * 1e3:.1f} ms; ratio {analysis / separate:.3f} "
        f"(target <= 1.10)"
    )


def bench_generate(repeats):
    calls = 100_000
    for name in ("telecom_backbone", "repeater_chain", "hybrid_satellite_fiber"):
        seconds = median_seconds(lambda: [vc.generate_topology(name) for _ in range(calls)], repeats)
        print(f"generate_topology({name!r}): {seconds / calls * 1e6:.2f} us per call (target < 5)")


def bench_compare(runs, repeats):
    endpoints = [
        ("telecom_backbone", "A", "E"),
        ("fiber_only", "A", "C"),
        ("repeater_chain", "N0", "N3"),
        ("hybrid_satellite_fiber", "Toronto", "London"),
        ("hybrid", "Toronto", "Montreal"),
    ]
    objects = [vc.TopologyEndpoints(*e) for e in endpoints]
    compare = median_seconds(lambda: vc.compare_topologies(objects, 0.75, 5000.0, runs), repeats)
    engines = []
    for name, source, target in endpoints:
        payload = vc.generate_topology(
            {"fiber_only": "telecom_backbone", "hybrid": "hybrid_satellite_fiber"}.get(name, name)
        )
        engine = vc.VornEngine()
        engine.define_network(payload.nodes, payload.links)
        engines.append((engine, source, target))
    ensembles = median_seconds(lambda: [e.simulate(s, t, 0.75, 5000.0, runs) for e, s, t in engines], repeats)
    print(
        f"compare_topologies, five names x {runs:,} runs: {compare * 1e3:.1f} ms; the five ensembles alone "
        f"{ensembles * 1e3:.1f} ms, a share of {min(ensembles / compare, 1.0) * 100:.1f} %"
    )


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    print(f"vorn_core from {vc.__file__}")
    chain = vc.generate_topology("repeater_chain")
    backbone = vc.generate_topology("telecom_backbone")
    bench_sensitivity(
        "repeater chain N0 -> N3 (0.8, 100 ms)", chain.nodes, chain.links, ("N0", "N3", 0.8, 100.0), args.repeats
    )
    bench_sensitivity(
        "telecom backbone A -> E (0.75, 5000 ms)",
        backbone.nodes,
        backbone.links,
        ("A", "E", 0.75, 5000.0),
        args.repeats,
    )
    bench_generate(args.repeats)
    bench_compare(10_000, args.repeats)


if __name__ == "__main__":
    main()
