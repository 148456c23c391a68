"""stubtest for the classes of vorn_core that are not module attributes.

Their stubs are marked @type_check_only, which plain stubtest checks only for being absent from the module.
Here they are checked like the others: the classes are taken from values the library returns and set on
the imported module, and stubtest runs in this process on a copy of the installed stubs without those
markers (found first through MYPYPATH). Run by tools/check-types after plain stubtest.
"""

import os
import re
import sys
import sysconfig
import tempfile

import vorn_core as vc
from mypy import stubtest


def unregistered_classes() -> dict[str, type]:
    engine = vc.VornEngine()
    engine.define_network([vc.NodeDefinition("A", 1.0)], [])
    snapshot = engine.snapshot()
    return {
        "SimulationResult": type(engine.request_entanglement("A", "A", 0.5, 1.0)),
        "PyMonteCarloContext": type(engine.simulate("A", "A", 0.5, 1.0, 0)._context),
        "TopologySnapshot": type(snapshot),
        "TopologyConfig": type(snapshot.config),
        "TopologyMetadata": type(snapshot.metadata),
        "TopologyDiff": type(vc.diff_topologies(snapshot, snapshot)),
    }


def main() -> int:
    classes = unregistered_classes()
    installed = os.path.join(sysconfig.get_paths()["purelib"], "vorn_core-stubs", "__init__.pyi")
    with open(installed, encoding="utf-8") as stub:
        text = stub.read()
    pattern = r"@type_check_only\n(class (?:" + "|".join(classes) + r")\b)"
    text, unmarked = re.subn(pattern, r"\1", text)
    if unmarked != len(classes):
        print(f"expected {len(classes)} type-check-only classes in {installed}, found {unmarked}", file=sys.stderr)
        return 1
    for name, cls in classes.items():
        setattr(vc, name, cls)
    with tempfile.TemporaryDirectory() as directory:
        with open(os.path.join(directory, "vorn_core.pyi"), "w", encoding="utf-8") as stub:
            stub.write(text)
        os.environ["MYPYPATH"] = directory
        sys.argv = ["stubtest", "vorn_core", *sys.argv[1:]]
        return stubtest.main()


if __name__ == "__main__":
    sys.exit(main())
