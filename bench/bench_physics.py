"""Physical-model benchmarks: trials per second on one core for a 4-link chain at p from 0.9 down to 1e-4 and on
the telecom backbone's longest route, and the ratio against the event-driven peers measured in the same run.

Our figures are medians of several runs in this process, in wall-clock and in CPU time of this process (the
machine is shared; CPU time is the fairer figure there), and, when valgrind is present, instructions per trial
from callgrind. The peers (QNS and SeQUeNCe, PyPI "qns" and "sequence") run in their own environment, made by
bench/peers/setup, on a 4-node chain of 3 x 100 km; without that environment (or with --no-peers) they are
skipped.

Then the cost of failing swaps: a trial of the 4-link chain with swaps that succeed 9 times in 10 against one
with certain swaps (goal: at most 1.5 times), and trials per CPU-second of a 32-link chain with such swaps
(goal: 1 M). `--swap-cost` prints these alone; it runs on older versions of the package too, for before and
after figures.

    python bench/bench_physics.py [--quick] [--no-callgrind] [--no-peers] [--swap-cost]
"""

import argparse
import math
import os
import statistics
import subprocess
import sys
import time

import vorn_core as vc
from measure import callgrind_present, instructions_per_unit

import vorn.physics as physics

HERE = os.path.dirname(os.path.abspath(__file__))
TARGET = 5.0  # M trials per second on one core


def chain(p, hops=4):
    """Equal fibre links whose transmissivity is p (0.2 dB/km), 1 GHz sources, memories of 1 s."""
    distance_km = -10 * math.log10(p) / 0.2
    nodes = [vc.NodeDefinition(f"N{i}", 1.0) for i in range(hops + 1)]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", distance_km, 0.95, 1e9) for i in range(hops)]
    return nodes, links, "N0", f"N{hops}"


def backbone_longest_route():
    """The telecom backbone's longest route: of every pair of nodes under every strategy, the route with the
    most hops, then the most kilometres."""
    payload = vc.generate_topology("telecom_backbone")
    ids = [node.id for node in payload.nodes]
    km = {frozenset((link.from_node, link.to)): link.distance_km for link in payload.links}
    strategies = (vc.StrategyType.LowestLatency, vc.StrategyType.HighestFidelity, vc.StrategyType.HighestSuccess)

    def size(request):
        a, b, strategy = request
        path = physics.route(payload.nodes, payload.links, a, b, None, strategy).path
        return len(path), sum(km[frozenset(hop)] for hop in zip(path, path[1:]))

    a, b, strategy = max(((a, b, s) for a in ids for b in ids if a < b for s in strategies), key=size)
    return payload.nodes, payload.links, a, b, strategy


def rates(network, runs, repeats, model=None):
    """Median trials per second, wall clock and process CPU time."""
    nodes, links, a, b, *strategy = network
    walls, cpus = [], []
    for _ in range(repeats):
        wall, cpu = time.perf_counter(), time.process_time()
        physics.simulate(nodes, links, a, b, runs, model, *strategy, seed=1)
        walls.append(time.perf_counter() - wall)
        cpus.append(time.process_time() - cpu)
    return runs / statistics.median(walls), runs / statistics.median(cpus)


def swap_cost(runs, repeats):
    """A 4-link chain's trial at q = 0.9 against q = 1, and a 32-link chain's trials at q = 0.9."""
    certain, failing = (physics.PhysicalModel(swap_success_probability=q) for q in (1.0, 0.9))
    for p in (0.9, 0.1):
        _, at_one = rates(chain(p), runs, repeats, certain)
        _, at_nine = rates(chain(p), runs, repeats, failing)
        print(
            f"  4-link chain, p = {p:g}: q = 1 {at_one / 1e6:.2f} M, q = 0.9 {at_nine / 1e6:.2f} M trials per "
            f"CPU-second; a trial at q = 0.9 costs {at_one / at_nine:.2f} times one at q = 1 (goal <= 1.5)"
        )
    for p in (0.9, 0.1):
        _, long_chain = rates(chain(p, hops=32), runs // 20, repeats, failing)
        print(f"  32-link chain, p = {p:g}, q = 0.9: {long_chain / 1e6:.3f} M trials per CPU-second (goal >= 1)")


def attempts_per_trial(network):
    """Link attempts a trial accounts for without swap failures or cut-offs: each link attempts until it
    holds a pair, 1 / p times on average."""
    return sum(1 / hop.success_probability for hop in physics.route(*network).hops)


INSTRUCTIONS_SCRIPT = """
import sys, vorn.physics as physics, vorn_core as vc
nodes = [vc.NodeDefinition(f"N{i}", 1.0) for i in range(5)]
links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 50.0, 0.95, 1e9) for i in range(4)]
physics.simulate(nodes, links, "N0", "N4", int(sys.argv[2]), seed=1)
"""


def run_peer(python, script, simulated_seconds):
    out = subprocess.run(
        [python, os.path.join(HERE, "peers", script), str(simulated_seconds)],
        check=True,
        capture_output=True,
        text=True,
        timeout=1800,
    ).stdout.split()
    return dict(zip(out[::2], map(float, out[1::2])))


def peers_python():
    python = os.path.join(HERE, "peers", ".venv", "bin", "python")
    if os.path.exists(python):
        return python
    setup = os.path.join(HERE, "peers", "setup")
    try:
        return subprocess.run([setup], check=True, capture_output=True, text=True, timeout=1800).stdout.strip()
    except (subprocess.SubprocessError, OSError) as error:
        print(f"peers: environment not available ({error}); skipped")
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer trials and repeats")
    parser.add_argument("--no-callgrind", action="store_true")
    parser.add_argument("--no-peers", action="store_true")
    parser.add_argument("--swap-cost", action="store_true", help="only the cost of failing swaps")
    options = parser.parse_args()
    runs, repeats = (500_000, 3) if options.quick else (4_000_000, 5)
    if options.swap_cost:
        print(f"physical model with failing swaps, median of {repeats} runs")
        swap_cost(runs // 4, repeats)
        return

    print(f"physical model, {runs:,} trials per run, median of {repeats} (target >= {TARGET:g} M trials/s, one core)")
    ours = {}
    for p in (0.9, 0.1, 1e-2, 1e-3, 1e-4):
        wall, cpu = rates(chain(p), runs, repeats)
        ours[p] = cpu
        print(f"  4-link chain, p = {p:<6g}: {wall / 1e6:6.2f} M trials/s wall, {cpu / 1e6:6.2f} M per CPU-second")
    backbone = backbone_longest_route()
    nodes, links, a, b, strategy = backbone
    path = physics.route(nodes, links, a, b, None, strategy).path
    wall, cpu = rates(backbone, runs, repeats)
    print(f"  telecom backbone, longest route {'-'.join(path)} ({len(path) - 1} hops, {strategy}): "
          f"{wall / 1e6:.2f} M trials/s wall, {cpu / 1e6:.2f} M per CPU-second")  # fmt: skip
    # Every arrival, swap and expiry followed as an event (no target: the work grows with the events).
    model = physics.PhysicalModel(swap_success_probability=0.9, cutoff_ms=10.0)
    wall, cpu = rates(chain(0.1), runs // 4, repeats, model)
    print(f"  4-link chain, p = 0.1, swaps succeeding 9 times in 10, 10 ms cut-off: {cpu / 1e6:.2f} M per CPU-second")
    swap_cost(runs // 4, repeats)

    if not options.no_callgrind and callgrind_present():
        per_trial = instructions_per_unit(INSTRUCTIONS_SCRIPT, "trials", 100_000, 300_000)
        print(f"  callgrind: {per_trial:.0f} instructions per trial (4-link chain, p = 0.1)")

    if options.no_peers:
        return
    python = peers_python()
    if python is None:
        return
    # The peers' own chain: 3 x 100 km, fibre of 0.2 dB/km, memories of 150 s, sources at 800 Hz.
    nodes = [vc.NodeDefinition(f"N{i}", 150.0) for i in range(4)]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(3)]
    network = (nodes, links, "N0", "N3")
    _, our_trials = rates(network, runs, repeats)
    attempts = attempts_per_trial(network)
    our_attempts = our_trials * attempts
    print(
        f"peers on a 4-node chain of 3 x 100 km, per CPU-second (ours: {our_trials / 1e6:.2f} M trials, "
        f"each {attempts:.0f} link attempts on average: {our_attempts / 1e6:,.0f} M link attempts)"
    )
    qns = run_peer(python, "qns_chain.py", 0.5 if options.quick else 2.0)
    qns_rate = qns["pairs"] / qns["seconds"]
    print(f"  QNS (Werner states): {qns_rate:,.0f} end-to-end pairs; ours/QNS = {our_trials / qns_rate:,.0f}")
    seq = run_peer(python, "sequence_chain.py", 0.1 if options.quick else 0.5)
    seq_rate = seq["attempts"] / seq["seconds"]
    print(
        f"  SeQUeNCe (photon level): {seq_rate:,.0f} link attempts; ours/SeQUeNCe = {our_attempts / seq_rate:,.0f} "
        f"in link attempts, {our_trials / seq_rate:,.0f} in whole trials against single link attempts"
    )


if __name__ == "__main__":
    sys.exit(main())
