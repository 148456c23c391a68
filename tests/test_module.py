import subprocess
import sys

import vorn_core

ALL_NAMES = [
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


def test_all_lists_registered_names_in_order():
    # Nothing else is an attribute: not SimulationResult, PyMonteCarloContext or the snapshot classes.
    assert vorn_core.__all__ == ALL_NAMES
    assert [name for name in vars(vorn_core) if not name.startswith("__")] == ["PanicException"] + ALL_NAMES
    assert vorn_core.__doc__ == "The top-level Python module registration."


def test_engine_methods_in_table_order():
    # The engine's class is composed from the pieces of several areas; the order stays the table's.
    methods = [name for name, value in vars(vorn_core.VornEngine).items() if callable(value) and name[0] != "_"]
    assert methods == [
        "define_network",
        "request_entanglement",
        "simulate",
        "define_network_from_vorn",
        "run_qkd",
        "execute_teleportation",
        "run_distributed_computation",
        "snapshot",
    ]


def test_second_initialisation_is_refused():
    script = (
        "import sys, vorn_core\ndel sys.modules['vorn_core']\ntry:\n    import vorn_core\n"
        "except ImportError as error:\n    print('refused:', error)"
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    assert out.strip() == "refused: vorn_core may only be initialized once per interpreter process"
