"""Sphinx configuration of the vorn_core documentation site (built by tools/build-docs).

Pages are MyST Markdown; the tutorials and the pages that show numbers are MyST-NB text notebooks,
executed on every build against the installed vorn_core, so no printed figure can drift from the code.
"""

from __future__ import annotations

import importlib
import importlib.metadata
import importlib.util
import os
import shutil

import vorn

DOCS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(DOCS)

# The source folder python/vorn/ has no native module: pages executed against it would fail in confusing ways.
if os.path.dirname(os.path.abspath(vorn.__file__)) == os.path.join(ROOT, "python", "vorn"):
    raise RuntimeError(
        f"vorn was imported from the source folder {ROOT}/python/vorn; build with tools/build-docs, or put a built "
        "package first on PYTHONPATH (for example build/dev)"
    )

project = "vorn_core"
author = "the vorn_core developers"
copyright = "the vorn_core developers"
try:
    release = importlib.metadata.version("vorn_core")
except importlib.metadata.PackageNotFoundError:  # a build folder on PYTHONPATH
    release = "development build"
version = release

extensions = ["myst_nb", "sphinx.ext.autodoc"]
myst_enable_extensions = ["colon_fence", "deflist", "substitution"]
myst_substitutions = {"release": release}
myst_heading_anchors = 3
exclude_patterns = ["_build", "before-after", "**/.ipynb_checkpoints", "**/__pycache__"]
html_theme = "furo"
html_title = f"vorn_core {release}"
html_show_sourcelink = False
autodoc_typehints = "description"
autodoc_member_order = "bysource"

# Every executable page runs on every build; an error in a cell fails the build.
nb_execution_mode = "force"
nb_execution_raise_on_error = True
nb_execution_show_tb = True
nb_execution_timeout = 300
nb_merge_streams = True
# Progress bars would print into the pages; the kernels inherit this environment.
os.environ["TQDM_DISABLE"] = "1"


def _write_companion_reference() -> None:
    """One reference page per public module of vorn (its __all__), from the module's docstrings."""
    folder = os.path.join(DOCS, "reference", "vorn")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    modules = [name for name in vorn.__all__ if importlib.util.find_spec(f"vorn.{name}") is not None]
    for name in modules:
        with open(os.path.join(folder, f"{name}.md"), "w", encoding="utf-8") as page:
            page.write(f"# vorn.{name}\n\n```{{automodule}} vorn.{name}\n:members:\n:show-inheritance:\n```\n")


_write_companion_reference()
