"""Ensembles across processes: vorn.parallel.simulate here, with two local worker processes and on a
two-worker dask.distributed LocalCluster, against one engine.simulate in this process.

Workload: the repeater chain N0-N3 (100 km links, fidelity 0.92, 800 Hz), request N0 -> N3, target 0.8,
bound 100 ms, 10**8 trials by default. The variants take turns, round after round, so that a burst of other
work on a shared machine hits them alike. Prints the median of each and the ratios (targets: two workers
>= 1.8x one process; the cluster within 10 % of the two local workers). On a machine busy with other work no
program gets 2x from two processes: the "ceiling" line, two plain interpreters running half the trials each
with vorn_core's own engine, shows what the machine gives at the moment, and the ratio after it how much of
that vorn.parallel keeps. Every vorn.parallel variant gives the same statistics bit for bit (checked).

Then the progress bar: how long after the call its first tick comes, in this process (calls of about
0.2 s) and on the local pool (shards of about 0.5 s), for a run of 10**10 trials.

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

from vorn import _jobs, parallel


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


class Ticked(Exception):
    pass


class FirstTick:
    """A stand-in progress bar that notes when its first update comes, and then stops the run."""

    def __init__(self):
        self.started, self.first = time.perf_counter(), None

    def update(self, n=1):
        self.first = time.perf_counter() - self.started
        raise Ticked

    def close(self):
        pass


def first_tick(call):
    bars = []
    original = _jobs.progress_bar
    _jobs.progress_bar = lambda total, description, progress: bars.append(FirstTick()) or bars[-1]
    try:
        call()
    except Ticked:
        pass
    finally:
        _jobs.progress_bar = original
    return bars[0].first


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=10**8)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--no-dask", action="store_true")
    args = parser.parse_args()
    runs, repeats = args.runs, args.repeats
    nodes, links = chain()
    engine = vc.VornEngine()
    engine.define_network(nodes, links)
    results = {}

    def keyed(name, **options):
        def call():
            results.setdefault(name, []).append(parallel.simulate(nodes, links, *REQUEST, runs, seed=7, **options))

        return call

    with contextlib.ExitStack() as stack:
        pool = stack.enter_context(ProcessPoolExecutor(2, mp_context=_jobs._start_method()))
        variants = {
            "engine.simulate, this process": lambda: engine.simulate(*REQUEST, runs, seed=7),
            "parallel.simulate, this process": keyed("here", workers=1, progress=False),
            "two plain processes, half each (ceiling)": lambda: two_independent_processes(runs),
            "parallel.simulate, 2 workers (pool per call)": keyed("pool", workers=2, progress=False),
            "parallel.simulate, 2 workers (warm pool)": keyed("warm", executor=pool, progress=False),
        }
        warm_up = [
            lambda: parallel.simulate(nodes, links, *REQUEST, 1000, seed=7, executor=pool),
            lambda: parallel.simulate(nodes, links, *REQUEST, 1000, seed=7, workers=2),
        ]
        if not args.no_dask:
            from dask.distributed import Client, LocalCluster

            cluster = stack.enter_context(LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None))
            executor = stack.enter_context(Client(cluster)).get_executor()
            variants["parallel.simulate, LocalCluster of 2 workers"] = keyed("dask", executor=executor, progress=False)
            warm_up.append(lambda: parallel.simulate(nodes, links, *REQUEST, 1000, seed=7, executor=executor))
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

        here = first_tick(lambda: parallel.simulate(nodes, links, *REQUEST, 10**10, seed=7, workers=1))
        local = first_tick(lambda: parallel.simulate(nodes, links, *REQUEST, 10**10, seed=7, executor=pool))

    every = [stats for values in results.values() for stats in values]
    same = all(stats == every[0] for stats in every)
    seconds = {name: statistics.median(values) for name, values in times.items()}
    single = seconds["engine.simulate, this process"]
    for name, value in seconds.items():
        ratio = "" if value == single else f"  = {single / value:.2f}x one process"
        print(f"{name:<48} {value:7.3f} s  {runs / value / 1e6:6.2f} M trials/s{ratio}")
    local_seconds = seconds["parallel.simulate, 2 workers (pool per call)"]
    ceiling = seconds["two plain processes, half each (ceiling)"]
    print(f"local pool per call / ceiling: {ceiling / local_seconds:.2f} of what two plain processes got")
    if not args.no_dask:
        cluster_seconds = seconds["parallel.simulate, LocalCluster of 2 workers"]
        print(f"LocalCluster / local pool per call: {local_seconds / cluster_seconds:.2f} of its rate (target >= 0.90)")
    print(f"every vorn.parallel run gave the same statistics bit for bit: {same}")
    print(f"first progress tick: {here:.3f} s in this process, {local:.3f} s on the local pool (target < 1 s)")
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
        parallel.simulate(nodes, links, *REQUEST, runs, seed=7, workers=1, progress=False)
        single.append(used(before, os.times()))
        before = os.times()
        with ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("fork")) as pool:
            parallel.simulate(nodes, links, *REQUEST, runs, seed=7, executor=pool, progress=False)
        split.append(used(before, os.times()))
    return statistics.median(single), statistics.median(split)


if __name__ == "__main__":
    main()
