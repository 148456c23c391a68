"""Monte Carlo ensembles split over processes or machines.

An ensemble of `runs` trials with seed s is cut into shards over consecutive seed ranges (trial i of seed s
is trial 0 of seed s + i, modulo 2**64). Each shard is an ordinary ensemble run by a worker on a network
rebuilt from plain data; `vorn.stats.merge` puts the shards back together. Generation draws are seeded, so
counts and heatmap equal those of one `VornEngine.simulate` with the same seed wherever no loss draw decides
them (loss draws come from each process's own unseeded generator, as in the engine itself).

    import vorn.parallel
    stats = vorn.parallel.simulate(nodes, links, "N0", "N3", 0.8, 100.0, 10_000_000, seed=1)

    from dask.distributed import Client
    with Client("scheduler:8786") as client:
        stats = vorn.parallel.simulate(nodes, links, "N0", "N3", 0.8, 100.0, 10**8, seed=1,
                                       executor=client.get_executor())
"""

from __future__ import annotations

import time
from collections.abc import Iterable
from concurrent.futures import Executor

import vorn_core as vc

from . import _jobs, _network
from .stats import merge

__all__ = ["simulate", "shard_ranges"]

SHARDS_PER_WORKER = 4  # a few shards per worker even out uneven workers and give the progress bar steps


def shard_ranges(runs: int, shards: int) -> list[tuple[int, int]]:
    """(first trial, number of trials) of each of `shards` near-equal consecutive pieces of `runs` trials;
    never an empty piece."""
    shards = max(1, min(shards, runs))
    size, extra = divmod(runs, shards)
    ranges, start = [], 0
    for index in range(shards):
        count = size + (index < extra)
        ranges.append((start, count))
        start += count
    return ranges


def simulate(
    nodes: Iterable[vc.NodeDefinition],
    links: Iterable[vc.LinkDefinition],
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    strategy: vc.StrategyType | None = None,
    seed: int | None = None,
    config: vc.SimulationConfig | None = None,
    executor: Executor | None = None,
    shards: int | None = None,
    *,
    workers: int | None = None,
    progress: bool | None = None,
) -> vc.MonteCarloStats:
    """Run the ensemble of ``VornEngine(config)`` with this network and request, ``simulate(from_node, to,
    fidelity_target, max_latency_ms, runs, strategy, seed)``, in shards on `executor`, and merge them.

    - `executor`: any `concurrent.futures.Executor` (for a dask.distributed cluster, ``client.get_executor()``);
      None runs a local process pool of `workers` processes (default: the CPUs this process may use), which
      is shut down afterwards. Its workers come from a fork server where the platform has one (never a
      fork of this possibly threaded process), so a script that calls this at the top level needs the
      usual ``if __name__ == "__main__":`` guard.
    - `shards`: number of pieces (default: four per worker; never more than `runs`).
    - `seed`: as for the engine; None takes one from the clock for the whole ensemble.
    - `progress`: a tqdm bar over shards; None shows it when tqdm is installed and stderr is a terminal.

    The result carries the context that ``VornEngine.simulate`` would attach (the seed as passed), so
    `sensitivity_analysis` works on it. Ctrl-C cancels the shards not yet started (and ends the local pool's
    running ones) and raises KeyboardInterrupt.
    """
    runs = _network.count(runs, "runs")
    if shards is not None:
        shards = _network.count(shards, "shards")
        if shards == 0:
            raise ValueError("argument 'shards': at least one shard is needed")
    if workers is not None and _network.count(workers, "workers") == 0:
        raise ValueError("argument 'workers': at least one worker is needed")
    engine, network = _network.checked_engine(nodes, links, config)
    # An ensemble of zero runs checks the other arguments as the engine does and yields its context.
    empty = engine.simulate(from_node, to, fidelity_target, max_latency_ms, 0, strategy, seed)
    if runs == 0:
        return empty
    base_seed = time.time_ns() % _network.SEEDS if seed is None else seed
    request = _network.pack_request(from_node, to, fidelity_target, max_latency_ms, strategy)
    plain_config = _network.pack_config(config)

    def run(pool: Executor) -> list[_network.StatsFields]:
        count = SHARDS_PER_WORKER * _jobs.executor_workers(pool) if shards is None else shards
        jobs = [
            (network, plain_config, request, size, (base_seed + start) % _network.SEEDS)
            for start, size in shard_ranges(runs, count)
        ]
        return _jobs.run_jobs(pool, _network.run, jobs, "shards", progress)

    if executor is None:
        with _jobs.process_pool(workers) as pool:
            pieces = run(pool)
    else:
        pieces = run(executor)
    merged = merge(vc.MonteCarloStats(*piece) for piece in pieces)
    merged._context = empty._context
    return merged
