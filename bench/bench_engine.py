"""Engine benchmarks: ensemble trials/s, single requests/s, paths/s of the route enumeration.

Prints medians of several runs measured in this one process, and, when valgrind is present,
instructions per trial from callgrind (stable on a noisy machine).

    python bench/bench_engine.py [--quick] [--no-callgrind]
"""

import argparse
import math

import vorn_core as vc
from measure import callgrind_present, instructions_per_unit, median_seconds


def chain_engine():
    engine = vc.VornEngine()
    engine.define_network(
        [vc.NodeDefinition(f"N{i}", 150.0) for i in range(4)],
        [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(3)],
    )
    return engine


def complete_engine(n):
    engine = vc.VornEngine()
    nodes = [vc.NodeDefinition(f"K{i}", 1.0) for i in range(n)]
    links = [vc.LinkDefinition(f"K{i}", f"K{j}", 10.0 + i + j, 0.99, 1000.0) for i in range(n) for j in range(i + 1, n)]
    engine.define_network(nodes, links)
    return engine


def simple_paths_between_two_nodes(n):
    inner = n - 2
    return sum(math.factorial(inner) // math.factorial(inner - k) for k in range(inner + 1))


def peak_rss_mib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def bench_simulate(runs, repeats):
    engine = chain_engine()
    seconds = median_seconds(lambda: engine.simulate("N0", "N3", 0.8, 100.0, runs, seed=7), repeats)
    print(
        f"simulate, repeater chain, {runs:,} runs: median {seconds * 1e3:.1f} ms "
        f"= {runs / seconds / 1e6:.2f} M trials/s (target >= 5)"
    )


def bench_requests(calls, repeats):
    engine = chain_engine()

    def loop():
        request = engine.request_entanglement
        for _ in range(calls):
            request("N0", "N3", 0.8, 100.0)

    seconds = median_seconds(loop, repeats)
    print(f"request_entanglement, repeater chain: {calls / seconds / 1e3:.0f} k calls/s (target >= 1000)")


def bench_routes(sizes, repeats):
    for n in sizes:
        engine = complete_engine(n)
        paths = simple_paths_between_two_nodes(n)
        before = peak_rss_mib()
        # A zero latency bound ends the request right after the route is chosen. With equal figures
        # on every link all longest paths tie, so no bound cuts anything: HighestSuccess still scores
        # every path (bench/cpp/bench_routes.cpp measures the bounded searches). The engine keeps its
        # last prepared request, so each call asks for a slightly different target to search again.
        targets = iter(0.5 + i * 1e-9 for i in range(repeats))
        seconds = median_seconds(
            lambda: engine.request_entanglement("K0", f"K{n - 1}", next(targets), 0.0, vc.StrategyType.HighestSuccess),
            repeats,
        )
        print(
            f"route search K{n}: {paths:,} candidate paths in {seconds * 1e3:.1f} ms "
            f"= {paths / seconds / 1e6:.1f} M paths/s (target >= 30); "
            f"peak RSS {before:.1f} -> {peak_rss_mib():.1f} MiB"
        )


CALLGRIND_SCRIPT = """
import sys, vorn_core as vc
engine = vc.VornEngine()
engine.define_network([vc.NodeDefinition(f"N{i}", 150.0) for i in range(4)],
    [vc.LinkDefinition(f"N{i}", f"N{i+1}", 100.0, 0.92, 800.0) for i in range(3)])
if sys.argv[1] == "simulate":
    engine.simulate("N0", "N3", 0.8, 100.0, int(sys.argv[2]), seed=7)
else:
    request = engine.request_entanglement
    for _ in range(int(sys.argv[2])):
        request("N0", "N3", 0.8, 100.0)
"""


def bench_callgrind():
    if not callgrind_present():
        return
    low, high = 10_000, 110_000
    per_trial = instructions_per_unit(CALLGRIND_SCRIPT, "simulate", low, high)
    print(f"callgrind: {per_trial:.0f} instructions per trial (simulate, repeater chain)")
    low, high = 2_000, 12_000
    per_request = instructions_per_unit(CALLGRIND_SCRIPT, "request", low, high)
    print(f"callgrind: {per_request:.0f} instructions per request (request_entanglement, repeater chain)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="smaller workloads")
    parser.add_argument("--no-callgrind", action="store_true")
    args = parser.parse_args()
    repeats = 3 if args.quick else 5
    print(f"vorn_core from {vc.__file__}")
    bench_simulate(200_000 if args.quick else 1_000_000, repeats)
    bench_requests(50_000 if args.quick else 200_000, repeats)
    bench_routes([8, 9, 10] if args.quick else [8, 9, 10, 11], repeats)
    if not args.no_callgrind:
        bench_callgrind()


if __name__ == "__main__":
    main()
