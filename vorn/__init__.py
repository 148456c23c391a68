"""vorn: the companion of vorn_core for research work.

- `vorn.stats`: Wilson intervals and the merging of ensembles run in pieces;
- `vorn.parallel`: ensembles split over local processes or a dask.distributed cluster;
- `vorn.sweep`: one request over a grid of parameter values, as a table with intervals;
- `vorn.plot`: networks, sensitivity rankings, topology comparisons and sweeps as matplotlib figures;
- `vorn.nx`: networkx graphs of networks, both ways;
- `vorn.cli`: the `vorn` command (validate, diff, simulate, compare).

Importing vorn imports none of the optional packages (matplotlib, networkx, dask, pandas, tqdm); a function
that needs one imports it when called and, when it is missing, says which extra of vorn_core installs it
(``pip install 'vorn_core[plot]'``, ``'vorn_core[dask]'``, ``'vorn_core[all]'``).
"""
from __future__ import annotations

import importlib
from typing import Any

__all__ = ["stats", "parallel", "sweep", "plot", "nx", "cli"]


def __getattr__(name: str) -> Any:
    # Submodules load on first use, so `import vorn` stays light.
    if name in __all__:
        return importlib.import_module(f"{__name__}.{name}")
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(list(globals()) + __all__)
