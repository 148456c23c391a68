"""Reproducible Monte Carlo ensembles, on this process or split over processes and machines.

An ensemble of `runs` trials with seed s runs trials s, s + 1, ..., s + runs - 1 (modulo 2**64) of
vorn_core's timeline. Each trial draws its pair generation and its losses from streams keyed by its own
seed, so a seed reproduces every statistic bit for bit: across calls, shard counts, worker counts, Dask
clusters and Python versions. Shards over consecutive seed ranges run anywhere and merge exactly.

    import vorn.parallel
    stats = vorn.parallel.simulate(nodes, links, "N0", "N3", 0.8, 100.0, 10_000_000, seed=1)
    stats.empirical_success_rate, stats.interval()

    stats = vorn.parallel.simulate(nodes, links, "N0", "N3", 0.8, 100.0, 100_000, seed=1, replicates=10)
    stats.spread()            # how the ten independent replicates scatter
    stats.replicates[3].seed  # the seed that runs replicate 3 again

    from dask.distributed import Client
    with Client("scheduler:8786") as client:
        stats = vorn.parallel.simulate(nodes, links, "N0", "N3", 0.8, 100.0, 10**8, seed=1,
                                       executor=client.get_executor())

With the same seed, the generation draws are those of ``VornEngine.simulate``, so whatever the losses
cannot change (the success count on a repeater chain, for instance) agrees with it; the loss draws differ,
since the engine takes them from an unseeded generator.
"""

from __future__ import annotations

import contextlib
import dataclasses
import time
from collections.abc import Callable, Iterable, Iterator, Sequence
from concurrent.futures import Executor
from typing import Any

import vorn_core as vc

from . import _jobs, _network
from .stats import EnsembleStats, empty_stats, merge, pool, replicate_seeds, warn_overlaps

__all__ = ["simulate", "run_trials", "shard_ranges", "clock_seed", "LongSearchWarning"]

LongSearchWarning = _network.LongSearchWarning

shard_ranges = _jobs.shard_ranges


def clock_seed() -> int:
    """A seed from the wall clock (nanoseconds since the epoch, modulo 2**64), as vorn_core takes one."""
    return time.time_ns() % _network.SEEDS


def _workers(workers: int | None) -> int | None:
    if workers is not None and _network.count(workers, "workers") == 0:
        raise ValueError("argument 'workers': at least one worker is needed, got 0")
    return workers


def _shards(shards: int | None) -> int | None:
    if shards is not None and _network.count(shards, "shards") == 0:
        raise ValueError("argument 'shards': at least one shard is needed, got 0")
    return shards


def stream(
    tasks: Iterable[_jobs.Task],
    total: int,
    check: Callable[[Any, int, int], Any],
    *,
    executor: Executor | None = None,
    workers: int | None = None,
    shards: int | None = None,
    progress: bool | None = None,
    description: str = "trials",
) -> Iterator[list[Any]]:
    """Each task's checked shard results, task by task (tasks are taken from `tasks` as needed): on
    `executor`, on a local pool of `workers` processes when there is no executor and `workers` > 1, or here."""
    workers, shards = _workers(workers), _shards(shards)
    with contextlib.ExitStack() as stack:
        if executor is None and total and workers is not None and workers > 1:
            executor = stack.enter_context(_jobs.process_pool(workers))
        yield from _jobs.run_tasks(
            tasks, total, check, executor=executor, shards=shards, progress=progress, description=description
        )


def run_trials(
    function: Callable[..., Any],
    arguments: tuple[Any, ...],
    tasks: Sequence[tuple[int, int]],
    check: Callable[[Any, int, int], Any],
    *,
    executor: Executor | None = None,
    workers: int | None = None,
    shards: int | None = None,
    progress: bool | None = None,
    description: str = "trials",
) -> list[list[Any]]:
    """Run ``function(*arguments, runs, seed)`` over the trials of each (runs, seed) of `tasks`, in shards.

    The machinery behind `simulate`, for any computation whose trial i of seed s is trial 0 of seed
    s + i: each task is cut into shards over consecutive seed ranges, run on `executor`, on a local
    process pool of `workers` processes (default: this machine's CPUs) or, with `workers` 1, here; each
    shard's result passes through ``check(result, runs, seed)``, which returns it or raises. Returns, per
    task, the checked shard results in seed order. `function` must be a module-level function, so that
    the pools can send it.
    """
    if workers is None and executor is None:
        workers = _jobs.local_workers()
    jobs = [_jobs.Task(function, arguments, runs, seed) for runs, seed in tasks]
    total = sum(runs for runs, _ in tasks)
    return list(
        stream(
            jobs,
            total,
            check,
            executor=executor,
            workers=workers,
            shards=shards,
            progress=progress,
            description=description,
        )
    )


Job = tuple[_network.Setup, int, int]


def ensembles(
    jobs: Iterable[Job],
    total: int,
    *,
    executor: Executor | None,
    workers: int | None,
    shards: int | None,
    progress: bool | None,
    description: str = "trials",
) -> Iterator[EnsembleStats]:
    """The statistics of each (setup, runs, seed), taken from `jobs` as needed; `total` is the number of
    trials they add up to."""
    tasks = (_jobs.Task(_network.run, (checked,), runs, seed) for checked, runs, seed in jobs)
    seeds: list[int] = []

    def remembered(tasks: Iterable[_jobs.Task]) -> Iterator[_jobs.Task]:
        for task in tasks:
            seeds.append(task.seed)
            yield task

    results = stream(
        remembered(tasks),
        total,
        EnsembleStats.from_piece,
        executor=executor,
        workers=workers,
        shards=shards,
        progress=progress,
        description=description,
    )
    for index, pieces in enumerate(results):
        seed = seeds[index]
        yield dataclasses.replace(merge(pieces), seed=seed) if pieces else empty_stats(seed)


def replicate_starts(seed: int, runs: int, replicates: int | Sequence[int] | None) -> list[int] | None:
    """The seeds of the replicates a `replicates` argument asks for (None: no replicates)."""
    if replicates is None:
        return None
    if isinstance(replicates, int) and not isinstance(replicates, bool):
        if _network.count(replicates, "replicates") == 0:
            raise ValueError("argument 'replicates': at least one replicate is needed, got 0")
        return replicate_seeds(seed, replicates, runs)
    if isinstance(replicates, (str, bytes)) or not isinstance(replicates, Iterable):
        raise TypeError(
            f"argument 'replicates': expected a count or a sequence of seeds, got {type(replicates).__name__}"
        )
    seeds = [_network.count(value, "replicates") for value in replicates]
    if not seeds:
        raise ValueError("argument 'replicates': at least one replicate is needed, got no seeds")
    warn_overlaps(seeds, runs, "replicates")
    return seeds


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
    replicates: int | Sequence[int] | None = None,
) -> EnsembleStats:
    """The ensemble ``VornEngine(config).simulate(from_node, to, fidelity_target, max_latency_ms, runs,
    strategy, seed)`` with every draw keyed by the trial's seed, run in shards and merged exactly.

    - `nodes`, `links`: ``NodeDefinition`` and ``LinkDefinition`` records (T2 in s, lengths in km, rates
      in Hz, fidelities as fractions); `config`: a ``SimulationConfig`` or None for ``VornEngine()``'s.
    - `fidelity_target` in [0, 1]; `max_latency_ms` a bound in ms of simulated time. Unknown nodes, a
      node id defined twice, a figure out of its range (a target outside [0, 1], a negative or NaN bound,
      length or lifetime, a rate that is not positive and finite): ValueError naming it and its value,
      before anything runs.
    - `seed`: trials seed, seed + 1, ... (modulo 2**64); None takes one from the clock and the result
      records it (``stats.seed``), so any run can be repeated.
    - `replicates`: None for one ensemble; a count n for n independent replicates of `runs` trials each
      (seeds from ``vorn.stats.replicate_seeds(seed, n, runs)``), or a sequence of seeds (a
      SeedOverlapWarning when their trial ranges overlap). The result pools them and keeps each in
      ``stats.replicates``; ``stats.spread()`` tells how their success rates scatter.
    - `executor`: any ``concurrent.futures.Executor`` (for a dask.distributed cluster,
      ``client.get_executor()``); None runs a local pool of `workers` processes (default: the CPUs this
      process may use; 1 runs here, without a pool). The pool's workers come from a fork server where the
      platform has one, so a script that calls this at the top level needs the usual
      ``if __name__ == "__main__":`` guard.
    - `shards`: pieces per ensemble (default: about 0.5 s of work each, at least four per worker).
    - `progress`: a tqdm bar over trials; None shows it in a terminal or notebook when tqdm is installed
      and the run lasts over half a second.

    Returns ``EnsembleStats`` (the fields of ``MonteCarloStats``, exact counts and sums, the seed, the
    replicates). Ctrl-C cancels the shards not yet started, ends the local pool's running ones and raises
    KeyboardInterrupt. A result that no ensemble can have (a faulty executor) is a RuntimeError.
    """
    runs = _network.count(runs, "runs")
    checked = _network.setup(nodes, links, config, from_node, to, fidelity_target, max_latency_ms, strategy)
    chosen = _network.seed_of(seed)
    base = clock_seed() if chosen is None else chosen
    seeds = replicate_starts(base, runs, replicates)
    if workers is None and executor is None:
        workers = _jobs.local_workers()
    starts = seeds or [base]
    results = list(
        ensembles(
            [(checked, runs, one) for one in starts],
            runs * len(starts),
            executor=executor,
            workers=workers,
            shards=shards,
            progress=progress,
        )
    )
    if seeds is None:
        return results[0]
    return pool(results, base)
