"""Protocol benchmarks beside the single request they are built from.

A protocol is a loop or fan-out of requests, so each figure is printed next to the request figure
measured in the same run: requests/s on the repeater chain, key-distribution rounds/s on the same
route, and the time of one mesh computation over the six nodes of the telecom backbone. Medians of
several runs; with valgrind present, also instructions per request, per round and per computation
(stable on a noisy machine).

    python bench/bench_protocols.py [--quick] [--no-callgrind]
"""

import argparse

import vorn_core as vc
from measure import callgrind_present, instructions_per_unit, median_seconds


def engine_of(name):
    topology = vc.generate_topology(name)
    engine = vc.VornEngine()
    engine.define_network(topology.nodes, topology.links)
    return engine, [node.id for node in topology.nodes]


def bench_requests(calls, repeats):
    engine, _ = engine_of("repeater_chain")

    def loop():
        request = engine.request_entanglement
        for _ in range(calls):
            request("N0", "N3", 0.8, 100.0)

    per_second = calls / median_seconds(loop, repeats)
    print(f"request_entanglement, repeater chain: {per_second / 1e3:,.0f} k calls/s (target >= 1,000)")
    return per_second


def bench_qkd(rounds, repeats, requests_per_second):
    engine, _ = engine_of("repeater_chain")
    result = vc.qkd(engine, "N0", "N3", 0.8, 1e12, rounds)
    assert result.rounds_completed == rounds, result  # the budget must not cut the run short
    per_second = rounds / median_seconds(lambda: vc.qkd(engine, "N0", "N3", 0.8, 1e12, rounds), repeats)
    print(
        f"qkd, repeater chain N0 -> N3, {rounds:,} rounds: {per_second / 1e6:.2f} M rounds/s (target >= 2) "
        f"= {per_second / requests_per_second:.1f} x the request rate"
    )


def bench_distributed(calls, repeats, requests_per_second):
    engine, nodes = engine_of("telecom_backbone")
    mesh = vc.CoordinationTopology.mesh()
    basis = vc.MeasurementBasis()
    links = len(vc.distributed_computation(engine, nodes, mesh, basis).resource_links_used)

    def loop():
        for _ in range(calls):
            vc.distributed_computation(engine, nodes, mesh, basis)

    seconds = median_seconds(loop, repeats) / calls
    print(
        f"distributed_computation, mesh over the {len(nodes)} telecom backbone nodes ({links} links): "
        f"{seconds * 1e6:.1f} us (target < 100) = {seconds * requests_per_second:.1f} chain requests"
    )


def bench_teleportation(calls, repeats):
    engine, _ = engine_of("repeater_chain")

    def loop():
        for _ in range(calls):
            vc.teleportation(engine, "N0", "N3")

    print(f"teleportation, repeater chain N0 -> N3: {median_seconds(loop, repeats) / calls * 1e6:.2f} us")


CALLGRIND_SCRIPT = """
import sys, vorn_core as vc
what, count = sys.argv[1], int(sys.argv[2])
name = "telecom_backbone" if what == "mesh" else "repeater_chain"
topology = vc.generate_topology(name)
engine = vc.VornEngine()
engine.define_network(topology.nodes, topology.links)
if what == "request":
    for _ in range(count):
        engine.request_entanglement("N0", "N3", 0.8, 100.0)
elif what == "qkd":
    vc.qkd(engine, "N0", "N3", 0.8, 1e12, count)
else:
    nodes = [n.id for n in topology.nodes]
    mesh, basis = vc.CoordinationTopology.mesh(), vc.MeasurementBasis()
    for _ in range(count):
        vc.distributed_computation(engine, nodes, mesh, basis)
"""


def per_unit(what, low, high):
    return instructions_per_unit(CALLGRIND_SCRIPT, what, low, high)


def bench_callgrind():
    if not callgrind_present():
        return
    request = per_unit("request", 2_000, 22_000)
    round_ = per_unit("qkd", 10_000, 210_000)
    mesh = per_unit("mesh", 200, 1_200)
    print(
        f"callgrind: {request:,.0f} instructions per request (repeater chain, Python call included), "
        f"{round_:,.0f} per qkd round, {mesh:,.0f} per mesh computation "
        f"(= {mesh / request:.1f} requests)"
    )


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="smaller workloads")
    parser.add_argument("--no-callgrind", action="store_true")
    args = parser.parse_args()
    repeats = 3 if args.quick else 7
    print(f"vorn_core from {vc.__file__}")
    requests_per_second = bench_requests(50_000 if args.quick else 200_000, repeats)
    bench_qkd(100_000, repeats, requests_per_second)
    bench_distributed(1_000 if args.quick else 5_000, repeats, requests_per_second)
    bench_teleportation(20_000 if args.quick else 100_000, repeats)
    if not args.no_callgrind:
        bench_callgrind()


if __name__ == "__main__":
    main()
