"""vorn: the companion of vorn_core for research work.

- `vorn.physics`: the physical model of repeater chains (lossy links, decaying memories, swaps) at ensemble
  speed: waiting time (ms), fidelity and secret-key rate (bit/s), each with its 95 % interval;
- `vorn.sweep`: one request over a grid of parameter values, as a table with intervals;
- `vorn.sensitivity`: which parameters move the key rate or the success rate, both ways, with standard errors;
- `vorn.compare`: one request on reference topologies and .vorn files, with intervals;
- `vorn.plot`: key rate against distance, waiting times, fidelity against memory time, sweeps, sensitivity,
  comparisons and networks as matplotlib figures;
- `vorn.cli`: the `vorn` command (physics, validate, diff, simulate, compare);
- `vorn.parallel`: reproducible ensembles of the engine's timeline, here or split over processes and a
  dask.distributed cluster, with independent replicates;
- `vorn.stats`: exact statistics of ensembles, Wilson intervals, replicate seeds, tables and DataFrames;
- `vorn.inputs`: what the engine's timeline reads of its inputs, with their units;
- `vorn.files`: .vorn files from node and link definitions, and the networks of files;
- `vorn.nx`: networkx graphs of networks, both ways.

Sweeps, sensitivity analyses and comparisons run the physical model with ``model=vorn.physics.PhysicalModel()``
and vorn_core's phenomenological timeline without it; an input that the chosen model does not read warns
(`vorn._models.UnreadInputWarning`). Memory times are T2 in seconds everywhere here; only .vorn files hold
milliseconds, converted where a file is read or written.

Seeds: trial i of an ensemble with seed s is keyed by s + i, so seeds 1 and 2 share all trials but one;
take independent replicates from `vorn.stats.replicate_seeds` (or pass ``replicates=`` to the functions
that run ensembles). With a seed, the companion's ensembles repeat every statistic bit for bit.

Importing vorn runs nothing and imports none of the optional packages (matplotlib, networkx, dask, pandas,
tqdm); a function that needs one imports it when called and, when it is missing, says which extra of
vorn_core installs it (``pip install 'vorn_core[plot]'``, ``'vorn_core[dask]'``, ``'vorn_core[all]'``).
"""

from __future__ import annotations

import copyreg
import importlib
from typing import Any

import vorn_core

__all__ = [
    "stats",
    "parallel",
    "sweep",
    "sensitivity",
    "compare",
    "inputs",
    "files",
    "plot",
    "nx",
    "cli",
    "physics",
    "enable_result_pickling",
]


def _version() -> str:
    from importlib.metadata import PackageNotFoundError, version

    try:
        return version("vorn_core")
    except PackageNotFoundError:  # a build tree on sys.path, not an installed package
        return "0+unknown"


def _simulation_result_class() -> type[vorn_core.SimulationResult]:
    # vorn_core makes the class of single results on first use and names it nowhere: one request finds it.
    engine = vorn_core.VornEngine()
    engine.define_network([vorn_core.NodeDefinition("a", 1.0)], [])
    return type(engine.request_entanglement("a", "a", 0.0, 1.0))


def _restore_simulation_result(
    success: bool, latency_ms: float, final_fidelity: float, execution_path: list[str]
) -> vorn_core.SimulationResult:
    return _simulation_result_class()(success, latency_ms, final_fidelity, execution_path)


def _reduce_simulation_result(result: vorn_core.SimulationResult) -> tuple[Any, tuple[Any, ...]]:
    return _restore_simulation_result, (result.success, result.latency_ms, result.final_fidelity, result.execution_path)


def enable_result_pickling() -> None:
    """Let results of single requests (``SimulationResult``, a class vorn_core keeps out of its namespace,
    so that pickle cannot name it there) travel by pickle from this process, like every other record.

    Call it once in each process that sends results, for example as the ``initializer`` of a process
    pool; receiving needs nothing. It runs one trivial request to find the class.
    """
    copyreg.pickle(_simulation_result_class(), _reduce_simulation_result)


def __getattr__(name: str) -> Any:
    # Submodules load on first use, so `import vorn` stays light.
    if name == "__version__":
        return _version()
    if name in __all__:
        return importlib.import_module(f"{__name__}.{name}")
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(list(globals()) + __all__ + ["__version__"])
