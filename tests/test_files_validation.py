"""Semantic checks of loaded files: the report in the load error and the dict that validate returns."""

import json

import pytest
import vorn_core as vc


def nodes(*ids):
    return [{"id": i} for i in ids]


def link(a, b, link_id=None, distance=10.0, fidelity=0.9, rate=100.0):
    return {
        "from": a,
        "to": b,
        "distance_km": distance,
        "base_fidelity": fidelity,
        "generation_rate_hz": rate,
        **({} if link_id is None else {"id": link_id}),
    }


def write(folder, nodes, links):
    doc = {"version": "1.0", "metadata": {"name": "n"}, "nodes": nodes, "links": links}
    (folder / "t.vorn").write_text(json.dumps(doc))
    return str(folder / "t.vorn")


# Nodes, links, and the lines of the report.
REPORTS = [
    # every repeat reported, earlier entries apart
    (nodes("A", "B", "A", "B", "A"), [link("A", "B")], ["Duplicate node ID: A", "Duplicate node ID: B",
     "Duplicate node ID: A", "Graph is disconnected with 4 components"]),
    (nodes("A", "B"), [link("A", "B", "L1", fidelity=1.0000001)],
     ["Invalid fidelity 1.0000001 for link 'L1' (must be 0 < x <= 1)"]),
    # names inserted as they are; an empty id is a name
    (nodes("Ä'", "B"), [link("Ä'", "B", ""), link("Ä'", "Ä'", "it's €"), link("B", "B", "")],
     ["Self-loop detected in link 'it's €'", "Self-loop detected in link ''"]),
    # unknown ends, with and without id, add no edge
    (nodes("A", "B"), [link("Y", "Z", "L1"), link("A", "Z")],
     ["Unknown node reference 'Y' in link 'L1'", "Unknown node reference 'Z' in link 'L1'",
      "Unknown node reference 'Z'", "Graph is disconnected with 2 components"]),
    # every link check runs, in order
    (nodes("A"), [link("Z", "Z", "L9", distance=0, fidelity=0, rate=0)],
     ["Self-loop detected in link 'L9'", "Unknown node reference 'Z' in link 'L9'",
      "Unknown node reference 'Z' in link 'L9'", "Invalid distance 0 km for link 'L9' (must be > 0)",
      "Invalid fidelity 0 for link 'L9' (must be 0 < x <= 1)",
      "Invalid generation rate 0 Hz for link 'L9' (must be > 0)"]),
    # ids, then links in order, then connectivity
    (nodes("A", "B", "A", "C"), [link("A", "B", "first", rate=-1), link("B", "Q", "second", fidelity=2)],
     ["Duplicate node ID: A", "Invalid generation rate -1 Hz for link 'first' (must be > 0)",
      "Unknown node reference 'Q' in link 'second'", "Invalid fidelity 2 for link 'second' (must be 0 < x <= 1)",
      "Graph is disconnected with 3 components"]),
]  # fmt: skip


@pytest.mark.parametrize("nodes, links, lines", REPORTS)
def test_load_and_validate_report_every_finding(tmp_path, nodes, links, lines):
    path = write(tmp_path, nodes, links)
    expected = f"Failed to load {path}: Validation failed:\nValidation failed.\n\nErrors:\n" + "".join(
        f"   - {line}\n" for line in lines
    )
    for call in (vc.load_vorn_file, vc.validate):
        with pytest.raises(RuntimeError) as raised:
            call(path)
        assert str(raised.value) == expected


@pytest.mark.parametrize(
    "nodes, links",
    [
        ([], []),
        (nodes("A"), []),
        # ids are case-sensitive; the bounds themselves
        (nodes("A", "a", ""), [link("A", "a", fidelity=1.0), link("", "a", None, 1e-300, 5e-324, 1e-300)]),
    ],
)
def test_valid_files_load_and_validate(tmp_path, monkeypatch, nodes, links):
    monkeypatch.chdir(tmp_path)
    write(tmp_path, nodes, links)
    assert len(vc.load_vorn_file("./t.vorn").nodes) == len(nodes)
    result = vc.validate("./t.vorn")
    assert result == {"valid": True, "filepath": "./t.vorn", "errors": [], "warnings": []}  # the path as given
    assert list(result) == ["valid", "filepath", "errors", "warnings"]
