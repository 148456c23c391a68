"""Networks to and from files: a .vorn file from node and link definitions, and the network of a file.

    from vorn.files import to_vorn_file, load_network
    to_vorn_file(nodes, links, "backbone", constraints=(0.75, 5000.0)).save("backbone.vorn")
    loaded = load_network("backbone.vorn")   # its network, configuration and constraints

A .vorn file keeps memory lifetimes in ms where node definitions keep T2 in s; `to_vorn_file` converts so
that loading gives back the same T2 (``from_vorn_file`` divides by 1000). A file that is really an
engine snapshot (``save_topology``), given to a .vorn loader, or the reverse, fails with a hint that says so.
"""

from __future__ import annotations

import contextlib
import math
import os
from collections.abc import Iterable, Iterator
from typing import NamedTuple

import vorn_core as vc

from . import _native, _network

__all__ = ["to_vorn_file", "load_network", "load_vorn_file", "load_snapshot", "LoadedNetwork", "format_hint"]

# What a .vorn file can say of a configuration: only these are written, the rest is fixed by the format.
FILE_SPEED_KM_MS = 200.0
FILE_STEP_MS = 0.1
MS_PER_ATTEMPT = 50.0  # the cut-off of a file's config is max_attempts x 50 ms
PURIFY_PER_LOSS = 10.0  # the purify factor of a file's config is alpha_loss / 10


class LoadedNetwork(NamedTuple):
    """What an engine takes from a .vorn file: its network and configuration as ``from_vorn_file`` builds
    them, the request figures of its constraints (None where absent) and the loaded file itself."""

    network: _network.Network
    config: _network.Config
    fidelity_target: float | None
    max_latency_ms: float | None
    file: vc.VornFile

    def definitions(self) -> tuple[list[vc.NodeDefinition], list[vc.LinkDefinition]]:
        """vorn_core's node and link definitions of the network."""
        return _network.definitions(self.network)

    def simulation_config(self) -> vc.SimulationConfig | None:
        """vorn_core's configuration record of the network's configuration."""
        return _network.simulation_config(self.config)


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


def load_vorn_file(path: str | os.PathLike[str]) -> vc.VornFile:
    """``vorn_core.load_vorn_file`` for any path, its RuntimeError followed by a hint when the file is an
    engine snapshot rather than a .vorn file."""
    shown = os.fsdecode(path)
    with library_path(path) as reachable:
        try:
            return vc.load_vorn_file(reachable)
        except RuntimeError as error:
            message = str(error).replace(reachable, shown, 1)
            hint = format_hint(path, "vorn")
            raise RuntimeError(message + (f"\nhint: {hint}" if hint else "")) from None


def load_snapshot(engine: vc.VornEngine, path: str | os.PathLike[str]) -> None:
    """``vorn_core.load_topology(engine, path)`` for any path, its RuntimeError followed by a hint when the
    file is a .vorn file rather than an engine snapshot."""
    shown = os.fsdecode(path)
    with library_path(path) as reachable:
        try:
            vc.load_topology(engine, reachable)
        except RuntimeError as error:
            message = str(error).replace(reachable, shown, 1)
            hint = format_hint(path, "snapshot")
            raise RuntimeError(message + (f"\nhint: {hint}" if hint else "")) from None


def load_network(path: str | os.PathLike[str]) -> LoadedNetwork:
    """The network, configuration and constraints that an engine takes from the .vorn file at `path`
    (loaded and validated as ``vorn_core.load_vorn_file`` does; the same RuntimeError when it fails)."""
    qf = load_vorn_file(path)
    network, config = _network.file_network(qf)
    constraints = qf.constraints
    target = None if constraints is None else constraints.fidelity_target
    bound = None if constraints is None else constraints.max_latency_ms
    return LoadedNetwork(network, config, target, bound, qf)


def _scaled_exactly(value: float, factor: float) -> float:
    """The number m whose m / factor comes closest to `value`: equal to it wherever such an m exists
    (for all but about 2 % of values), else one unit in the last place off."""
    candidate = value * factor
    nearest = [candidate]
    below = above = candidate
    for _ in range(8):
        below, above = math.nextafter(below, -math.inf), math.nextafter(above, math.inf)
        nearest += [below, above]
    return min(nearest, key=lambda m: (abs(m / factor - value), len(repr(m))))  # the shortest text of the best


def _file_config(config: vc.SimulationConfig | None) -> vc.VornConfig | None:
    plain = _network.pack_config(config)
    if plain is None or plain == _network.default_config():
        return None  # a file without config gives an engine the default configuration
    speed = plain.physical.speed_of_light_in_fiber_km_ms
    if speed != FILE_SPEED_KM_MS:
        raise ValueError(
            f"config.physical.speed_of_light_in_fiber_km_ms {speed!r} cannot be "
            f"written to a .vorn file: an engine made from one always has {FILE_SPEED_KM_MS}"
        )
    if plain.step_resolution_ms != FILE_STEP_MS:
        raise ValueError(
            f"config.step_resolution_ms {plain.step_resolution_ms!r} cannot be written to a .vorn file: "
            f"an engine made from one always has {FILE_STEP_MS}"
        )
    attempts = plain.total_time_cutoff_ms / MS_PER_ATTEMPT
    if not (
        attempts.is_integer() and 0 <= attempts < 2**32 and attempts * MS_PER_ATTEMPT == plain.total_time_cutoff_ms
    ):
        raise ValueError(
            f"config.total_time_cutoff_ms {plain.total_time_cutoff_ms!r} cannot be written to a .vorn file: "
            f"it keeps the cut-off as a whole number of {MS_PER_ATTEMPT:g} ms attempts"
        )
    alpha = _scaled_exactly(plain.physical.baseline_purify_factor, PURIFY_PER_LOSS)
    return vc.VornConfig(alpha_loss=alpha, max_attempts=int(attempts))


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

    Save it with ``.save(path)``.
    """
    if isinstance(nodes, vc.NetworkTopologyPayload):
        network = _network.pack_network(nodes.nodes, nodes.links)
    elif links is None:
        raise TypeError(f"expected node and link definitions or a NetworkTopologyPayload, got {type(nodes).__name__}")
    else:
        network = _network.pack_network(nodes, links)
    qf = vc.VornFile(name)
    qf.metadata = vc.VornMetadata(name, description, author)
    for node in network.nodes:
        qf.add_node(node.id, _scaled_exactly(node.memory_lifetime_t2, 1000.0))
    seen: dict[str, int] = {}
    for link in network.links:
        key = f"{link.from_node}->{link.to}"
        seen[key] = seen.get(key, 0) + 1
        satellite = link.satellite_conditions
        qf.add_link(
            key if seen[key] == 1 else f"{key}#{seen[key]}",
            link.from_node,
            link.to,
            link.distance_km,
            link.base_fidelity,
            link.generation_rate_hz,
            getattr(vc.VornLinkType, link.link_type),
            None if satellite is None else vc.VornSatelliteExtension(*satellite),
        )
    qf.config = _file_config(config)
    if constraints is not None:
        target, bound = constraints
        qf.constraints = vc.VornConstraints(
            None if target is None else _network.fraction(target, "constraints fidelity_target"),
            None if bound is None else _network.non_negative(bound, "constraints max_latency_ms"),
        )
    return qf
