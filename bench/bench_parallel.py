"""Ensembles across processes: vorn.parallel.simulate with two local worker processes and on a two-worker
dask.distributed LocalCluster, against one engine.simulate in this process.

Workload: the repeater chain N0-N3 (100 km links, fidelity 0.92, 800 Hz), request N0 -> N3, target 0.8,
bound 100 ms, 10**7 trials. The variants take turns, round after round, so that a burst of other work on
a shared machine hits them alike. Prints the median of each and the ratios
(targets: two workers >= 1.8x one process; the cluster within 10 % of the two local workers). On a machine
busy with other work no program gets 2x from two processes: the "ceiling" line, two plain interpreters
running half the trials each, shows what the machine gives at the moment, and the last ratio how much of
it vorn.parallel keeps.

    python bench/bench_parallel.py [--runs N] [--repeats R] [--no-dask]

The pool per call includes starting its two workers (from the fork server, started once per process by
the warm-up) and stopping them.
"""

import argparse
import contextlib
import multiprocessing
import os
import statistics
import subprocess
import sys
import time
from concurrent.futures import ProcessPoolExecutor

import vorn_core as vc

from vorn import parallel


def chain():
    nodes = [vc.NodeDefinition(f"N{i}", 150.0) for i in range(4)]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(3)]
    return nodes, links


REQUEST = ("N0", "N3", 0.8, 100.0)


HALF = """
import sys, vorn_core as vc
engine = vc.VornEngine()
engine.define_network([vc.NodeDefinition(f"N{i}", 150.0) for i in range(4)],
                      [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(3)])
engine.simulate("N0", "N3", 0.8, 100.0, int(sys.argv[1]), seed=int(sys.argv[2]))
"""


def two_independent_processes(runs):
    """What the machine allows right now: two separate interpreters, half the trials each, no vorn at all."""
    processes = [subprocess.Popen([sys.executable, "-c", HALF, str(runs // 2), str(seed)]) for seed in (7, 8)]
    for process in processes:
        if process.wait() != 0:
            raise RuntimeError("a half-ensemble process failed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=10**7)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--no-dask", action="store_true")
    args = parser.parse_args()
    runs, repeats = args.runs, args.repeats
    nodes, links = chain()
    engine = vc.VornEngine()
    engine.define_network(nodes, links)
    seeds = iter(range(100, 10**6))  # distinct seeds: dask would hand back the result of an identical task

    with contextlib.ExitStack() as stack:
        pool = stack.enter_context(ProcessPoolExecutor(2))
        variants = {
            "engine.simulate, this process": lambda: engine.simulate(*REQUEST, runs, seed=7),
            "two plain processes, half each (ceiling)": lambda: two_independent_processes(runs),
            "parallel.simulate, 2 workers (pool per call)": lambda: parallel.simulate(
                nodes, links, *REQUEST, runs, seed=7, workers=2
            ),
            "parallel.simulate, 2 workers (warm pool)": lambda: parallel.simulate(
                nodes, links, *REQUEST, runs, seed=7, executor=pool
            ),
        }
        warm_up = [
            lambda: parallel.simulate(nodes, links, *REQUEST, 1000, seed=7, executor=pool),
            lambda: parallel.simulate(nodes, links, *REQUEST, 1000, seed=7, workers=2),
        ]
        if not args.no_dask:
            from dask.distributed import Client, LocalCluster

            cluster = stack.enter_context(LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None))
            executor = stack.enter_context(Client(cluster)).get_executor()
            variants["parallel.simulate, LocalCluster of 2 workers"] = lambda: parallel.simulate(
                nodes, links, *REQUEST, runs, seed=next(seeds), executor=executor
            )
            warm_up.append(lambda: parallel.simulate(nodes, links, *REQUEST, 1000, seed=next(seeds), executor=executor))
        for call in warm_up:  # start the workers and the fork server, import vorn_core in them
            call()

        print(
            f"vorn_core from {vc.__file__}; {len(os.sched_getaffinity(0))} CPUs; {runs:,} trials; "
            f"median of {repeats} rounds, the variants taking turns; load average {os.getloadavg()[0]:.2f}"
        )
        times: dict[str, list[float]] = {name: [] for name in variants}
        for _ in range(repeats):
            for name, call in variants.items():
                start = time.perf_counter()
                call()
                times[name].append(time.perf_counter() - start)

    seconds = {name: statistics.median(values) for name, values in times.items()}
    single = seconds["engine.simulate, this process"]
    for name, value in seconds.items():
        ratio = "" if value == single else f"  = {single / value:.2f}x one process"
        print(f"{name:<48} {value:7.3f} s  {runs / value / 1e6:6.2f} M trials/s{ratio}")
    local = seconds["parallel.simulate, 2 workers (pool per call)"]
    ceiling = seconds["two plain processes, half each (ceiling)"]
    print(f"local pool per call / ceiling: {ceiling / local:.2f} of what two plain processes got")
    if not args.no_dask:
        cluster_seconds = seconds["parallel.simulate, LocalCluster of 2 workers"]
        print(f"LocalCluster / local pool per call: {local / cluster_seconds:.2f} of its rate (target >= 0.90)")
    cpu_single, cpu_split = cpu_seconds(engine, nodes, links, runs, repeats)
    print(
        f"CPU time, median of {repeats}: one process {cpu_single:.3f} s, two forked workers and their parent "
        f"{cpu_split:.3f} s = {cpu_split / cpu_single - 1:+.1%} for splitting"
    )
    print(f"load average {os.getloadavg()[0]:.2f} at the end")


def cpu_seconds(engine, nodes, links, runs, repeats):
    """CPU time of one process against that of the split ensemble: steadier than wall time on a busy
    machine. The workers are forked here, so their time is counted when they are reaped at shutdown."""

    def used(before, after):
        return sum(after[i] - before[i] for i in range(4))  # user, system, children's user and system

    single, split = [], []
    for _ in range(repeats):
        before = os.times()
        engine.simulate(*REQUEST, runs, seed=7)
        single.append(used(before, os.times()))
        before = os.times()
        with ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("fork")) as pool:
            parallel.simulate(nodes, links, *REQUEST, runs, seed=7, executor=pool)
        split.append(used(before, os.times()))
    return statistics.median(single), statistics.median(split)


if __name__ == "__main__":
    main()
