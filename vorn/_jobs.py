"""Running independent jobs on an executor with a progress bar, and stopping them on Ctrl-C."""

from __future__ import annotations

import contextlib
import multiprocessing
import multiprocessing.context
import os
import sys
from collections.abc import Callable, Iterator, Sequence
from concurrent.futures import Executor, Future, ProcessPoolExecutor, as_completed
from typing import Any


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


class _NoBar:
    def update(self, n: int = 1) -> None:
        pass

    def close(self) -> None:
        pass


def progress_bar(total: int, description: str, progress: bool | None) -> Any:
    """A tqdm bar on stderr: always when `progress` is true, never when false, and when None only if
    tqdm is installed and stderr is a terminal."""
    if progress is False:
        return _NoBar()
    try:
        from tqdm.auto import tqdm
    except ImportError:
        if progress:
            raise ImportError("progress bars need tqdm: pip install tqdm") from None
        return _NoBar()
    if progress is None and not sys.stderr.isatty():
        return _NoBar()
    return tqdm(total=total, desc=description, unit="job", file=sys.stderr)


def run_jobs(
    executor: Executor | None,
    function: Callable[..., Any],
    jobs: Sequence[tuple[Any, ...]],
    description: str,
    progress: bool | None,
) -> list[Any]:
    """Results of ``function(*job)`` for every job, in job order. Without an executor the jobs run here,
    one after another. On any exception, Ctrl-C included, the jobs not yet started are cancelled."""
    results: list[Any] = [None] * len(jobs)
    if executor is None:
        bar = progress_bar(len(jobs), description, progress)
        try:
            for index, job in enumerate(jobs):
                results[index] = function(*job)
                bar.update(1)
            return results
        finally:
            bar.close()
    futures: list[Future[Any]] = []
    try:
        for job in jobs:
            futures.append(executor.submit(function, *job))
        # The bar starts after the submissions: a pool that forks its workers then forks no bar thread.
        bar = progress_bar(len(jobs), description, progress)
        try:
            position = {future: index for index, future in enumerate(futures)}
            for future in as_completed(futures):
                results[position[future]] = future.result()
                bar.update(1)
            return results
        finally:
            bar.close()
    except BaseException:
        for future in futures:
            future.cancel()
        raise


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
