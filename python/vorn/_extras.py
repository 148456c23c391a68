"""Optional dependencies, imported when a function needs them."""

from __future__ import annotations

import importlib
from types import ModuleType


def require(module: str, extra: str, feature: str) -> ModuleType:
    """Import `module` or raise an ImportError that says which extra of vorn_core installs it."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        package = module.partition(".")[0]
        raise ImportError(f"{feature} needs {package}: pip install 'vorn_core[{extra}]'", name=package) from error
