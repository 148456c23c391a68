"""Networks to and from files: a .vorn file from node and link definitions, and the network of a file.

    from vorn.files import to_vorn_file, load_network
    to_vorn_file(nodes, links, "backbone", constraints=(0.75, 5000.0)).save("backbone.vorn")
    loaded = load_network("backbone.vorn")   # its nodes, links, configuration and constraints

A .vorn file keeps memory lifetimes in ms where node definitions keep T2 in s; both directions convert at the
file boundary (``memory_lifetime_ms`` / 1000 on loading, and `to_vorn_file` chooses the number of ms that
gives the same T2 back). A file that is really an engine snapshot (``save_topology``), given to a .vorn
loader, or the reverse, fails with a hint that says so.
"""

from __future__ import annotations

import contextlib
import os
from collections.abc import Callable, Iterable, Iterator
from typing import NamedTuple, TypeVar

import vorn_core as vc

from . import _native, _network

__all__ = ["to_vorn_file", "load_network", "load_vorn_file", "load_snapshot", "LoadedNetwork", "format_hint"]

Loaded = TypeVar("Loaded")


class LoadedNetwork(NamedTuple):
    """What an engine takes from a .vorn file, as ``from_vorn_file`` builds it: its node and link
    definitions, its configuration, and the file's constraints (None without a constraints section)."""

    nodes: list[vc.NodeDefinition]
    links: list[vc.LinkDefinition]
    config: vc.SimulationConfig
    constraints: vc.VornConstraints | None

    @property
    def fidelity_target(self) -> float | None:
        return None if self.constraints is None else self.constraints.fidelity_target

    @property
    def max_latency_ms(self) -> float | None:
        return None if self.constraints is None else self.constraints.max_latency_ms


@contextlib.contextmanager
def library_path(path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> Iterator[str]:
    """A text path by which vorn_core's functions (which take UTF-8 text) reach the file at `path`, any
    path the operating system accepts: the path itself, or for a name that is no valid UTF-8 the
    descriptor of the file opened here (/dev/fd/N; opening it may raise OSError)."""
    name = os.fsdecode(path)
    if is_utf8(name):
        yield name
        return
    descriptor = os.open(os.fsencode(path), os.O_RDONLY)
    try:
        yield f"/dev/fd/{descriptor}"
    finally:
        os.close(descriptor)


def is_utf8(name: str) -> bool:
    """Whether a text (such as a path from the command line) can be given to functions that take UTF-8."""
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def format_hint(path: str | os.PathLike[str], expected: str) -> str | None:
    """A hint when the file at `path` is of the other JSON format than `expected` ("vorn" or "snapshot")."""
    found = _native.file_format(path)
    if expected == "vorn" and found == "snapshot":
        return "this looks like an engine snapshot (save_topology): load it with vorn_core.load_topology(engine, path)"
    if expected == "snapshot" and found == "vorn":
        return "this looks like a .vorn file: load it with vorn_core.load_vorn_file or vorn_core.from_vorn_file"
    return None


def _load(path: str | os.PathLike[str], expected: str, load: Callable[[str], Loaded]) -> Loaded:
    """``load(text path)`` for any path, its RuntimeError naming the path as given and followed by a hint
    when the file is of the other format than `expected`."""
    shown = os.fsdecode(path)
    with library_path(path) as reachable:
        try:
            return load(reachable)
        except RuntimeError as error:
            message = str(error).replace(reachable, shown, 1)
            hint = format_hint(path, expected)
            raise RuntimeError(message + (f"\nhint: {hint}" if hint else "")) from None


def load_vorn_file(path: str | os.PathLike[str]) -> vc.VornFile:
    """``vorn_core.load_vorn_file`` for any path, its RuntimeError followed by a hint when the file is an
    engine snapshot rather than a .vorn file."""
    return _load(path, "vorn", vc.load_vorn_file)


def load_snapshot(engine: vc.VornEngine, path: str | os.PathLike[str]) -> None:
    """``vorn_core.load_topology(engine, path)`` for any path, its RuntimeError followed by a hint when the
    file is a .vorn file rather than an engine snapshot."""
    _load(path, "snapshot", lambda reachable: vc.load_topology(engine, reachable))


def load_network(path: str | os.PathLike[str]) -> LoadedNetwork:
    """The network, configuration and constraints that an engine takes from the .vorn file at `path`
    (loaded and validated as ``vorn_core.load_vorn_file`` does; the same RuntimeError when it fails)."""
    return LoadedNetwork(*_load(path, "vorn", _native.load_network))


def to_vorn_file(
    nodes: Iterable[vc.NodeDefinition] | vc.NetworkTopologyPayload,
    links: Iterable[vc.LinkDefinition] | None = None,
    name: str = "network",
    config: vc.SimulationConfig | None = None,
    constraints: tuple[float | None, float | None] | None = None,
    *,
    description: str | None = None,
    author: str | None = None,
) -> vc.VornFile:
    """A .vorn file of node and link definitions (or of a NetworkTopologyPayload), from which
    ``from_vorn_file`` builds an engine with the same network and configuration.

    - T2 (s) becomes ``memory_lifetime_ms``, chosen so that dividing by 1000 gives it back exactly (for
      the 2 % of values that no number of ms gives back, the closest: one unit in the last place off);
    - links keep their order, type and satellite conditions; link ids are "A->B" ("A->B#2" for a
      second link between the same ends);
    - `config`: None or ``VornEngine()``'s configuration writes no config section; another is written as
      ``alpha_loss`` (10 x the purify factor) and ``max_attempts`` (cut-off / 50 ms), and one that a file
      cannot express (another signal speed or step, a cut-off that is no multiple of 50 ms) is refused
      with ValueError;
    - `constraints`: (fidelity_target, max_latency_ms in ms), either None, or None for no constraints.

    Figures out of their range are refused with ValueError naming them, as by every entry point. Save it
    with ``.save(path)``.
    """
    if isinstance(nodes, vc.NetworkTopologyPayload):
        node_list, link_list = _network.definitions(nodes.nodes, nodes.links)
    elif links is None:
        raise TypeError(f"expected node and link definitions or a NetworkTopologyPayload, got {type(nodes).__name__}")
    else:
        node_list, link_list = _network.definitions(nodes, links)
    wanted = None
    if constraints is not None:
        target, bound = constraints
        wanted = (target, bound)
    qf: vc.VornFile = _native.vorn_file(node_list, link_list, name, config, wanted, description, author)
    return qf
