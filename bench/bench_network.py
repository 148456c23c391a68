"""Network-model benchmarks: link-generation events per CPU-second on a random geometric network of 1,000 nodes
serving 100 saturated demands (goal: 1 s of network time in under 10 CPU-seconds), and two saturated demands
sharing a link on a four-node line, in vorn.physics.network and in the event-driven peer QNS (PyPI "qns"), side
by side: throughputs with their intervals, whether they agree, and the CPU cost of each (goal: ours at least 100
times faster).

A link-generation event is a pair a link makes (NetworkStats.generated, the sum of LinkStats.generated): every
such pair is then used, discarded by the cut-off, lost in a failed swap or still held at the end. The random
geometric network is bench/cpp/bench_network_model's (nodes uniform in 100 km x 100 km, a link between every two
within 6 km, efficiency 0.5, 0.2 dB/km, 1 MHz sources, fidelity 0.97, T2 = 100 ms, 10 ms cut-off, swaps succeeding
9 times in 10, one memory per link end, demands between random connected nodes with one request in progress),
drawn from its own seed here; its routes are the engine's (highest fidelity, which with equal fidelities is the
fewest hops). Figures are in CPU time of this process, medians of a few repeats; the network's setup (routes,
figures) is measured apart by a run of 1 ms and taken off the model's figure. QNS runs in its own environment
(bench/peers/setup) as bench/peers/qns_network.py; without that environment (or with --no-peers) it is skipped.

    python bench/bench_network.py [--quick] [--no-peers]
"""

import argparse
import math
import os
import random
import statistics
import subprocess
import sys
import time

import vorn_core as vc
from bench_physics import peers_python

import vorn.physics as physics

HERE = os.path.dirname(os.path.abspath(__file__))
GOAL_CPU_PER_SECOND = 10.0  # CPU-seconds for one second of network time, large network
GOAL_RATIO = 100.0  # ours faster than the peer, small network
Z = statistics.NormalDist().inv_cdf(0.975)


def random_geometric(nodes=1000, side_km=100.0, reach_km=6.0, demands=100, seed=2026):
    """Nodes uniform in a square, a link between every two within reach; demands between random pairs of
    distinct nodes that some route joins."""
    draws = random.Random(seed)
    spots = [(side_km * draws.random(), side_km * draws.random()) for _ in range(nodes)]
    names = [f"n{k}" for k in range(nodes)]
    links, neighbours = [], [[] for _ in range(nodes)]
    for a in range(nodes):
        for b in range(a + 1, nodes):
            km = math.dist(spots[a], spots[b])
            if km <= reach_km:
                links.append(vc.LinkDefinition(names[a], names[b], km, 0.97, 1e6))
                neighbours[a].append(b)
                neighbours[b].append(a)
    part = [-1] * nodes  # connected components
    for start in range(nodes):
        if part[start] < 0:
            part[start], stack = start, [start]
            while stack:
                for next_node in neighbours[stack.pop()]:
                    if part[next_node] < 0:
                        part[next_node] = start
                        stack.append(next_node)
    wanted = []
    while len(wanted) < demands:
        a, b = draws.sample(range(nodes), 2)
        if part[a] == part[b]:
            wanted.append(physics.Demand(names[a], names[b], max_outstanding=1))
    return [vc.NodeDefinition(name, 0.1) for name in names], links, wanted


def cpu_seconds(call):
    start = time.process_time()
    result = call()
    return time.process_time() - start, result


def large_network(duration_ms, repeats):
    nodes, links, demands = random_geometric()
    model = physics.PhysicalModel(efficiency=0.5, swap_success_probability=0.9, cutoff_ms=10.0)

    def run(ms, seed):
        return physics.network(nodes, links, demands, ms, model, replicates=1, seed=seed, progress=False)

    setup = statistics.median(cpu_seconds(lambda: run(1.0, 1))[0] for _ in range(repeats))
    runs = [cpu_seconds(lambda seed=seed: run(duration_ms, seed)) for seed in range(1, repeats + 1)]
    cpu = statistics.median(seconds for seconds, _ in runs)
    stats = runs[0][1]
    events = statistics.median(result.generated for _, result in runs)
    hops = statistics.fmean(len(demand.path) - 1 for demand in stats.demands)
    model_cpu = cpu - setup
    print(
        f"random geometric network: {len(nodes):,} nodes, {len(links):,} links, {len(demands)} saturated demands of "
        f"{hops:.1f} hops on average, {duration_ms:g} ms of network time, median of {repeats}"
    )
    print(
        f"  {events:,.0f} link-generation events (pairs generated: {stats.lost:,} then lost in failed swaps, "
        f"{stats.discarded:,} discarded, {sum(d.delivered for d in stats.demands):,} end-to-end pairs delivered)"
    )
    print(
        f"  {cpu:.2f} CPU-s a call, of which {setup:.2f} s setting up: {events / model_cpu / 1e6:.2f} M events per "
        f"CPU-second of the model ({events / cpu / 1e6:.2f} M counting the setup)"
    )
    per_second = model_cpu / (duration_ms / 1000)
    print(
        f"  {per_second:.2f} CPU-s per second of network time, and {setup:.2f} s once per call "
        f"(goal < {GOAL_CPU_PER_SECOND:g}: {'met' if per_second + setup < GOAL_CPU_PER_SECOND else 'NOT met'})"
    )


# Two saturated demands sharing the middle link of a line A - B - C - D, as bench/peers/qns_network.py builds it.
LINK_KM, SOURCE_HZ, FIDELITY, EFFICIENCY = 20.0, 1000.0, 0.97, 0.5
DEMANDS = (("A", "C"), ("B", "D"))


def shared_link():
    nodes = [vc.NodeDefinition(name, 1e9) for name in "ABCD"]
    links = [vc.LinkDefinition(a, b, LINK_KM, FIDELITY, SOURCE_HZ) for a, b in ("AB", "BC", "CD")]
    return nodes, links, physics.PhysicalModel(efficiency=EFFICIENCY)


def mean_interval(values):
    mean = statistics.fmean(values)
    spread = Z * statistics.stdev(values) / math.sqrt(len(values))
    return mean, spread


def shared_link_peer(python, seconds, runs, repeats):
    nodes, links, model = shared_link()
    demands = [physics.Demand(a, b, max_outstanding=1) for a, b in DEMANDS]
    hop = physics.route(nodes, links, "A", "B", model).hops[0]
    physics.network(nodes, links, demands, 1.0, model, replicates=1, seed=1)  # one-off costs (imports) come first
    timed = [
        cpu_seconds(lambda: physics.network(nodes, links, demands, 1000 * seconds, model, replicates=runs, seed=1))
        for _ in range(repeats)
    ]
    ours, stats = statistics.median(cpu for cpu, _ in timed), timed[0][1]
    print(
        f"two saturated demands A to C and B to D sharing B-C on a line A - B - C - D: links of {LINK_KM:g} km, "
        f"p = {hop.success_probability:.4f} in slots of {hop.attempt_ms:g} ms, one memory per link end, "
        f"one request in progress each; {runs} runs of {seconds:g} s of network time"
    )
    ours_rates = [(d.throughput_hz, d.throughput_hz - d.throughput_hz_interval[0]) for d in stats.demands]
    if python is None:
        for (a, b), (rate, spread) in zip(DEMANDS, ours_rates):
            print(f"  {a} to {b}: vorn {rate:.2f} +- {spread:.2f} pairs/s")
        return
    speed_km_s = 1000 * model.signal_speed_km_ms
    arguments = [LINK_KM, SOURCE_HZ, hop.success_probability, FIDELITY, speed_km_s, seconds, runs, 1]
    lines = subprocess.run(
        [python, os.path.join(HERE, "peers", "qns_network.py"), *map(repr, arguments)],
        check=True,
        capture_output=True,
        text=True,
        timeout=3600,
    ).stdout.splitlines()
    peer_runs = [dict(zip(line.split()[::2], map(float, line.split()[1::2]))) for line in lines]
    peer_cpu = math.fsum(run["seconds"] for run in peer_runs)
    agree = True
    for (a, b), (rate, spread) in zip(DEMANDS, ours_rates):
        peer_rate, peer_spread = mean_interval([run[f"{a}-{b}"] / seconds for run in peer_runs])
        within = abs(rate - peer_rate) <= math.hypot(spread, peer_spread)
        agree &= within
        print(
            f"  {a} to {b}: vorn {rate:.2f} +- {spread:.2f}, QNS {peer_rate:.2f} +- {peer_spread:.2f} pairs/s (95 %): "
            f"{'agree' if within else 'DIFFER'}"
        )
    total, total_spread = mean_interval([math.fsum(run[f"{a}-{b}"] for a, b in DEMANDS) / seconds for run in peer_runs])
    print(
        f"  total: vorn {stats.throughput_hz:.2f}, QNS {total:.2f} +- {total_spread:.2f} pairs/s; mean fidelity "
        f"vorn {stats.demands[0].mean_fidelity:.4f}, QNS {statistics.fmean(run['fidelity'] for run in peer_runs):.4f}"
    )
    simulated = runs * seconds
    ratio = (peer_cpu / simulated) / (ours / simulated)
    print(
        f"  CPU-s per simulated second: vorn {ours / simulated:.2e}, QNS {peer_cpu / simulated:.2e}; vorn is "
        f"{ratio:,.0f} times faster (goal >= {GOAL_RATIO:g}: {'met' if ratio >= GOAL_RATIO else 'NOT met'}); "
        f"means {'agree' if agree else 'DIFFER'}"
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="shorter runs, fewer repeats")
    parser.add_argument("--no-peers", action="store_true")
    options = parser.parse_args()
    duration_ms, repeats, seconds, runs = (200.0, 2, 2.0, 5) if options.quick else (1000.0, 3, 10.0, 20)
    large_network(duration_ms, repeats)
    python = None if options.no_peers else peers_python()
    shared_link_peer(python, seconds, runs, repeats)


if __name__ == "__main__":
    sys.exit(main())
