# Types of vorn._native, the companion's private native module (plain data in, plain data out).
from os import PathLike
from typing import Any

NodeTuple = tuple[str, float]
LinkTuple = tuple[str, str, float, float, float, str, tuple[float, float] | None]
ConfigTuple = tuple[tuple[float, float], float, float]

def simulate(
    nodes: Any,
    links: Any,
    config: Any,
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    strategy: int | None,
    seed: int,
) -> tuple[int, float, float, float, int, dict[str, int], int, Any, Any]: ...
def replicate_seeds(seed: int, count: int, runs: int) -> list[int]: ...
def check_vorn_file(path: str | bytes | PathLike[str] | PathLike[bytes]) -> list[dict[str, Any]]: ...
def file_format(path: str | bytes | PathLike[str] | PathLike[bytes]) -> str | None: ...
def engine_default_config() -> ConfigTuple: ...
def reference_network(name: str) -> tuple[list[NodeTuple], list[LinkTuple]]: ...
def vorn_network(
    nodes: list[tuple[str, float | None]],
    links: list[tuple[str, str, float, float, float, str | None, tuple[float, float] | None]],
    config: tuple[float | None, int | None] | None,
) -> tuple[list[NodeTuple], list[LinkTuple], ConfigTuple]: ...
def route_search_estimate(
    nodes: Any, links: Any, from_node: str, to: str, strategy: int | None
) -> tuple[int, int, float, bool, bool, bool]: ...
def diff_vorn_files(file1: str, file2: str) -> dict[str, Any]: ...

# The physical model: `model` is PhysicalModel._plain(), `strategy` a StrategyType number or None.
ModelTuple = tuple[float, float, float, float, float | None, float, float | None]
HopTuple = tuple[float, float, float, float]

def physics_check_model(model: ModelTuple) -> None: ...
def physics_route(
    nodes: Any, links: Any, from_node: str, to: str, model: ModelTuple, strategy: int | None
) -> tuple[list[str], list[HopTuple], list[float]]: ...
def physics_simulate(
    nodes: Any, links: Any, from_node: str, to: str, runs: int, model: ModelTuple, strategy: int | None, seed: int
) -> tuple[list[str], int, int, Any, Any, Any, Any, dict[int, int]]: ...
def physics_trials(
    nodes: Any, links: Any, from_node: str, to: str, runs: int, model: ModelTuple, strategy: int | None, seed: int
) -> tuple[list[str], bytes, bytes]: ...
