"""Sphinx configuration of the vorn_core documentation site (built by tools/build-docs).

Pages are MyST Markdown; the tutorials and the pages that show numbers are MyST-NB text notebooks,
executed on every build against the installed vorn_core, so no printed figure can drift from the code.
"""

from __future__ import annotations

import importlib
import importlib.metadata
import importlib.util
import os
import re
import shutil
import sys

import yaml

import vorn

DOCS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(DOCS)

# The source folder vorn/ has no native module: pages executed against it would fail in confusing ways.
if os.path.dirname(os.path.abspath(vorn.__file__)) == os.path.join(ROOT, "vorn"):
    raise RuntimeError(
        f"vorn was imported from the source folder {ROOT}/vorn; build with tools/build-docs, or put a built "
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
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3
exclude_patterns = ["_build", "**/.ipynb_checkpoints", "**/__pycache__"]
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

# Pages that a later part of the package completes. While a page's file is missing, its toctree entries
# and the passages fenced as ```{only} <page>``` are left out; once it exists, they are built.
OPTIONAL_PAGES = {"physics"}


def _front_matter(path: str) -> dict:
    with open(path, encoding="utf-8") as file:
        text = file.read()
    match = re.match(r"---\n(.*?)\n---\n", text, re.DOTALL)
    return (yaml.safe_load(match.group(1)) or {}) if match else {}


def _present(name: str) -> bool:
    """Whether a dotted name (a module, or an attribute of one) exists in the installed packages."""
    module, _, attribute = name.partition(":")
    try:
        found = importlib.util.find_spec(module) is not None
    except ModuleNotFoundError:
        found = False
    if not found or not attribute:
        return found
    return hasattr(importlib.import_module(module), attribute)


def _pages_missing_requirements() -> dict[str, list[str]]:
    """Executable pages whose front matter names (under `requires`) something this build lacks."""
    missing = {}
    for folder, _, files in os.walk(DOCS):
        for name in sorted(files):
            if not name.endswith(".md") or "_build" in folder:
                continue
            path = os.path.join(folder, name)
            needs = [item for item in _front_matter(path).get("requires", []) if not _present(item)]
            if needs:
                missing[os.path.relpath(path, DOCS)[: -len(".md")]] = needs
    return missing


MISSING = _pages_missing_requirements()
nb_execution_excludepatterns = [f"{page}.md" for page in MISSING]


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


def _complete_page(app, docname: str, source: list[str]) -> None:
    text = source[0]
    if docname in MISSING:
        needs = ", ".join(f"`{item.replace(':', '.')}`" for item in MISSING[docname])
        note = (
            f":::{{note}}\nThis page needs {needs}, which the vorn_core installed for this build does not "
            "have yet: it is shown without running its cells.\n:::\n\n"
        )
        heading = re.search(r"^# .*\n", text, re.MULTILINE)
        at = heading.end() if heading else 0
        text = text[:at] + "\n" + note + text[at:]
        # On stderr, so that a quiet build (and CI) still says which pages did not run.
        print(f"build-docs: {docname} not executed, this build lacks {needs}", file=sys.stderr)
    for page in OPTIONAL_PAGES:
        if not os.path.exists(os.path.join(DOCS, f"{page}.md")):
            # Its toctree entry, and the passages written for it (references resolve before `only` applies).
            text = re.sub(rf"^{page}\n", "", text, flags=re.MULTILINE)
            text = re.sub(rf"^```{{only}} {page}\n.*?^```\n", "", text, flags=re.MULTILINE | re.DOTALL)
    source[0] = text


def setup(app) -> None:
    for page in OPTIONAL_PAGES:
        if os.path.exists(os.path.join(DOCS, f"{page}.md")):
            app.tags.add(page)
    app.connect("source-read", _complete_page)
    return {"parallel_read_safe": True}
