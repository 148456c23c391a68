"""Loading a large .vorn file: load_vorn_file against the standard json module plus the same checks in Python.

Both sides read the file, parse it, check structure and types, the version, unique node ids, link ends,
self-loops, value ranges and connectivity (union-find), and end with Python-visible objects: a VornFile on
one side, plain dicts on the other. Medians of several runs, each kind of run in a fresh child process (so
that the memory one side leaves behind, gigabytes of freed Python objects, does not shape the other's
allocations), in processor time (the machine is shared, so wall-clock figures swing with its load; they
are printed too), at 100,000 and at
300,000 links (a third of the full size and the full size); the target is 20x. Saving the loaded file is
timed too (VornFile.save, to a file next to it). When valgrind is present, instructions per byte loaded and
saved from callgrind (stable on a noisy machine): the difference between a file of 20,000 nodes and one of
2,000, so start-up does not count.

With --interrupt-gb, the time from Ctrl-C (SIGALRM at random points of a load) to the KeyboardInterrupt on a file of
that many gigabytes (target: within a quarter of a second).

    python bench/bench_load.py [--nodes 100000] [--links 300000] [--repeats 5] [--quick] [--no-callgrind]
                               [--interrupt-gb 1] [--interrupt-only]
"""

import argparse
import gc
import json
import os
import random
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import vorn_core as vc
from measure import callgrind_present, instructions

NODE_TYPES = ("ground", "satellite", "repeater")
LINK_TYPES = ("fiber", "satellite")


# ---- the file ---------------------------------------------------------------------------------


def write_network(path, n_nodes, n_links, seed=2024):
    """A connected, valid network: a random spanning tree plus random extra links, no self-loops."""
    rng = random.Random(seed)
    ids = [f"node-{i:06d}" for i in range(n_nodes)]
    with open(path, "w", encoding="utf-8") as out:
        out.write('{\n  "version": "1.0",\n  "metadata": {"name": "bench", "author": "bench_load"},\n  "nodes": [\n')
        for i, node_id in enumerate(ids):
            node = {"id": node_id}
            if i % 2 == 0:
                node["memory_lifetime_ms"] = round(rng.uniform(10.0, 5000.0), 3)
            if i % 3 == 0:
                node["memory_capacity"] = rng.randrange(1, 64)
            if i % 5 == 0:
                node["node_type"] = NODE_TYPES[i % 3]
            out.write("    " + json.dumps(node, ensure_ascii=False) + (",\n" if i + 1 < n_nodes else "\n"))
        out.write('  ],\n  "links": [\n')
        for k in range(n_links):
            if k < n_nodes - 1:
                a, b = rng.randrange(k + 1), k + 1
            else:
                a = rng.randrange(n_nodes)
                b = rng.randrange(n_nodes - 1)
                b += b >= a
            link = {
                "id": f"L{k}",
                "from": ids[a],
                "to": ids[b],
                "distance_km": round(rng.uniform(0.5, 900.0), 4),
                "base_fidelity": round(rng.uniform(0.8, 1.0), 6),
                "generation_rate_hz": rng.choice([1e3, 2.5e4, 1e6]),
            }
            if k % 4 == 0:
                link["link_type"] = LINK_TYPES[k % 8 == 0]
                if k % 8 == 0:
                    link["satellite"] = {"visibility": 0.5, "weather_factor": 0.9}
            out.write("    " + json.dumps(link) + (",\n" if k + 1 < n_links else "\n"))
        out.write(
            '  ],\n  "config": {"alpha_loss": 0.2, "max_attempts": 40},\n  "constraints": {"fidelity_target": 0.85}\n}'
        )


# ---- the same work in Python ------------------------------------------------------------------


class Invalid(Exception):
    pass


def is_number(value):
    return type(value) is float or type(value) is int


def take(record, key, check, required, what):
    value = record.get(key)
    if value is None:
        if required:
            raise Invalid(f'Missing required key "{key}" in {what}')
        return None
    if not check(value):
        raise Invalid(f'Invalid value for "{key}" in {what}')
    return value


def is_text(value):
    return type(value) is str


def is_u32(value):
    return type(value) is int and 0 <= value <= 0xFFFFFFFF


def is_object(value):
    return type(value) is dict


def refuse_constant(constant):
    raise Invalid(f"Invalid value {constant}")


def python_load(path):
    with open(path, "rb") as handle:
        data = handle.read()
    doc = json.loads(data.decode("utf-8"), parse_constant=refuse_constant)
    if type(doc) is not dict:
        raise Invalid("the document is not an object")
    version = take(doc, "version", is_text, True, "the document")
    metadata = take(doc, "metadata", is_object, True, "the document")
    raw_nodes = take(doc, "nodes", lambda v: type(v) is list, True, "the document")
    raw_links = take(doc, "links", lambda v: type(v) is list, True, "the document")
    meta = {"name": take(metadata, "name", is_text, True, "metadata")}
    for key in ("description", "author", "created_at"):
        meta[key] = take(metadata, key, is_text, False, "metadata")

    nodes = []
    for raw in raw_nodes:
        if type(raw) is not dict:
            raise Invalid("a node is not an object")
        lifetime = take(raw, "memory_lifetime_ms", is_number, False, "a node")
        node_type = take(raw, "node_type", lambda v: v in NODE_TYPES, False, "a node")
        nodes.append(
            {
                "id": take(raw, "id", is_text, True, "a node"),
                "memory_lifetime_ms": None if lifetime is None else float(lifetime),
                "memory_capacity": take(raw, "memory_capacity", is_u32, False, "a node"),
                "node_type": node_type,
            }
        )
    links = []
    for raw in raw_links:
        if type(raw) is not dict:
            raise Invalid("a link is not an object")
        satellite = take(raw, "satellite", is_object, False, "a link")
        if satellite is not None:
            satellite = {
                "visibility": float(take(satellite, "visibility", is_number, True, "satellite")),
                "weather_factor": float(take(satellite, "weather_factor", is_number, True, "satellite")),
            }
        links.append(
            {
                "id": take(raw, "id", is_text, False, "a link") or "",
                "from": take(raw, "from", is_text, True, "a link"),
                "to": take(raw, "to", is_text, True, "a link"),
                "distance_km": float(take(raw, "distance_km", is_number, True, "a link")),
                "base_fidelity": float(take(raw, "base_fidelity", is_number, True, "a link")),
                "generation_rate_hz": float(take(raw, "generation_rate_hz", is_number, True, "a link")),
                "link_type": take(raw, "link_type", lambda v: v in LINK_TYPES, False, "a link"),
                "satellite": satellite,
            }
        )
    sections = {}
    for name, fields in (
        (
            "config",
            {
                "alpha_loss": is_number,
                "beta_fidelity_decay": is_number,
                "gamma_swapping": is_number,
                "max_attempts": is_u32,
            },
        ),
        ("constraints", {"fidelity_target": is_number, "max_latency_ms": is_number}),
    ):
        section = take(doc, name, is_object, False, "the document")
        if section is not None:
            sections[name] = {key: take(section, key, check, False, name) for key, check in fields.items()}

    if version != "1.0":
        raise Invalid(f"Unsupported vorn version: {version}")
    errors = validate(nodes, links)
    if errors:
        raise Invalid("Validation failed:\n" + "\n".join(errors))
    return {"version": version, "metadata": meta, "nodes": nodes, "links": links, **sections}


def validate(nodes, links):
    errors = []
    seen = set()
    for node in nodes:
        if node["id"] in seen:
            errors.append(f"Duplicate node ID: {node['id']}")
        seen.add(node["id"])
    for link in links:
        name = link["id"] or "unknown"
        a, b = link["from"], link["to"]
        if a == b:
            errors.append(f"Self-loop detected in link '{name}'")
        for end in (a, b):
            if end not in seen:
                errors.append(f"Unknown node reference '{end}'")
        if link["distance_km"] <= 0:
            errors.append("Invalid distance")
        if not 0 < link["base_fidelity"] <= 1:
            errors.append("Invalid fidelity")
        if link["generation_rate_hz"] <= 0:
            errors.append("Invalid generation rate")
    vertex = {node["id"]: i for i, node in enumerate(nodes)}
    parent = list(range(len(nodes)))
    components = len(nodes)
    for link in links:
        a, b = vertex.get(link["from"]), vertex.get(link["to"])
        if a is None or b is None:
            continue
        while parent[a] != a:
            parent[a] = parent[parent[a]]
            a = parent[a]
        while parent[b] != b:
            parent[b] = parent[parent[b]]
            b = parent[b]
        if a != b:
            parent[b] = a
            components -= 1
    if components > 1:
        errors.append(f"Graph is disconnected with {components} components")
    return errors


# ---- measurement ------------------------------------------------------------------------------

CALLGRIND_SCRIPT = """
import sys, vorn_core as vc
f = vc.load_vorn_file(sys.argv[1])
if sys.argv[2] == "save":
    f.save(sys.argv[1] + ".saved")
"""


def bench_callgrind(folder):
    if not callgrind_present():
        return
    small, large = os.path.join(folder, "small.vorn"), os.path.join(folder, "large.vorn")
    write_network(small, 2_000, 6_000)
    write_network(large, 20_000, 60_000)
    size = os.path.getsize(large) - os.path.getsize(small)
    loads = [instructions(CALLGRIND_SCRIPT, path, "load") for path in (small, large)]
    saves = [instructions(CALLGRIND_SCRIPT, path, "save") for path in (small, large)]
    load = (loads[1] - loads[0]) / size
    save = (saves[1] - saves[0]) / size - load
    print(f"callgrind: load_vorn_file {load:.1f} instructions per byte, VornFile.save {save:.1f} instructions per byte")


def medians(call, repeats):
    """Median seconds of `repeats` calls, in processor time and in wall-clock time."""
    cpu, wall = [], []
    for _ in range(repeats):
        gc.collect()
        start_cpu, start_wall = time.process_time(), time.perf_counter()
        result = call()
        cpu.append(time.process_time() - start_cpu)
        wall.append(time.perf_counter() - start_wall)
        del result
    return statistics.median(cpu), statistics.median(wall)


CHILD_SCRIPT = """
import sys
sys.path.insert(0, sys.argv[4])
import bench_load, vorn_core as vc
what, path, repeats = sys.argv[1], sys.argv[2], int(sys.argv[3])
if what == "save":
    loaded = vc.load_vorn_file(path)
calls = {
    "load": lambda: vc.load_vorn_file(path),
    "load and read": lambda: (lambda f: (f.nodes, f.links))(vc.load_vorn_file(path)),
    "python": lambda: bench_load.python_load(path),
    "save": lambda: loaded.save(path + ".saved"),
}
print(*bench_load.medians(calls[what], repeats))
"""


def medians_in_child(what, path, repeats):
    """medians() of one kind of run ("load", "load and read", "python", "save") in a fresh interpreter."""
    run = subprocess.run(
        [sys.executable, "-c", CHILD_SCRIPT, what, path, str(repeats), os.path.dirname(os.path.abspath(__file__))],
        check=True,
        capture_output=True,
        text=True,
    )
    cpu, wall = map(float, run.stdout.split())
    return cpu, wall


def bench_interrupt(folder, gigabytes, points=12):
    """Seconds from Ctrl-C to KeyboardInterrupt at random points of loading a file of the given size."""
    path = os.path.join(folder, "huge.vorn")
    nodes = int(gigabytes * 1e9 / 4 / 100)  # about 100 bytes a node and 300 a link, three links a node
    write_network(path, nodes, 3 * nodes)
    size = os.path.getsize(path) / 1e9
    start = time.perf_counter()
    vc.load_vorn_file(path)
    full = time.perf_counter() - start

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    rng = random.Random(7)
    latencies = []
    try:
        for _ in range(points):
            delay = rng.uniform(0.01, 0.95 * full)
            start = time.perf_counter()
            signal.setitimer(signal.ITIMER_REAL, delay)
            try:
                vc.load_vorn_file(path)
            except KeyboardInterrupt:
                latencies.append(time.perf_counter() - start - delay)
            finally:
                signal.setitimer(signal.ITIMER_REAL, 0)
    finally:
        signal.signal(signal.SIGALRM, previous)
    os.unlink(path)
    print(
        f"Ctrl-C on a {size:.2f} GB load ({full:.2f} s whole): KeyboardInterrupt after "
        f"median {statistics.median(latencies) * 1e3:.1f} ms, max {max(latencies) * 1e3:.1f} ms "
        f"over {len(latencies)} of {points} random points (target <= 250 ms)"
    )


def size_arguments():
    """The command line of the file benchmarks: the full size, the repeats, and whether to count instructions."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--nodes", type=int, default=100_000)
    parser.add_argument("--links", type=int, default=300_000)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="a tenth of the size, three repeats")
    parser.add_argument("--no-callgrind", action="store_true")
    parser.add_argument("--interrupt-gb", type=float, default=0.0, help="measure Ctrl-C on a file this large")
    parser.add_argument("--interrupt-only", action="store_true", help="only the Ctrl-C measurement")
    args = parser.parse_args()
    if args.quick:
        args.nodes, args.links, args.repeats = args.nodes // 10, args.links // 10, 3
    print(f"vorn_core from {vc.__file__}")
    return args


def main():
    args = size_arguments()

    with tempfile.TemporaryDirectory(prefix="vorn-bench-") as folder:
        if args.interrupt_only:
            return bench_interrupt(folder, args.interrupt_gb or 1.0)
        rows = []
        for fraction in (3, 1):
            path = os.path.join(folder, f"net-{fraction}.vorn")
            n_nodes, n_links = args.nodes // fraction, args.links // fraction
            write_network(path, n_nodes, n_links)
            megabytes = os.path.getsize(path) / 1e6

            # Both sides accept the file and see the same network.
            loaded, reference = vc.load_vorn_file(path), python_load(path)
            assert len(loaded.nodes) == len(reference["nodes"]) == n_nodes
            assert len(loaded.links) == len(reference["links"]) == n_links
            assert loaded.links[-1].distance_km == reference["links"][-1]["distance_km"]
            del loaded, reference

            native = medians_in_child("load", path, args.repeats)
            with_reads = medians_in_child("load and read", path, args.repeats)
            python = medians_in_child("python", path, max(3, args.repeats // 2))
            save = medians_in_child("save", path, args.repeats)
            saved_megabytes = os.path.getsize(path + ".saved") / 1e6
            rows.append((n_nodes, n_links, megabytes, native, with_reads, python, saved_megabytes / save[0]))

        print("processor time (wall-clock time in brackets)")
        print(
            f"{'nodes':>8} {'links':>8} {'MB':>6} | {'load_vorn_file':>23} | {'+ read nodes/links':>23} | "
            f"{'json + Python checks':>23} | {'ratio':>13} | {'save':>10}"
        )
        for n_nodes, n_links, megabytes, native, with_reads, python, save_rate in rows:

            def cell(seconds):
                return f"{megabytes / seconds[0]:6.1f} MB/s {seconds[0] * 1e3 / megabytes:5.2f} ms/MB"

            print(
                f"{n_nodes:8,} {n_links:8,} {megabytes:6.1f} | {cell(native):>23} | {cell(with_reads):>23} | "
                f"{cell(python):>23} | {python[0] / native[0]:4.1f}x ({python[1] / native[1]:4.1f}x) | "
                f"{save_rate:5.1f} MB/s"
            )
        for _, n_links, _, native, with_reads, python, save_rate in rows:
            print(
                f"{n_links:,} links: load_vorn_file {native[0] * 1e3:.0f} ms ({native[1] * 1e3:.0f} ms), "
                f"Python {python[0] * 1e3:.0f} ms ({python[1] * 1e3:.0f} ms): "
                f"{python[0] / native[0]:.1f}x faster (target >= 20x); "
                f"with every node and link read as a Python object {python[0] / with_reads[0]:.1f}x; "
                f"save {save_rate:.1f} MB/s"
            )
        if not args.no_callgrind:
            bench_callgrind(folder)
        if args.interrupt_gb:
            bench_interrupt(folder, args.interrupt_gb)


if __name__ == "__main__":
    main()
