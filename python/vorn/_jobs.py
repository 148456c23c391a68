"""Running ranges of trials here or on an executor, in shards, with a progress bar, stopping on Ctrl-C.

A task is `runs` trials from `seed`: ``function(*arguments, runs, seed)``. Since trial i of seed s is
trial 0 of seed s + i, a task can be cut into shards over consecutive seed ranges anywhere without
changing what its trials are; the caller merges the shards' results, which come back in seed order.
"""

from __future__ import annotations

import contextlib
import math
import multiprocessing
import multiprocessing.context
import os
import sys
import time
from collections.abc import Callable, Iterable, Iterator
from concurrent.futures import FIRST_COMPLETED, Executor, Future, ProcessPoolExecutor, wait
from typing import Any, NamedTuple, Protocol

SHARDS_PER_WORKER = 4  # a few shards per worker even out uneven workers
SECONDS_PER_CALL = 0.2  # a native call of about this long keeps the bar moving and Ctrl-C prompt
SECONDS_PER_SHARD = 0.5  # the same on another process or machine, where a call costs more to send
SECONDS_FIRST_SHARD = 0.1  # each worker's first shard: a bar moves soon after the workers have started
SECONDS_PER_TICK = 0.25  # while shards run elsewhere, the bar shows the time passing at least this often
FIRST_CALL = 256  # trials of the first call, before anything is known of their cost
SMALLEST_SHARD = 1000
BAR_DELAY = 0.5  # seconds before a bar appears: runs that end sooner show none


class Task(NamedTuple):
    function: Callable[..., Any]  # a module-level function, so that it pickles to any worker
    arguments: tuple[Any, ...]
    runs: int
    seed: int


class Bar(Protocol):
    def update(self, n: int = 1) -> Any: ...
    def close(self) -> None: ...


def local_workers() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on every platform
        return os.cpu_count() or 1


def executor_workers(executor: Executor) -> int:
    """How many jobs the executor runs at once, as far as it tells."""
    workers = getattr(executor, "_max_workers", None)  # ProcessPoolExecutor, ThreadPoolExecutor
    if isinstance(workers, int) and workers > 0:
        return workers
    client = getattr(executor, "_client", None)  # dask.distributed's ClientExecutor
    if client is not None:
        with contextlib.suppress(Exception):
            return max(1, int(sum(client.nthreads().values())))
    return local_workers()


def _interactive() -> bool:
    return sys.stderr is not None and (sys.stderr.isatty() or "ipykernel" in sys.modules)


def progress_bar(total: int, description: str, progress: bool | None, unit: str = "trial") -> Bar | None:
    """A tqdm bar over `total` trials: always when `progress` is true, never when false, and when None
    only if tqdm is installed and the output is a terminal or a notebook; then it appears once the run
    has lasted half a second."""
    if progress is False:
        return None
    try:
        from tqdm.auto import tqdm
    except ImportError:
        if progress:
            raise ImportError("progress bars need tqdm: pip install tqdm") from None
        return None
    if progress is None and not _interactive():
        return None
    bar: Bar = tqdm(
        total=total,
        desc=description,
        unit=unit,
        unit_scale=True,
        file=sys.stderr,
        delay=0.0 if progress else BAR_DELAY,
    )
    return bar


class Pacer:
    """Sizes of successive calls on one process, grown or shrunk so that each lasts about `target` seconds."""

    def __init__(self, target: float) -> None:
        self.target = target
        self.size = FIRST_CALL
        self.rate: float | None = None  # trials per second, once measured

    def observe(self, trials: int, seconds: float) -> None:
        if seconds <= 0.0:
            self.size *= 8
            return
        self.rate = trials / seconds
        self.size = max(1, min(self.size * 8, int(self.rate * self.target)))


def _split(runs: int, size: int, first: int = 0, first_size: int = 0) -> list[tuple[int, int]]:
    """(offset, runs) of consecutive pieces of `runs` trials: `first` pieces of `first_size`, then of `size`."""
    pieces: list[tuple[int, int]] = []
    start = 0
    while start < runs:
        length = min(first_size if len(pieces) < first else size, runs - start)
        pieces.append((start, length))
        start += length
    return pieces


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


# (result, runs, seed) -> the result as the caller keeps it; a ValueError says why no run of those trials could
# have given it (a faulty executor, a forged result).
Check = Callable[[Any, int, int], Any]


def checked(check: Check, result: Any, runs: int, seed: int) -> Any:
    try:
        return check(result, runs, seed)
    except ValueError as error:
        raise RuntimeError(f"impossible result for {runs} trials from seed {seed}: {error}") from None


def _call(task: Task, start: int, runs: int) -> Any:
    return task.function(*task.arguments, runs, (task.seed + start) % 2**64)


def _here(tasks: Iterable[Task], check: Check, shards: int | None, bar: Bar | None) -> Iterator[list[Any]]:
    pacer = Pacer(SECONDS_PER_CALL)
    for task in tasks:
        results = []
        if shards is not None:
            ranges = shard_ranges(task.runs, shards) if task.runs else []
        elif bar is None:
            ranges = [(0, task.runs)] if task.runs else []
        else:
            ranges = []
        start = 0
        while start < task.runs:
            if ranges:
                start, size = ranges.pop(0)
            else:
                size = min(pacer.size, task.runs - start)
            began = time.perf_counter()
            piece = _call(task, start, size)
            pacer.observe(size, time.perf_counter() - began)
            results.append(checked(check, piece, size, (task.seed + start) % 2**64))
            if bar is not None:
                bar.update(size)
            start += size
        yield results


def _elsewhere(
    tasks: Iterable[Task], check: Check, shards: int | None, bar: Bar | None, executor: Executor, total: int
) -> Iterator[list[Any]]:
    workers = executor_workers(executor)
    in_flight = max(4, 3 * workers)
    slots: dict[int, list[Any]] = {}
    outstanding: dict[int, int] = {}
    pending: dict[Future[Any], tuple[int, int, int, int]] = {}
    size: int | None = None  # trials per shard, once measured
    here = False  # so little work that sending it would cost more than doing it
    pacer = Pacer(SECONDS_PER_CALL)

    def run_here(index: int, task: Task, start: int, seconds: float) -> int:
        spent = 0.0
        while start < task.runs and spent < seconds:
            runs = min(pacer.size, task.runs - start)
            began = time.perf_counter()
            piece = _call(task, start, runs)
            pacer.observe(runs, elapsed := time.perf_counter() - began)
            spent += elapsed
            slots[index].append(checked(check, piece, runs, (task.seed + start) % 2**64))
            if bar is not None:
                bar.update(runs)
            start += runs
        return start

    def shards_of(index: int, task: Task) -> Iterator[tuple[int, int, int, Task]]:
        nonlocal size, here
        slots.setdefault(index, [])
        if shards is not None:
            ranges = shard_ranges(task.runs, shards) if task.runs else []
        elif here:
            run_here(index, task, 0, math.inf)
            ranges = []
        else:
            start, small_shards, small_size = 0, 0, 0
            if size is None and task.runs:
                # Calibrate on this process with the first trials, which are part of the task.
                start = run_here(index, task, 0, SECONDS_PER_CALL / 4)
                rate = pacer.rate or 0.0
                here = rate > 0.0 and (total - start) / rate < SECONDS_PER_SHARD
                by_time = int(rate * SECONDS_PER_SHARD) if rate else SMALLEST_SHARD
                by_workers = math.ceil(total / (SHARDS_PER_WORKER * workers))
                size = max(SMALLEST_SHARD, min(by_time, by_workers))
                small_shards = workers
                small_size = max(SMALLEST_SHARD, min(size, int(rate * SECONDS_FIRST_SHARD)))
            if here:
                start = run_here(index, task, start, math.inf)
            pieces = _split(task.runs - start, size or SMALLEST_SHARD, small_shards, small_size)
            ranges = [(start + first, runs) for first, runs in pieces]
        offset = len(slots[index])
        slots[index].extend([None] * len(ranges))
        outstanding[index] = len(ranges)
        for number, (start, runs) in enumerate(ranges):
            yield offset + number, start, runs, task

    def all_shards() -> Iterator[tuple[int, int, int, int, Task]]:
        for index, task in enumerate(tasks):
            for slot, start, runs, shard_task in shards_of(index, task):
                yield index, slot, start, runs, shard_task

    shard_stream = all_shards()
    exhausted = False
    next_task = 0
    try:
        while True:
            while not exhausted and len(pending) < in_flight:
                try:
                    index, slot, start, runs, task = next(shard_stream)
                except StopIteration:
                    exhausted = True
                    break
                seed = (task.seed + start) % 2**64
                future = executor.submit(task.function, *task.arguments, runs, seed)
                pending[future] = (index, slot, runs, seed)
            while outstanding.get(next_task) == 0:
                del outstanding[next_task]
                yield slots.pop(next_task)
                next_task += 1
            if not pending:
                if exhausted:
                    return
                continue
            done, _ = wait(pending, timeout=None if bar is None else SECONDS_PER_TICK, return_when=FIRST_COMPLETED)
            if bar is not None:
                bar.update(0)  # once the bar's delay has passed, it shows the time, rate and ETA so far
            for future in [future for future in pending if future in done]:  # in the order submitted
                index, slot, runs, seed = pending.pop(future)
                slots[index][slot] = checked(check, future.result(), runs, seed)
                outstanding[index] -= 1
                if bar is not None:
                    bar.update(runs)
    finally:
        for future in pending:
            future.cancel()


def run_tasks(
    tasks: Iterable[Task],
    total: int,
    check: Check,
    *,
    executor: Executor | None = None,
    shards: int | None = None,
    progress: bool | None = None,
    description: str = "trials",
    unit: str = "trial",
) -> Iterator[list[Any]]:
    """The checked results of every task's shards, task by task in task order, each task's in seed order.

    Tasks are taken from `tasks` as they are needed, so a long stream is never built whole. Without an
    executor they run on this process in calls of about 0.2 s (or in `shards` pieces each); with one,
    in `shards` pieces per task, or else in pieces of about 0.5 s each, measured on the first trials
    here, and at least four per worker (work that takes less than that runs here, and a pool that is
    given none starts no process). `total` trials (for the bar) is what all tasks add up to. Every
    shard's result passes through `check` with the trials and the first seed it was asked for; one that
    no such shard can give is a RuntimeError. On any exception, Ctrl-C included, the shards not yet
    started are cancelled.
    """
    bar = progress_bar(total, description, progress, unit)
    try:
        if executor is None:
            yield from _here(tasks, check, shards, bar)
        else:
            yield from _elsewhere(tasks, check, shards, bar, executor, total)
    finally:
        if bar is not None:
            bar.close()


def _start_method() -> multiprocessing.context.BaseContext | None:
    # Forking a process that runs threads (a notebook kernel, a dask client, a progress bar) can deadlock
    # the child: start workers from a clean fork server where there is one. Like the spawn start method,
    # it imports a script that calls us as a module, so such a script needs its `if __name__ == "__main__"`.
    if "forkserver" in multiprocessing.get_all_start_methods():
        return multiprocessing.get_context("forkserver")
    return None


@contextlib.contextmanager
def process_pool(workers: int | None) -> Iterator[ProcessPoolExecutor]:
    """A local process pool that is torn down at once, running jobs included, when the block fails."""
    pool = ProcessPoolExecutor(max_workers=local_workers() if workers is None else workers, mp_context=_start_method())
    try:
        yield pool
    except BaseException:
        # Shards still running would otherwise hold up the interpreter's exit until they finish.
        for process in list((getattr(pool, "_processes", None) or {}).values()):
            process.terminate()
        pool.shutdown(wait=True, cancel_futures=True)
        raise
    pool.shutdown(wait=True)
