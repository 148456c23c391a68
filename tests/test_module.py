import ast
import inspect
import pathlib
import subprocess
import sys

import vorn_core

# The generated stubs, which stubtest holds to the module, list the registered names and each class's methods.
STUBS = ast.parse((pathlib.Path(__file__).parents[1] / "vorn_core-stubs" / "__init__.pyi").read_text())


def stub_class(name):
    return next(node for node in STUBS.body if isinstance(node, ast.ClassDef) and node.name == name)


def test_registration_order_is_the_stubs():
    (stub_all,) = [
        ast.literal_eval(n.value) for n in STUBS.body if isinstance(n, ast.Assign) and n.targets[0].id == "__all__"
    ]
    # Nothing else is an attribute: not SimulationResult, PyMonteCarloContext or the snapshot classes.
    assert vorn_core.__all__ == stub_all and len(stub_all) == 51
    assert [name for name in vars(vorn_core) if not name.startswith("__")] == ["PanicException"] + stub_all
    assert vorn_core.__doc__ == "The top-level Python module registration."
    assert (vorn_core.qkd.__doc__, vorn_core.CoordinationTopology.ring.__doc__) == (
        "Run BB84-style quantum key distribution between two nodes.",
        "Create a ring topology.",
    )
    assert vorn_core.load is vorn_core.load_vorn_file and vorn_core.save is vorn_core.save_vorn_file_wrapper


def test_engine_methods_in_table_order():
    # The engine's class is composed from the pieces of several areas; the order stays the table's.
    methods = [name for name, value in vars(vorn_core.VornEngine).items() if callable(value) and name[0] != "_"]
    stubbed = [n.name for n in stub_class("VornEngine").body if isinstance(n, ast.FunctionDef) and n.name[0] != "_"]
    assert methods == stubbed and len(methods) == 8


def test_every_callable_with_a_constructor_reports_a_signature_that_stubtest_checks():
    # stubtest skips what inspect cannot read. VornSatelliteExtension has a constructor but no text signature.
    registered = [getattr(vorn_core, name) for name in vorn_core.__all__]
    methods = [m for c in registered if isinstance(c, type) for n, m in vars(c).items() if n[0] != "_" and callable(m)]
    unsigned = []
    for c in registered + methods:
        try:
            inspect.signature(c)
        except ValueError:
            unsigned.append(c.__name__)
    assert unsigned == [
        *("TopologyComparisonResult", "TopologyComparisonReport", "LinkType", "StrategyType", "VornNodeType"),
        *("VornLinkType", "VornSatelliteExtension", "BasisType"),
    ]


def test_second_initialisation_is_refused():
    script = (
        "import sys, vorn_core\ndel sys.modules['vorn_core']\ntry:\n    import vorn_core\n"
        "except ImportError as error:\n    print('refused:', error)"
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    assert out.strip() == "refused: vorn_core may only be initialized once per interpreter process"
