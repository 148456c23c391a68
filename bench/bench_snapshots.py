"""Engine snapshots beside .vorn files: saving and loading in MB/s, and diff_topologies.

The network is bench_load's (a random spanning tree plus extra links, a quarter of them satellite links). On the
.vorn side: load_vorn_file, from_vorn_file (load and define an engine's network) and VornFile.save; on the
snapshot side: load_topology into an engine and save_topology from it. Each figure is the median of several
runs in this one process, in MB/s of the file it reads or writes; the 1/4 and 1/2 sizes show whether the rate
stays flat. diff_topologies runs on two snapshots of the same network (nothing differs) and of two networks
whose links all differ (every link key listed), with the extra peak memory of the diff measured in a child
process. When valgrind is present, callgrind instructions per byte (stable on a noisy machine), taken as the
difference between networks of 20,000 and 2,000 nodes so that start-up does not count.

    python bench/bench_snapshots.py [--nodes 100000] [--links 300000] [--repeats 5] [--quick] [--no-callgrind]
"""

import os
import subprocess
import sys
import tempfile

import vorn_core as vc
from bench_load import size_arguments, write_network
from measure import callgrind_present, instructions, median_seconds


def rate(path, seconds):
    return os.path.getsize(path) / 1e6 / seconds


def loaded_engine(path):
    engine = vc.VornEngine()
    vc.load_topology(engine, path)
    return engine


# Freed memory goes back to the system first (malloc_trim), so that what the diff allocates shows in the resident
# size; writing 5 to clear_refs resets its peak (VmHWM), so the peak after the diff is the diff's own.
DIFF_MEMORY_SCRIPT = """
import ctypes, sys, vorn_core as vc
def status(key):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(key))
first, second = vc.from_vorn_file(sys.argv[1]).snapshot(), vc.from_vorn_file(sys.argv[2]).snapshot()
ctypes.CDLL(None).malloc_trim(0)
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
before = status("VmRSS:")
diff = vc.diff_topologies(first, second)
print(status("VmHWM:") - before)
"""


def diff_memory(first, second):
    """Peak memory the diff adds, in MB, from a fresh process."""
    out = subprocess.run(
        [sys.executable, "-c", DIFF_MEMORY_SCRIPT, first, second], check=True, capture_output=True, text=True
    ).stdout
    return int(out) / 1024


CALLGRIND_SCRIPT = """
import sys, vorn_core as vc
action, path = sys.argv[1], sys.argv[2]
if action.endswith("vorn"):
    f = vc.load_vorn_file(path)
    if action == "save-vorn":
        f.save(path + ".saved")
else:
    engine = vc.VornEngine()
    vc.load_topology(engine, path)
    if action == "save-snapshot":
        vc.save_topology(engine, path + ".saved")
"""


def bench_callgrind(folder):
    if not callgrind_present():
        return
    sizes = {}
    for name, nodes in (("small", 2_000), ("large", 20_000)):
        vorn = os.path.join(folder, f"{name}.vorn")
        write_network(vorn, nodes, 3 * nodes)
        snapshot = os.path.join(folder, f"{name}.json")
        vc.save_topology(vc.from_vorn_file(vorn), snapshot)
        sizes[name] = {"vorn": vorn, "snapshot": snapshot}

    def per_byte(kind):
        small, large = sizes["small"][kind], sizes["large"][kind]
        size = os.path.getsize(large) - os.path.getsize(small)
        load = [instructions(CALLGRIND_SCRIPT, f"load-{kind}", path) for path in (small, large)]
        save = [instructions(CALLGRIND_SCRIPT, f"save-{kind}", path) for path in (small, large)]
        return (load[1] - load[0]) / size, (save[1] - save[0]) / size - (load[1] - load[0]) / size

    vorn_load, vorn_save = per_byte("vorn")
    snapshot_load, snapshot_save = per_byte("snapshot")
    print(
        f"callgrind, instructions per byte: load_vorn_file {vorn_load:.1f}, load_topology {snapshot_load:.1f} "
        f"({snapshot_load / vorn_load:.2f}x); VornFile.save {vorn_save:.1f}, save_topology {snapshot_save:.1f} "
        f"({snapshot_save / vorn_save:.2f}x)"
    )


def main():
    args = size_arguments()

    with tempfile.TemporaryDirectory(prefix="vorn-bench-") as folder:
        print(
            f"{'size':>5} {'nodes':>8} {'links':>8} | {'.vorn MB':>8} {'load_vorn_file':>14} {'from_vorn_file':>14} "
            f"{'save':>10} | {'snap MB':>8} {'load_topology':>14} {'save_topology':>14} | "
            f"{'diff same':>9} {'diff all':>9} {'+peak MB':>8}"
        )
        for fraction in (4, 2, 1):
            n_nodes, n_links = args.nodes // fraction, args.links // fraction
            vorn, other_vorn = (os.path.join(folder, f"{name}-{fraction}.vorn") for name in ("net", "other"))
            write_network(vorn, n_nodes, n_links)
            write_network(other_vorn, n_nodes, n_links, seed=7)
            snapshot, saved_vorn = os.path.join(folder, f"net-{fraction}.json"), vorn + ".saved"
            engine = vc.from_vorn_file(vorn)
            vc.save_topology(engine, snapshot)
            assert len(loaded_engine(snapshot).snapshot().links) == n_links

            load_vorn = rate(vorn, median_seconds(lambda: vc.load_vorn_file(vorn), args.repeats))
            from_vorn = rate(vorn, median_seconds(lambda: vc.from_vorn_file(vorn), args.repeats))
            f = vc.load_vorn_file(vorn)
            save_vorn = median_seconds(lambda: f.save(saved_vorn), args.repeats)
            save_vorn = rate(saved_vorn, save_vorn)
            del f
            target = vc.VornEngine()
            load_snapshot = rate(snapshot, median_seconds(lambda: vc.load_topology(target, snapshot), args.repeats))
            saved = snapshot + ".saved"
            save_snapshot = rate(saved, median_seconds(lambda: vc.save_topology(engine, saved), args.repeats))

            first, second, other = engine.snapshot(), engine.snapshot("again"), vc.from_vorn_file(other_vorn).snapshot()
            same = median_seconds(lambda: vc.diff_topologies(first, second), args.repeats)
            every = median_seconds(lambda: vc.diff_topologies(first, other), args.repeats)
            assert len(vc.diff_topologies(first, other).links_added) > 0.9 * n_links
            del first, second, other, engine, target
            peak = diff_memory(vorn, other_vorn)
            print(
                f"  1/{fraction} {n_nodes:8,} {n_links:8,} | {os.path.getsize(vorn) / 1e6:8.1f} "
                f"{load_vorn:9.1f} MB/s {from_vorn:9.1f} MB/s {save_vorn:5.1f} MB/s | "
                f"{os.path.getsize(snapshot) / 1e6:8.1f} {load_snapshot:9.1f} MB/s {save_snapshot:9.1f} MB/s | "
                f"{same * 1e3:6.0f} ms {every * 1e3:6.0f} ms {peak:8.1f}"
            )
        print(
            f"full size: load_topology {load_snapshot / load_vorn:.2f}x the MB/s of load_vorn_file, "
            f"{load_snapshot / from_vorn:.2f}x from_vorn_file; save_topology {save_snapshot / save_vorn:.2f}x "
            f"VornFile.save; diff_topologies {max(same, every) * 1e3:.0f} ms at most (target < 500 ms)"
        )
        if not args.no_callgrind:
            bench_callgrind(folder)


if __name__ == "__main__":
    main()
