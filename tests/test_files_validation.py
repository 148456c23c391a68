"""Semantic checks of loaded files: the report in the load error and the dict that validate returns."""
import json

import pytest

import vorn_core as vc


def node(node_id):
    return {"id": node_id}


def link(a, b, link_id=None, distance=10.0, fidelity=0.9, rate=100.0):
    value = {"from": a, "to": b, "distance_km": distance, "base_fidelity": fidelity, "generation_rate_hz": rate}
    if link_id is not None:
        value["id"] = link_id
    return value


@pytest.fixture
def write(tmp_path):
    def write(nodes, links, name="t.vorn"):
        path = tmp_path / name
        path.write_text(json.dumps({"version": "1.0", "metadata": {"name": "n"}, "nodes": nodes, "links": links}))
        return str(path)

    return write


def report(*lines):
    return "Validation failed:\nValidation failed.\n\nErrors:\n" + "".join(f"   - {line}\n" for line in lines)


def failure(path, *lines):
    return f"Failed to load {path}: " + report(*lines)


AB = [node("A"), node("B")]

INVALID = [
    pytest.param([node("A"), node("B")], [], ["Graph is disconnected with 2 components"], id="two nodes, no links"),
    pytest.param([node("A"), node("A"), node("B")], [link("A", "B")],
                 ["Duplicate node ID: A", "Graph is disconnected with 2 components"], id="repeated id"),
    pytest.param([node("A")] * 3, [],
                 ["Duplicate node ID: A", "Duplicate node ID: A", "Graph is disconnected with 3 components"],
                 id="id three times"),
    pytest.param([node("A"), node("B"), node("A"), node("B")], [link("A", "B")],
                 ["Duplicate node ID: A", "Duplicate node ID: B", "Graph is disconnected with 3 components"],
                 id="earlier entries of repeated ids stay apart"),
    pytest.param(AB, [link("A", "B", distance=-5)], ["Invalid distance -5 km for link 'unknown' (must be > 0)"],
                 id="negative distance without id"),
    pytest.param(AB, [link("A", "B", "L1", distance=0.0)], ["Invalid distance 0 km for link 'L1' (must be > 0)"],
                 id="zero distance"),
    pytest.param(AB, [link("A", "B", "L1", distance=-0.0)], ["Invalid distance -0 km for link 'L1' (must be > 0)"],
                 id="negative zero distance"),
    pytest.param(AB, [link("A", "B", "L1", distance=-1e-7)],
                 ["Invalid distance -0.0000001 km for link 'L1' (must be > 0)"], id="tiny distance in plain notation"),
    pytest.param(AB, [link("A", "B", "L1", distance=-1.5e22)],
                 ["Invalid distance -15000000000000000000000 km for link 'L1' (must be > 0)"],
                 id="huge distance in plain notation"),
    pytest.param(AB, [link("A", "B", "L1", fidelity=0.0)], ["Invalid fidelity 0 for link 'L1' (must be 0 < x <= 1)"],
                 id="zero fidelity"),
    pytest.param(AB, [link("A", "B", "L1", fidelity=1.0000001)],
                 ["Invalid fidelity 1.0000001 for link 'L1' (must be 0 < x <= 1)"], id="fidelity above one"),
    pytest.param(AB, [link("A", "B", "L1", fidelity=-0.25)],
                 ["Invalid fidelity -0.25 for link 'L1' (must be 0 < x <= 1)"], id="negative fidelity"),
    pytest.param(AB, [link("A", "B", "L1", rate=0)], ["Invalid generation rate 0 Hz for link 'L1' (must be > 0)"],
                 id="zero rate"),
    pytest.param(AB, [link("A", "B", rate=-2.5)], ["Invalid generation rate -2.5 Hz for link 'unknown' (must be > 0)"],
                 id="negative rate without id"),
    pytest.param(AB, [link("A", "B"), link("A", "A", "loop")], ["Self-loop detected in link 'loop'"],
                 id="self-loop alone"),
    pytest.param([node("A")], [link("A", "A")], ["Self-loop detected in link 'unknown'"], id="self-loop without id"),
    pytest.param(AB, [link("A", "B", ""), link("B", "B", "")], ["Self-loop detected in link ''"],
                 id="empty id is a name"),
    pytest.param(AB, [link("A", "Z", "L1")],
                 ["Unknown node reference 'Z' in link 'L1'", "Graph is disconnected with 2 components"],
                 id="unknown target with id"),
    pytest.param(AB, [link("A", "Z"), link("A", "B")], ["Unknown node reference 'Z'"], id="unknown target without id"),
    pytest.param(AB, [link("Y", "Z", "L1"), link("A", "B")],
                 ["Unknown node reference 'Y' in link 'L1'", "Unknown node reference 'Z' in link 'L1'"],
                 id="both ends unknown"),
    pytest.param(AB, [link("Y", "Z")],
                 ["Unknown node reference 'Y'", "Unknown node reference 'Z'", "Graph is disconnected with 2 components"],
                 id="unknown ends add no edge"),
    pytest.param([node("A")], [link("Z", "Z", "L9", distance=0, fidelity=0, rate=0)],
                 ["Self-loop detected in link 'L9'", "Unknown node reference 'Z' in link 'L9'",
                  "Unknown node reference 'Z' in link 'L9'", "Invalid distance 0 km for link 'L9' (must be > 0)",
                  "Invalid fidelity 0 for link 'L9' (must be 0 < x <= 1)",
                  "Invalid generation rate 0 Hz for link 'L9' (must be > 0)"],
                 id="every link check runs"),
    pytest.param([node("A"), node("B"), node("A"), node("C")],
                 [link("A", "B", "first", rate=-1), link("B", "Q", "second", fidelity=2)],
                 ["Duplicate node ID: A", "Invalid generation rate -1 Hz for link 'first' (must be > 0)",
                  "Unknown node reference 'Q' in link 'second'",
                  "Invalid fidelity 2 for link 'second' (must be 0 < x <= 1)",
                  "Graph is disconnected with 3 components"],
                 id="ids, then links in order, then connectivity"),
]


@pytest.mark.parametrize("nodes, links, lines", INVALID)
def test_load_reports_every_finding(write, nodes, links, lines):
    path = write(nodes, links)
    with pytest.raises(RuntimeError) as raised:
        vc.load_vorn_file(path)
    assert str(raised.value) == failure(path, *lines)


@pytest.mark.parametrize(
    "nodes, links",
    [
        pytest.param([], [], id="empty"),
        pytest.param([node("A")], [], id="one node"),
        pytest.param(AB, [link("A", "B", fidelity=1.0)], id="fidelity one"),
        pytest.param(AB, [link("B", "A", distance=1e-300, fidelity=5e-324, rate=1e-300)], id="tiny positive values"),
        pytest.param(AB, [link("A", "B"), link("A", "B"), link("B", "A")], id="parallel links"),
        pytest.param([node("A"), node("a")], [link("A", "a")], id="ids are case-sensitive"),
        pytest.param([node(""), node(" ")], [link("", " ")], id="empty and blank ids"),
        pytest.param([node(f"N{i}") for i in range(50)], [link(f"N{i}", f"N{i + 1}") for i in range(49)], id="chain"),
        pytest.param([node(f"N{i}") for i in range(50)], [link("N0", f"N{i}") for i in range(1, 50)], id="star"),
    ],
)
def test_valid_files_load_and_validate(write, nodes, links):
    path = write(nodes, links)
    assert len(vc.load_vorn_file(path).nodes) == len(nodes)
    result = vc.validate(path)
    assert result == {"valid": True, "filepath": path, "errors": [], "warnings": []}
    assert list(result) == ["valid", "filepath", "errors", "warnings"]


def test_validate_keeps_the_path_as_given(write, monkeypatch, tmp_path):
    write(AB, [link("A", "B")], name="rel.vorn")
    monkeypatch.chdir(tmp_path)
    assert vc.validate("./rel.vorn")["filepath"] == "./rel.vorn"


@pytest.mark.parametrize(
    "nodes, links, lines",
    [
        pytest.param(AB, [link("A", "A", "L1"), link("A", "B")], ["Self-loop detected in link 'L1'"], id="self-loop"),
        pytest.param([node("A"), node("A")], [], ["Duplicate node ID: A", "Graph is disconnected with 2 components"],
                     id="duplicate"),
        pytest.param(AB, [link("A", "Z", "L1"), link("A", "B")], ["Unknown node reference 'Z' in link 'L1'"],
                     id="unknown reference"),
    ],
)
def test_validate_raises_with_the_load_text(write, nodes, links, lines):
    path = write(nodes, links)
    with pytest.raises(RuntimeError) as raised:
        vc.validate(path)
    assert str(raised.value) == failure(path, *lines)


@pytest.mark.parametrize(
    "name, content, detail",
    [
        ("missing.vorn", None, "IO error: No such file or directory"),
        ("v2.vorn", '{"version": "2.0", "metadata": {"name": "n"}, "nodes": [{"id": "A"}, {"id": "A"}], "links": []}',
         "Unsupported vorn version: 2.0"),
        ("bad.vorn", '{"version": "1.0"}', 'JSON parse error: Missing required key "metadata" in the document '
                                            "at line 1 column 18"),
    ],
)
def test_validate_raises_for_files_that_do_not_load(tmp_path, name, content, detail):
    path = tmp_path / name
    if content is not None:
        path.write_text(content)
    with pytest.raises(RuntimeError) as raised:
        vc.validate(str(path))
    assert str(raised.value) == f"Failed to load {path}: {detail}"


def test_names_with_quotes_and_unicode_are_inserted_as_they_are(write):
    path = write([node("Ä'"), node("B")], [link("Ä'", "Ä'", "it's €"), link("Ä'", "B")])
    with pytest.raises(RuntimeError) as raised:
        vc.load_vorn_file(path)
    assert str(raised.value) == failure(path, "Self-loop detected in link 'it's €'")
