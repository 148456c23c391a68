# Types of vorn._native, the companion's private native module (vorn_core's records in and out).
from collections.abc import Iterable
from os import PathLike
from typing import Any

from vorn_core import (
    EntanglementRequest,
    LinkDefinition,
    NetworkTopologyPayload,
    NodeDefinition,
    SimulationConfig,
    VornConfig,
    VornConstraints,
    VornFile,
    VornLink,
    VornNode,
)

FIBRE_SPEED_KM_MS: float
FIBRE_LOSS_DB_KM: float
MS_PER_SECOND: float
LOSS_PER_PURIFY_FACTOR: float
RECORD_PURIFY_FACTOR: float
ENGINE_PURIFY_FACTOR: float
CUTOFF_MS: float
STEP_MS: float
FILE_MS_PER_ATTEMPT: float
FILE_SECTION_PURIFY_FACTOR: float
FILE_NODE_LIFETIME_S: float

def simulate(
    nodes: Iterable[NodeDefinition],
    links: Iterable[LinkDefinition],
    config: SimulationConfig | None,
    request: EntanglementRequest,
    runs: int,
    seed: int,
) -> tuple[int, float, float, float, int, dict[str, int], int, Any, Any]: ...
def replicate_seeds(seed: int, count: int, runs: int) -> list[int]: ...
def check_vorn_file(path: str | bytes | PathLike[str] | PathLike[bytes]) -> list[dict[str, Any]]: ...
def file_format(path: str | bytes | PathLike[str] | PathLike[bytes]) -> str | None: ...
def engine_default_config() -> SimulationConfig: ...
def reference_network(name: str) -> NetworkTopologyPayload: ...
def load_network(
    path: str,
) -> tuple[list[NodeDefinition], list[LinkDefinition], SimulationConfig, VornConstraints | None]: ...
def file_network(
    nodes: Iterable[VornNode], links: Iterable[VornLink], config: VornConfig | None
) -> tuple[list[NodeDefinition], list[LinkDefinition], SimulationConfig]: ...
def vorn_file(
    nodes: Iterable[NodeDefinition],
    links: Iterable[LinkDefinition],
    name: str,
    config: SimulationConfig | None,
    constraints: tuple[float | None, float | None] | None,
    description: str | None,
    author: str | None,
) -> VornFile: ...
def definition_figures() -> tuple[list[str], list[str]]: ...
def check_figure(figure: str, value: float) -> None: ...
def route_search_estimate(
    nodes: Iterable[NodeDefinition],
    links: Iterable[LinkDefinition],
    config: SimulationConfig | None,
    request: EntanglementRequest,
) -> tuple[int, int, float, bool, bool, bool]: ...
def diff_vorn_files(file1: str, file2: str) -> dict[str, Any]: ...

# The physical model: `model` is PhysicalModel._plain(), `strategy` a StrategyType number or None.
ModelTuple = tuple[float, float, float, float, float | None, float, float | None, str, str, float, float, int, int, str]
HopTuple = tuple[float, float, float, float]

def physics_check_model(model: ModelTuple) -> None: ...
def physics_route(
    nodes: Any, links: Any, from_node: str, to: str, model: ModelTuple, strategy: int | None
) -> tuple[list[str], list[HopTuple], list[float]]: ...
def physics_simulate(
    nodes: Any, links: Any, from_node: str, to: str, runs: int, model: ModelTuple, strategy: int | None, seed: int
) -> tuple[list[str], int, int, Any, Any, Any, Any, dict[int, int], Any, Any, Any, Any]: ...
def physics_trials(
    nodes: Any, links: Any, from_node: str, to: str, runs: int, model: ModelTuple, strategy: int | None, seed: int
) -> tuple[list[str], bytes, bytes]: ...
