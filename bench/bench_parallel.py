"""Ensembles across processes: vorn.parallel.simulate with two local worker processes and on a two-worker
dask.distributed LocalCluster, against one engine.simulate in this process.

Workload: the repeater chain N0-N3 (100 km links, fidelity 0.92, 800 Hz), request N0 -> N3, target 0.8,
bound 100 ms, 10**7 trials. Prints the median of several runs of each and the ratios
(targets: two workers >= 1.8x one process; the cluster within 10 % of the two local workers). On a machine
busy with other work no program gets 2x from two processes: the "ceiling" line, two plain interpreters
running half the trials each, shows what the machine gives at the moment, and the last ratio how much of
it vorn.parallel keeps.

    python bench/bench_parallel.py [--runs N] [--repeats R] [--no-dask]
"""
import argparse
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


def median_seconds(call, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def report(name, runs, seconds, baseline=None):
    ratio = "" if baseline is None else f"  = {baseline / seconds:.2f}x one process"
    print(f"{name:<48} {seconds:7.3f} s  {runs / seconds / 1e6:6.2f} M trials/s{ratio}")
    return seconds


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
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--no-dask", action="store_true")
    args = parser.parse_args()
    runs, repeats = args.runs, args.repeats
    nodes, links = chain()
    print(f"vorn_core from {vc.__file__}; {len(os.sched_getaffinity(0))} CPUs; {runs:,} trials; "
          f"median of {repeats}; load average {os.getloadavg()[0]:.2f} at start")

    engine = vc.VornEngine()
    engine.define_network(nodes, links)
    single = report("engine.simulate, this process", runs,
                    median_seconds(lambda: engine.simulate(*REQUEST, runs, seed=7), repeats))
    ceiling = report("two independent processes, half each (ceiling)", runs,
                     median_seconds(lambda: two_independent_processes(runs), repeats), single)

    local = report("parallel.simulate, 2 workers (pool per call)", runs, median_seconds(
        lambda: parallel.simulate(nodes, links, *REQUEST, runs, seed=7, workers=2), repeats), single)
    with ProcessPoolExecutor(2) as pool:
        parallel.simulate(nodes, links, *REQUEST, 1000, seed=7, executor=pool)  # start the workers
        report("parallel.simulate, 2 workers (warm pool)", runs, median_seconds(
            lambda: parallel.simulate(nodes, links, *REQUEST, runs, seed=7, executor=pool), repeats), single)

    if not args.no_dask:
        from dask.distributed import Client, LocalCluster
        with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
                Client(cluster) as client:
            executor = client.get_executor()
            parallel.simulate(nodes, links, *REQUEST, 1000, seed=8, executor=executor)  # import on the workers
            # Distinct seeds: dask would hand back the result of an identical earlier task.
            seeds = iter(range(100, 200))
            cluster_seconds = report("parallel.simulate, LocalCluster of 2 workers", runs, median_seconds(
                lambda: parallel.simulate(nodes, links, *REQUEST, runs, seed=next(seeds), executor=executor),
                repeats), single)
        print(f"LocalCluster / local pool per call: {local / cluster_seconds:.2f} of its rate (target >= 0.90)")
    print(f"local pool per call / ceiling: {ceiling / local:.2f} of what two processes get on this machine now")


if __name__ == "__main__":
    main()
