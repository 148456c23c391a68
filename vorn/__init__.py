"""vorn: the companion of vorn_core for research work.

- `vorn.stats`: Wilson intervals and the merging of ensembles run in pieces;
- `vorn.parallel`: ensembles split over local processes or a dask.distributed cluster;
- `vorn.sweep`: one request over a grid of parameter values, as a table with intervals;
- `vorn.plot`: networks, sensitivity rankings, topology comparisons and sweeps as matplotlib figures;
- `vorn.nx`: networkx graphs of networks, both ways;
- `vorn.cli`: the `vorn` command (validate, diff, simulate, compare);
- `vorn.physics`: a physical model of repeater chains (lossy links, decaying memories, swaps) at ensemble speed.

Importing vorn also lets results of single requests (`SimulationResult`, which vorn_core keeps out of its
namespace, so pickle cannot name it there) travel by pickle, like every other record with a constructor.

Importing vorn imports none of the optional packages (matplotlib, networkx, dask, pandas, tqdm); a function
that needs one imports it when called and, when it is missing, says which extra of vorn_core installs it
(``pip install 'vorn_core[plot]'``, ``'vorn_core[dask]'``, ``'vorn_core[all]'``).
"""

from __future__ import annotations

import copyreg
import importlib
from typing import Any

import vorn_core

__all__ = ["stats", "parallel", "sweep", "plot", "nx", "cli", "physics"]


def _simulation_result_class() -> type[vorn_core.SimulationResult]:
    engine = vorn_core.VornEngine()
    engine.define_network([vorn_core.NodeDefinition("a", 1.0)], [])
    return type(engine.request_entanglement("a", "a", 0.0, 1.0))


_SimulationResult = _simulation_result_class()


def _restore_simulation_result(
    success: bool, latency_ms: float, final_fidelity: float, execution_path: list[str]
) -> vorn_core.SimulationResult:
    return _SimulationResult(success, latency_ms, final_fidelity, execution_path)


def _reduce_simulation_result(result: vorn_core.SimulationResult) -> tuple[Any, tuple[Any, ...]]:
    return _restore_simulation_result, (result.success, result.latency_ms, result.final_fidelity, result.execution_path)


copyreg.pickle(_SimulationResult, _reduce_simulation_result)


def __getattr__(name: str) -> Any:
    # Submodules load on first use, so `import vorn` stays light.
    if name in __all__:
        return importlib.import_module(f"{__name__}.{name}")
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(list(globals()) + __all__)
