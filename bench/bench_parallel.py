"""Ensembles across processes: vorn.parallel.simulate with two local worker processes and on a two-worker
dask.distributed LocalCluster, against one engine.simulate in this process.

Workload: the repeater chain N0-N3 (100 km links, fidelity 0.92, 800 Hz), request N0 -> N3, target 0.8,
bound 100 ms, 10**7 trials. Prints the median of several runs of each and the ratios
(targets: two workers >= 1.8x one process; the cluster within 10 % of the two local workers), and the CPU
time used where it can be counted: on a machine busy with other work the wall-clock ratios fall, while
CPU time close to that of one process shows that splitting costs little.

    python bench/bench_parallel.py [--runs N] [--repeats R] [--no-dask]
"""
import argparse
import os
import statistics
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
    """Median wall time of `call`, and the median CPU time spent by this process and its reaped children."""
    times, cpu = [], []
    for _ in range(repeats):
        before = os.times()
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
        after = os.times()
        cpu.append(sum(after[i] - before[i] for i in range(4)))
    return statistics.median(times), statistics.median(cpu)


def report(name, runs, measured, baseline=None, cpu=True):
    seconds, cpu_seconds = measured
    ratio = "" if baseline is None else f"  = {baseline / seconds:.2f}x one process"
    used = f"  CPU {cpu_seconds:6.2f} s" if cpu else "  CPU (workers not ours)"
    print(f"{name:<44} {seconds:7.3f} s  {runs / seconds / 1e6:6.2f} M trials/s{used}{ratio}")
    return seconds


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
    # The pool's workers are reaped at the end of each call, so their CPU time counts in os.times().

    local = report("parallel.simulate, 2 workers (pool per call)", runs, median_seconds(
        lambda: parallel.simulate(nodes, links, *REQUEST, runs, seed=7, workers=2), repeats), single)
    with ProcessPoolExecutor(2) as pool:
        parallel.simulate(nodes, links, *REQUEST, 1000, seed=7, executor=pool)  # start the workers
        report("parallel.simulate, 2 workers (warm pool)", runs, median_seconds(
            lambda: parallel.simulate(nodes, links, *REQUEST, runs, seed=7, executor=pool), repeats), single,
            cpu=False)

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
                repeats), single, cpu=False)
        print(f"LocalCluster / local pool per call: {local / cluster_seconds:.2f} of its rate "
              f"(target >= 0.90)")


if __name__ == "__main__":
    main()
