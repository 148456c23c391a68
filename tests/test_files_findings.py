"""What the companion's native module tells programs about files: the findings of a .vorn file with their
positions, and which of the two formats a file looks like."""

import json
import os

import pytest
import vorn_core as vc

import vorn._native as native

INVALID = """{"version": "1.0", "metadata": {"name": "x"},
 "nodes": [{"id": "A"}, {"id": "A"}],
 "links": [
   {"id": "L1", "from": "A", "to": "Z", "distance_km": -5, "base_fidelity": 0.9, "generation_rate_hz": 1},
   {"\\u0066rom": "Q", "to": "Q", "distance_km": 5, "base_fidelity": 0, "generation_rate_hz": 0}
 ]}"""


def write(folder, text, name="t.vorn"):
    (folder / name).write_bytes(text if isinstance(text, bytes) else text.encode())
    return str(folder / name)


def finding(kind, code, message, line=None, column=None, path=None, severity="error"):
    return {
        "kind": kind,
        "code": code,
        "message": message,
        "line": line,
        "column": column,
        "path": path,
        "severity": severity,
    }


def test_validation_findings_are_placed_at_the_value_concerned(tmp_path):
    path = write(tmp_path, INVALID)
    found = [(f["code"], f["message"], f["line"], f["column"], f["path"]) for f in native.check_vorn_file(path)]
    assert found == [
        ("DuplicateNodeId", "Duplicate node ID: A", 2, 32, "nodes[1].id"),
        ("UnknownNodeReference", "Unknown node reference 'Z' in link 'L1'", 4, 36, "links[0].to"),
        ("InvalidDistance", "Invalid distance -5 km for link 'L1' (must be > 0)", 4, 56, "links[0].distance_km"),
        ("SelfLoop", "Self-loop detected in link 'unknown'", 5, 4, "links[1]"),
        ("UnknownNodeReference", "Unknown node reference 'Q'", 5, 18, "links[1].from"),
        ("UnknownNodeReference", "Unknown node reference 'Q'", 5, 29, "links[1].to"),
        ("InvalidFidelity", "Invalid fidelity 0 for link 'unknown' (must be 0 < x <= 1)", 5, 69,
         "links[1].base_fidelity"),
        ("InvalidGenerationRate", "Invalid generation rate 0 Hz for link 'unknown' (must be > 0)", 5, 94,
         "links[1].generation_rate_hz"),
        ("GraphDisconnected", "Graph is disconnected with 2 components", None, None, None),
    ]  # fmt: skip
    assert {(f["kind"], f["severity"]) for f in native.check_vorn_file(path)} == {("validation", "error")}
    # The same findings, in the same order, as the loader's report.
    with pytest.raises(RuntimeError) as raised:
        vc.load_vorn_file(path)
    report = str(raised.value).split("\nErrors:\n")[1].splitlines()
    assert report == ["   - " + f["message"] for f in native.check_vorn_file(path)]


IMPOSSIBLE = """{"version": "1.0", "metadata": {"name": "x"},
 "nodes": [{"id": "A", "memory_lifetime_ms": -10}, {"id": "B"}],
 "links": [{"from": "A", "to": "B", "distance_km": -5, "base_fidelity": 0.9, "generation_rate_hz": 1,
            "satellite": {"visibility": 1.2, "weather_factor": 1}}],
 "config": {"alpha_loss": -0.2}, "constraints": {"fidelity_target": 1.5}}"""


def test_figures_that_no_simulation_takes_are_errors_where_validation_has_none(tmp_path):
    found = native.check_vorn_file(write(tmp_path, IMPOSSIBLE))
    assert [(f["code"], f["path"], f["line"], f["column"], f["message"]) for f in found] == [
        ("InvalidDistance", "links[0].distance_km", 3, 52,
         "Invalid distance -5 km for link 'unknown' (must be > 0)"),
        ("ImpossibleFigure", "nodes[0].memory_lifetime_ms", 2, 46,
         "memory_lifetime_ms of node 'A' must be non-negative, got -10.0"),
        ("ImpossibleFigure", "links[0].satellite.visibility", 4, 41,
         "visibility of link 'A->B' must be within [0, 1], got 1.2"),
        ("ImpossibleFigure", "config.alpha_loss", 5, 27,
         "alpha_loss of the config must be finite and non-negative, got -0.2"),
        ("ImpossibleFigure", "constraints.fidelity_target", 5, 69,
         "fidelity_target of the constraints must be within [0, 1], got 1.5"),
    ]  # fmt: skip
    assert {(f["kind"], f["severity"]) for f in found} == {("validation", "error")}


def test_a_negative_memory_capacity_is_an_impossible_figure_beside_the_other_findings(tmp_path):
    nodes = '[{"id": "A", "memory_capacity": -3}, {"id": "A"}, {"id": "B", "memory_capacity": -12}]'
    text = '{"version": "1.0", "metadata": {"name": "x"}, "links": [],\n "nodes": ' + nodes + "}"
    found = native.check_vorn_file(write(tmp_path, text))
    assert [(f["code"], f["path"], f["line"], f["column"], f["message"]) for f in found] == [
        ("DuplicateNodeId", "nodes[1].id", 2, 55, "Duplicate node ID: A"),
        ("GraphDisconnected", None, None, None, "Graph is disconnected with 3 components"),
        ("ImpossibleFigure", "nodes[0].memory_capacity", 2, 43,
         "memory_capacity of node 'A' must be non-negative, got -3.0"),
        ("ImpossibleFigure", "nodes[2].memory_capacity", 2, 92,
         "memory_capacity of node 'B' must be non-negative, got -12.0"),
    ]  # fmt: skip
    # A value that is no whole number stays the reader's finding, with the text as written.
    found = native.check_vorn_file(write(tmp_path, text.replace("-3", "-2.5")))
    assert [(f["code"], f["line"], f["column"]) for f in found] == [("InvalidU32", 2, 43)]
    assert found[0]["message"].endswith("found -2.5")


PARSE = "JSON parse error: "
U32 = 'Invalid value for "max_attempts": expected an integer from 0 to 4294967295 without fraction or exponent, found '
# A file, and its one finding: kind, code, message, line, column and path.
FAILING = [
    ('{\n  "version": "1.0",\n  "nodes": [] []\n}',
     ("json", "Syntax", PARSE + "Missing a comma or '}' after an object member", 3, 15)),
    ('{"version": "1.0", "metadata": {"name": "n"}, "nodes": [{"id": "A"}],\n'
     ' "links": [{"from": "A", "to": "A", "distance_km": 1, "base_fidelity": 1, "generation_rate_hz": 1},\n'
     '           {"to": "A"}]}',
     ("json", "MissingKey", PARSE + 'Missing required key "from" in a link', 3, 22, "links[1].from")),
    ('{"version": "1.0", "metadata": {"name": "n"}, "nodes": [], "links": [],\n "config": {"max_attempts": 4.0}}',
     ("json", "InvalidU32", PARSE + U32 + "4.0", 2, 29, "config.max_attempts")),
    ('{"version": "1.0", "metadata": {"name": "n"}, "nodes": [{"id": "A"}, 7], "links": []}',
     ("json", "ElementType", PARSE + 'Invalid type for an element of "nodes": expected an object, found a number', 1,
      70, "nodes[1]")),
    ('{"metadata": {"name": "n"}, "nodes": [], "links": [],\n  "version": "2.0"}',
     ("version", "UnsupportedVersion", "Unsupported vorn version: 2.0", 2, 14, "version")),
    (b'{"version": "1.0",\n "metadata": {"name": "\xc3\xa9\xff"}}',
     ("io", "InvalidUtf8", "IO error: file is not valid UTF-8 (byte offset 44)", 2, 25)),
]  # fmt: skip


@pytest.mark.parametrize("text, expected", [(text, finding(*expected)) for text, expected in FAILING])
def test_a_file_that_fails_before_validation_gives_one_finding_as_the_loader_says(tmp_path, text, expected):
    path = write(tmp_path, text)
    assert native.check_vorn_file(path) == [expected]
    with pytest.raises(RuntimeError) as raised:
        vc.load_vorn_file(path)
    position = f" at line {expected['line']} column {expected['column']}" if expected["kind"] == "json" else ""
    assert str(raised.value) == f"Failed to load {path}: {expected['message']}{position}"


def test_a_file_that_cannot_be_read_and_a_file_that_loads(tmp_path):
    assert native.check_vorn_file(str(tmp_path / "missing.vorn")) == [
        finding("io", "ENOENT", "IO error: No such file or directory")
    ]
    assert native.check_vorn_file(tmp_path) == [finding("io", "EISDIR", "IO error: Is a directory")]
    assert native.check_vorn_file("/dev/zero") == [finding("io", "NotRegularFile", "IO error: not a regular file")]
    f = vc.VornFile("net")
    f.add_node("A")
    f.save(str(tmp_path / "net.vorn"))
    assert native.check_vorn_file(tmp_path / "net.vorn") == []


def test_any_name_the_system_takes(tmp_path):
    name = os.path.join(os.fsencode(tmp_path), b"\xff.vorn")
    with open(name, "w") as out:
        out.write(INVALID)
    assert len(native.check_vorn_file(name)) == 9 and native.file_format(name) == "vorn"
    with pytest.raises(TypeError, match="argument 'path': expected str, bytes or os.PathLike object, not int"):
        native.check_vorn_file(3)


def test_file_format_tells_the_two_formats_apart_even_damaged(tmp_path):
    engine = vc.VornEngine()
    nodes = [vc.NodeDefinition("A", 1.0), vc.NodeDefinition("B", 1.0)]
    engine.define_network(nodes, [vc.LinkDefinition("A", "B", 1, 0.9, 10)])
    vc.save_topology(engine, str(tmp_path / "snapshot.json"))
    snapshot = (tmp_path / "snapshot.json").read_text()
    vorn = json.dumps(json.loads(INVALID), indent=2)
    empty = vc.VornFile("net")
    empty.save(str(tmp_path / "empty.vorn"))
    cases = {
        "snapshot.json": ("snapshot", None),
        "empty.vorn": ("vorn", None),
        "vorn": ("vorn", vorn),
        "vorn-cut-after-the-first-link": ("vorn", vorn[: vorn.index('"to": "Q"')]),
        "snapshot-cut-after-the-first-node": ("snapshot", snapshot[: snapshot.index('"id": "B"')]),
        "another JSON object": (None, '{"name": "x", "nodes": [{"id": "A"}]}'),
        "an array": (None, '[{"version": "1.0"}]'),
        "not JSON": (None, "version: 1.0"),
    }
    for name, (expected, text) in cases.items():
        path = str(tmp_path / name) if text is None else write(tmp_path, text, name)
        assert (name, native.file_format(path)) == (name, expected)
    assert native.file_format(str(tmp_path / "missing")) is None
