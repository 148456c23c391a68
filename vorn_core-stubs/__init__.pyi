"""Types of vorn_core, the extension module that simulates quantum communication networks.

Conventions that hold throughout:

- Every record attribute reads as a new value: a list, a dict or a nested record read from an attribute is
  a copy, so changing it changes nothing until it is assigned back. List attributes accept any sequence.
- A float parameter or attribute accepts anything with a float conversion; counts and seeds are
  non-negative integers below 2**64 (OverflowError otherwise).
- Enumeration members compare by identity, and a member read from an attribute is a new object: compare
  reprs or ``to_u8()``, not the objects.
- Classes whose ``__new__`` takes a ``Never`` argument have no constructor: calling them raises
  TypeError("No constructor defined"); their objects come from the library.
- ``SimulationResult``, ``PyMonteCarloContext`` and the four ``Topology*`` snapshot classes are not module
  attributes: they are reachable only through returned values, so use them in annotations only.
- Records with a constructor pickle and copy field by field (``SimulationResult``, not being a module
  attribute, copies but does not pickle); enumeration members unpickle to the class attribute of the same
  name.
"""

from collections.abc import Sequence
from typing import Any, ClassVar, TypedDict, final, type_check_only

from typing_extensions import Never, NotRequired, Self

__all__ = [
    "VornEngine",
    "PhysicalConfig",
    "LinkDefinition",
    "SatelliteConditions",
    "EntanglementRequest",
    "MonteCarloStats",
    "TopologyComparisonResult",
    "TopologyComparisonReport",
    "LinkType",
    "StrategyType",
    "SimulationConfig",
    "NodeDefinition",
    "NetworkTopologyPayload",
    "VornFile",
    "VornNode",
    "VornLink",
    "VornConfig",
    "VornConstraints",
    "VornMetadata",
    "VornNodeType",
    "VornLinkType",
    "VornSatelliteExtension",
    "TopologyEndpoints",
    "QKDParameters",
    "QKDResult",
    "QKDStats",
    "TeleportationParameters",
    "TeleportationOutcome",
    "TeleportationStats",
    "BasisType",
    "CoordinationTopology",
    "MeasurementBasis",
    "DistributedComputingParameters",
    "PartyOutcome",
    "DistributedComputingResult",
    "DistributedComputingStats",
    "generate_topology",
    "compare_topologies",
    "save_topology",
    "load_topology",
    "validate",
    "load_vorn_file",
    "diff",
    "diff_topologies",
    "from_vorn_file",
    "load",
    "save_vorn_file_wrapper",
    "save",
    "qkd",
    "teleportation",
    "distributed_computation",
]

class PanicException(BaseException):
    """An internal failure: a broken invariant of the library. Not an Exception: ``except Exception``
    does not catch it."""

# ---- network model -----------------------------------------------------------------------------

@final
class NodeDefinition:
    id: str
    memory_lifetime_t2: float
    """Coherence time T2 of the node's memory, in seconds."""
    def __new__(cls, id: str, memory_lifetime_t2: float) -> Self: ...

@final
class LinkType:
    Fiber: ClassVar[LinkType]
    Satellite: ClassVar[LinkType]
    def __new__(cls, no_constructor: Never, /) -> Self: ...

@final
class SatelliteConditions:
    visibility: float
    weather_factor: float
    def __new__(cls, visibility: float | None = None, weather_factor: float | None = None) -> Self: ...
    def effective_rate(self, base_rate: float) -> float:
        """Calculate effective generation rate based on conditions"""

@final
class LinkDefinition:
    from_node: str
    to: str
    distance_km: float
    base_fidelity: float
    generation_rate_hz: float
    link_type: LinkType
    satellite_conditions: SatelliteConditions | None
    def __new__(
        cls,
        from_node: str,
        to: str,
        distance_km: float,
        base_fidelity: float,
        generation_rate_hz: float,
        link_type: LinkType | None = None,
        satellite_conditions: SatelliteConditions | None = None,
    ) -> Self: ...

@final
class PhysicalConfig:
    baseline_purify_factor: float
    speed_of_light_in_fiber_km_ms: float
    def __new__(cls, alpha_loss_db_km: float | None = None) -> Self:
        """`baseline_purify_factor` is alpha_loss_db_km / 10 (0.022 without it)."""

@final
class SimulationConfig:
    physical: PhysicalConfig
    total_time_cutoff_ms: float
    step_resolution_ms: float
    def __new__(
        cls,
        total_time_cutoff_ms: float | None = None,
        step_resolution_ms: float | None = None,
        alpha_loss_db_km: float | None = None,
    ) -> Self: ...

@final
class NetworkTopologyPayload:
    @property
    def nodes(self) -> list[NodeDefinition]: ...
    @nodes.setter
    def nodes(self, value: Sequence[NodeDefinition], /) -> None: ...
    @property
    def links(self) -> list[LinkDefinition]: ...
    @links.setter
    def links(self, value: Sequence[LinkDefinition], /) -> None: ...
    def __new__(cls, nodes: Sequence[NodeDefinition], links: Sequence[LinkDefinition]) -> Self: ...

# ---- requests, results, strategies -------------------------------------------------------------

@final
class StrategyType:
    LowestLatency: ClassVar[StrategyType]
    HighestFidelity: ClassVar[StrategyType]
    HighestSuccess: ClassVar[StrategyType]
    def __new__(cls, no_constructor: Never, /) -> Self: ...
    def to_u8(self) -> int: ...

@final
class EntanglementRequest:
    from_node: str
    to: str
    fidelity_target: float
    max_latency_ms: float
    strategy: StrategyType | None
    def __new__(
        cls,
        from_node: str,
        to: str,
        fidelity_target: float,
        max_latency_ms: float,
        strategy: StrategyType | None = None,
    ) -> Self: ...

@final
@type_check_only
class SimulationResult:
    success: bool
    latency_ms: float
    final_fidelity: float
    @property
    def execution_path(self) -> list[str]: ...
    @execution_path.setter
    def execution_path(self, value: Sequence[str], /) -> None: ...
    def __new__(
        cls, success: bool, latency_ms: float, final_fidelity: float, execution_path: Sequence[str]
    ) -> Self: ...

# ---- the engine ----------------------------------------------------------------------------------

@final
class VornEngine:
    def __new__(cls, config: SimulationConfig | None = None) -> Self: ...
    def define_network(self, nodes: Sequence[NodeDefinition], links: Sequence[LinkDefinition]) -> None: ...
    def request_entanglement(
        self,
        from_node: str,
        to: str,
        fidelity_target: float,
        max_latency_ms: float,
        strategy: StrategyType | None = None,
    ) -> SimulationResult: ...
    def simulate(
        self,
        from_node: str,
        to: str,
        fidelity_target: float,
        max_latency_ms: float,
        runs: int,
        strategy: StrategyType | None = None,
        seed: int | None = None,
    ) -> MonteCarloStats: ...
    def define_network_from_vorn(self, qf: VornFile) -> None: ...
    def run_qkd(self, params: QKDParameters) -> QKDResult: ...
    def execute_teleportation(self, params: TeleportationParameters) -> TeleportationOutcome: ...
    def run_distributed_computation(
        self,
        participants: Sequence[str],
        coordination_topology: str,
        basis_type: str,
        correlation_strength: float | None = None,
        classical_relay_latency_ms: float | None = None,
    ) -> DistributedComputingResult:
        """`coordination_topology` is "star", "ring" or "mesh"; `basis_type` "ghz", "cluster" or "graph"."""
    def snapshot(self, name: str | None = None, version: str | None = None) -> TopologySnapshot: ...

# ---- Monte Carlo -------------------------------------------------------------------------------

@final
@type_check_only
class PyMonteCarloContext:
    seed: int | None
    @property
    def nodes(self) -> list[tuple[str, float]]: ...
    @nodes.setter
    def nodes(self, value: Sequence[tuple[str, float]], /) -> None: ...
    @property
    def links(self) -> list[tuple[str, str, float, float, float]]: ...
    @links.setter
    def links(self, value: Sequence[tuple[str, str, float, float, float]], /) -> None: ...
    from_node: str
    to_node: str
    fidelity_target: float
    max_latency_ms: float
    total_time_cutoff_ms: float
    step_resolution_ms: float
    baseline_purify_factor: float
    strategy: StrategyType | None
    def __new__(cls, no_constructor: Never, /) -> Self: ...

@final
class MonteCarloStats:
    total_runs: int
    empirical_success_rate: float
    mean_latency_ms: float
    mean_fidelity: float
    aggregate_congestion_drops: int
    link_utilization_heatmap: dict[str, int]
    _context: PyMonteCarloContext | None
    """Optional context for post-hoc analysis (perturbation-based sensitivity)."""
    def __new__(
        cls,
        total_runs: int,
        empirical_success_rate: float,
        mean_latency_ms: float,
        mean_fidelity: float,
        aggregate_congestion_drops: int,
        link_utilization_heatmap: dict[str, int],
        context: PyMonteCarloContext | None = None,
    ) -> Self: ...
    def sensitivity_analysis(self, seed_base: int) -> dict[str, float]:
        """Perturb each simulation parameter ±10 %, re-run the ensemble, and report which parameters most
        influence `empirical_success_rate`, most influential first."""

# ---- topology catalogue and comparison ---------------------------------------------------------

@final
class TopologyEndpoints:
    topology_name: str
    from_node: str
    to_node: str
    def __new__(cls, topology_name: str, from_node: str, to_node: str) -> Self: ...

@final
class TopologyComparisonResult:
    topology_name: str
    success_rate: float
    mean_latency_ms: float
    mean_fidelity: float
    link_utilization: dict[str, int]
    def __new__(cls, no_constructor: Never, /) -> Self: ...

@final
class TopologyComparisonReport:
    source_node: str
    target_node: str
    @property
    def results(self) -> list[TopologyComparisonResult]: ...
    @results.setter
    def results(self, value: Sequence[TopologyComparisonResult], /) -> None: ...
    recommended_topology: str
    summary: str
    fidelity_target: float
    max_latency_ms: float
    runs: int
    def __new__(cls, no_constructor: Never, /) -> Self: ...

def generate_topology(name: str) -> NetworkTopologyPayload:
    """ "telecom_backbone", "repeater_chain" or "hybrid_satellite_fiber"."""

def compare_topologies(
    endpoints: Sequence[TopologyEndpoints],
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    strategy: StrategyType | None = None,
) -> TopologyComparisonReport: ...

# ---- .vorn files ---------------------------------------------------------------------------------

@final
class VornNodeType:
    Ground: ClassVar[VornNodeType]
    Satellite: ClassVar[VornNodeType]
    Repeater: ClassVar[VornNodeType]
    def __new__(cls, no_constructor: Never, /) -> Self: ...

@final
class VornLinkType:
    Fiber: ClassVar[VornLinkType]
    Satellite: ClassVar[VornLinkType]
    def __new__(cls, no_constructor: Never, /) -> Self: ...

@final
class VornSatelliteExtension:
    visibility: float
    weather_factor: float
    def __new__(cls, visibility: float | None = None, weather_factor: float | None = None) -> Self: ...
    def effective_rate(self, base_rate: float) -> float:
        """Calculate effective generation rate based on conditions"""

@final
class VornNode:
    id: str
    memory_lifetime_ms: float | None
    memory_capacity: int | None
    node_type: VornNodeType | None
    def __new__(
        cls,
        id: str,
        memory_lifetime_ms: float | None = None,
        memory_capacity: int | None = None,
        node_type: VornNodeType | None = None,
    ) -> Self: ...

@final
class VornLink:
    id: str
    src: str
    """Link source node (the file's "from")."""
    to: str
    distance_km: float
    base_fidelity: float
    generation_rate_hz: float
    link_type: VornLinkType | None
    satellite: VornSatelliteExtension | None
    def __new__(
        cls,
        id: str,
        src: str,
        to: str,
        distance_km: float,
        base_fidelity: float,
        generation_rate_hz: float,
        link_type: VornLinkType | None = None,
        satellite: VornSatelliteExtension | None = None,
    ) -> Self: ...

@final
class VornConfig:
    alpha_loss: float | None
    beta_fidelity_decay: float | None
    gamma_swapping: float | None
    max_attempts: int | None
    def __new__(
        cls,
        alpha_loss: float | None = None,
        beta_fidelity_decay: float | None = None,
        gamma_swapping: float | None = None,
        max_attempts: int | None = None,
    ) -> Self: ...

@final
class VornConstraints:
    fidelity_target: float | None
    max_latency_ms: float | None
    def __new__(cls, fidelity_target: float | None = None, max_latency_ms: float | None = None) -> Self: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class VornMetadata:
    name: str
    description: str | None
    author: str | None
    created_at: str | None
    def __new__(
        cls, name: str, description: str | None = None, author: str | None = None, created_at: str | None = None
    ) -> Self: ...

@final
class VornFile:
    version: str
    metadata: VornMetadata
    @property
    def nodes(self) -> list[VornNode]: ...
    @nodes.setter
    def nodes(self, value: Sequence[VornNode], /) -> None: ...
    @property
    def links(self) -> list[VornLink]: ...
    @links.setter
    def links(self, value: Sequence[VornLink], /) -> None: ...
    config: VornConfig | None
    constraints: VornConstraints | None
    extensions: Any
    """Any Python object; never written to a file, None in a loaded file."""
    def __new__(cls, name: str) -> Self: ...
    def add_node(
        self,
        id: str,
        memory_lifetime_ms: float | None = None,
        memory_capacity: int | None = None,
        node_type: VornNodeType | None = None,
    ) -> None: ...
    def add_link(
        self,
        id: str,
        src: str,
        to: str,
        distance_km: float,
        base_fidelity: float,
        generation_rate_hz: float,
        link_type: VornLinkType | None = None,
        satellite: VornSatelliteExtension | None = None,
    ) -> None: ...
    def save(self, filepath: str) -> None:
        """Save this .vorn file to disk as pretty-printed JSON."""

@type_check_only
class _ValidationError(TypedDict):
    type: str
    message: str
    path: NotRequired[str]

@type_check_only
class _ValidationWarning(TypedDict):
    message: str
    path: NotRequired[str]

@type_check_only
class _Validation(TypedDict):
    valid: bool
    filepath: str
    errors: list[_ValidationError]
    warnings: list[_ValidationWarning]

@type_check_only
class _FileDiff(TypedDict, total=False):
    """The report, or only "error" when a file failed to load."""

    summary: str
    nodes_added: list[str]
    nodes_removed: list[str]
    nodes_modified: list[str]
    links_added: list[str]
    links_removed: list[str]
    links_modified: list[str]
    error: str

def validate(filepath: str) -> _Validation: ...
def load_vorn_file(filepath: str) -> VornFile:
    """Load a .vorn file from disk and return it as a VornFile object; RuntimeError on IO errors,
    parse errors, or validation failures."""

def diff(file1: str, file2: str) -> _FileDiff: ...
def from_vorn_file(filepath: str) -> VornEngine: ...

load = load_vorn_file

def save_vorn_file_wrapper(qf: VornFile, filepath: str) -> None: ...

save = save_vorn_file_wrapper

# ---- snapshots -----------------------------------------------------------------------------------

@final
@type_check_only
class TopologyConfig:
    alpha_loss: float
    gamma_swapping: float
    def __new__(cls, no_constructor: Never, /) -> Self: ...

@final
@type_check_only
class TopologyMetadata:
    name: str
    version: str
    def __new__(cls, no_constructor: Never, /) -> Self: ...

@final
@type_check_only
class TopologySnapshot:
    @property
    def nodes(self) -> list[NodeDefinition]: ...
    @nodes.setter
    def nodes(self, value: Sequence[NodeDefinition], /) -> None: ...
    @property
    def links(self) -> list[LinkDefinition]: ...
    @links.setter
    def links(self, value: Sequence[LinkDefinition], /) -> None: ...
    config: TopologyConfig
    metadata: TopologyMetadata
    def __new__(cls, no_constructor: Never, /) -> Self: ...

@final
@type_check_only
class TopologyDiff:
    name: str
    @property
    def nodes_added(self) -> list[str]: ...
    @nodes_added.setter
    def nodes_added(self, value: Sequence[str], /) -> None: ...
    @property
    def nodes_removed(self) -> list[str]: ...
    @nodes_removed.setter
    def nodes_removed(self, value: Sequence[str], /) -> None: ...
    @property
    def nodes_modified(self) -> list[str]: ...
    @nodes_modified.setter
    def nodes_modified(self, value: Sequence[str], /) -> None: ...
    @property
    def links_added(self) -> list[str]: ...
    @links_added.setter
    def links_added(self, value: Sequence[str], /) -> None: ...
    @property
    def links_removed(self) -> list[str]: ...
    @links_removed.setter
    def links_removed(self, value: Sequence[str], /) -> None: ...
    @property
    def links_modified(self) -> list[str]: ...
    @links_modified.setter
    def links_modified(self, value: Sequence[str], /) -> None: ...
    summary: str
    def __new__(cls, no_constructor: Never, /) -> Self: ...

def save_topology(engine: VornEngine, filepath: str) -> None: ...
def load_topology(engine: VornEngine, filepath: str) -> None: ...
def diff_topologies(snapshot1: TopologySnapshot, snapshot2: TopologySnapshot) -> TopologyDiff: ...

# ---- protocols -----------------------------------------------------------------------------------

@final
class QKDParameters:
    from_node: str
    to_node: str
    fidelity_target: float
    max_latency_ms: float
    rounds: int
    error_rate_tolerance: float
    sifting_overhead_ratio: float
    privacy_amplification_factor: float
    def __new__(
        cls,
        from_node: str,
        to_node: str,
        fidelity_target: float,
        max_latency_ms: float,
        rounds: int | None = None,
        error_rate_tolerance: float | None = None,
        sifting_overhead_ratio: float | None = None,
        privacy_amplification_factor: float | None = None,
    ) -> Self: ...

@final
class QKDResult:
    success: bool
    secret_key_length_bits: int
    efficiency_rate: float
    qber: float
    latency_ms: float
    @property
    def execution_path(self) -> list[str]: ...
    @execution_path.setter
    def execution_path(self, value: Sequence[str], /) -> None: ...
    rounds_completed: int
    rounds_failed: int
    def __new__(
        cls,
        success: bool,
        secret_key_length_bits: int,
        efficiency_rate: float,
        qber: float,
        latency_ms: float,
        execution_path: Sequence[str],
        rounds_completed: int,
        rounds_failed: int,
    ) -> Self: ...

@final
class QKDStats:
    total_runs: int
    success_rate: float
    mean_key_length_bits: float
    mean_efficiency: float
    mean_qber: float
    def __new__(
        cls, total_runs: int, success_rate: float, mean_key_length_bits: float, mean_efficiency: float, mean_qber: float
    ) -> Self: ...

@final
class TeleportationParameters:
    source_node: str
    target_node: str
    @property
    def relay_nodes(self) -> list[str]: ...
    @relay_nodes.setter
    def relay_nodes(self, value: Sequence[str], /) -> None: ...
    state_fidelity: float
    classical_bandwidth_ms: float
    def __new__(
        cls,
        source_node: str,
        target_node: str,
        state_fidelity: float | None = None,
        classical_bandwidth_ms: float | None = None,
    ) -> Self: ...

@final
class TeleportationOutcome:
    success: bool
    teleportation_fidelity: float
    resource_entanglement_fidelity: float
    latency_ms: float
    @property
    def path(self) -> list[str]: ...
    @path.setter
    def path(self, value: Sequence[str], /) -> None: ...
    classical_bits_transferred: int
    def __new__(
        cls,
        success: bool,
        teleportation_fidelity: float,
        resource_entanglement_fidelity: float,
        latency_ms: float,
        path: Sequence[str],
        classical_bits_transferred: int,
    ) -> Self: ...

@final
class TeleportationStats:
    total_runs: int
    success_rate: float
    mean_teleportation_fidelity: float
    teleportation_fidelity_stddev: float
    mean_latency_ms: float
    def __new__(
        cls,
        total_runs: int,
        success_rate: float,
        mean_teleportation_fidelity: float,
        teleportation_fidelity_stddev: float,
        mean_latency_ms: float,
    ) -> Self: ...

@final
class BasisType:
    GHZ: ClassVar[BasisType]
    Cluster: ClassVar[BasisType]
    GraphGraph: ClassVar[BasisType]
    def __new__(cls, no_constructor: Never, /) -> Self: ...

@final
class CoordinationTopology:
    kind: str
    center_node: str | None
    @property
    def edges(self) -> list[tuple[str, str]] | None: ...
    @edges.setter
    def edges(self, value: Sequence[tuple[str, str]] | None, /) -> None: ...
    def __new__(
        cls, kind: str, center_node: str | None = None, edges: Sequence[tuple[str, str]] | None = None
    ) -> Self: ...
    @staticmethod
    def star(center_node: str) -> CoordinationTopology:
        """Create a star topology with the given center node."""
    @staticmethod
    def ring() -> CoordinationTopology:
        """Create a ring topology."""
    @staticmethod
    def mesh() -> CoordinationTopology:
        """Create a mesh (all-to-all) topology."""
    @staticmethod
    def arbitrary(edges: Sequence[tuple[str, str]]) -> CoordinationTopology:
        """Create an arbitrary topology with explicit edges."""

@final
class MeasurementBasis:
    basis_type: BasisType
    correlation_strength: float
    def __new__(cls, basis_type: BasisType | None = None, correlation_strength: float | None = None) -> Self: ...

@final
class DistributedComputingParameters:
    @property
    def participants(self) -> list[str]: ...
    @participants.setter
    def participants(self, value: Sequence[str], /) -> None: ...
    coordination_topology: CoordinationTopology
    measurement_basis: MeasurementBasis
    classical_relay_latency_ms: float
    def __new__(
        cls,
        participants: Sequence[str],
        coordination_topology: CoordinationTopology,
        measurement_basis: MeasurementBasis | None = None,
        classical_relay_latency_ms: float | None = None,
    ) -> Self: ...

@final
class PartyOutcome:
    node_id: str
    successful_measurement: bool
    local_fidelity: float
    def __new__(cls, node_id: str, successful_measurement: bool, local_fidelity: float) -> Self: ...

@final
class DistributedComputingResult:
    success: bool
    computation_fidelity: float
    @property
    def party_results(self) -> list[PartyOutcome]: ...
    @party_results.setter
    def party_results(self, value: Sequence[PartyOutcome], /) -> None: ...
    @property
    def resource_links_used(self) -> list[str]: ...
    @resource_links_used.setter
    def resource_links_used(self, value: Sequence[str], /) -> None: ...
    total_latency_ms: float
    coordination_overhead_ms: float
    def __new__(
        cls,
        success: bool,
        computation_fidelity: float,
        party_results: Sequence[PartyOutcome],
        resource_links_used: Sequence[str],
        total_latency_ms: float,
        coordination_overhead_ms: float,
    ) -> Self: ...

@final
class DistributedComputingStats:
    total_runs: int
    success_rate: float
    mean_computation_fidelity: float
    mean_party_success_rate: float
    def __new__(
        cls, total_runs: int, success_rate: float, mean_computation_fidelity: float, mean_party_success_rate: float
    ) -> Self: ...

def qkd(
    engine: VornEngine,
    from_node: str,
    to_node: str,
    fidelity_target: float,
    max_latency_ms: float,
    rounds: int | None = None,
    error_rate_tolerance: float | None = None,
) -> QKDResult:
    """Run BB84-style quantum key distribution between two nodes."""

def teleportation(
    engine: VornEngine,
    source_node: str,
    target_node: str,
    state_fidelity: float | None = None,
    classical_bandwidth_ms: float | None = None,
) -> TeleportationOutcome:
    """Execute entanglement-based quantum state teleportation between two nodes."""

def distributed_computation(
    engine: VornEngine,
    participants: Sequence[str],
    coordination_topology: CoordinationTopology,
    measurement_basis: MeasurementBasis,
    classical_relay_latency_ms: float | None = None,
) -> DistributedComputingResult:
    """Run a distributed quantum computing protocol across participating nodes."""
