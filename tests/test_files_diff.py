"""diff of two .vorn files: the summary text, the six change lists and their order, and load failures."""

import copy
import json
import re

import pytest
import vorn_core as vc

LISTS = ["nodes_added", "nodes_removed", "nodes_modified", "links_added", "links_removed", "links_modified"]


def link(a, b, **fields):
    return {"from": a, "to": b, "distance_km": 10.0, "base_fidelity": 0.9, "generation_rate_hz": 100.0, **fields}


BASE = {
    "version": "1.0",
    "metadata": {"name": "net"},
    "nodes": [{"id": "A", "memory_lifetime_ms": 1000.0}, {"id": "B"}],
    "links": [link("A", "B", id="L1")],
}


def changed(**replacements):
    return dict(copy.deepcopy(BASE), **replacements)


@pytest.fixture
def pair(tmp_path, monkeypatch):
    """Diffs two documents written as a.vorn and b.vorn (None: no file) in the working directory."""
    monkeypatch.chdir(tmp_path)

    def pair(first, second):
        for name, doc in (("a.vorn", first), ("b.vorn", second)):
            if doc is not None:
                (tmp_path / name).write_text(doc if isinstance(doc, str) else json.dumps(doc), encoding="utf-8")
        return vc.diff("a.vorn", "b.vorn")

    return pair


def summary(*lines):
    return "Diff between 'a.vorn' and 'b.vorn':\n" + "".join(line + "\n" for line in lines)


def test_same_content_written_differently_is_identical(pair):
    reordered = (
        '{"links": [{"to": "B", "generation_rate_hz": 1e2, "id": "L1", "base_fidelity": 0.90, '
        '"from": "A", "distance_km": 10, "colour": 1}], "nodes": [{"id": "B", "node_type": null}, '
        '{"memory_lifetime_ms": 1000, "id": "A"}], "metadata": {"name": "net", "author": null}, '
        '"version": "1.0"}'
    )
    result = pair(BASE, reordered)
    assert result == {"summary": summary(), **{name: [] for name in LISTS}}
    assert list(result) == ["summary"] + LISTS


M, C, X, LM = "  Metadata changes:", "  Config changes:", "  Constraints changes:", "  Links modified: 1 (A->B)"
# first, second, and the summary's lines (whose lists of nodes and links the result's lists give)
SINGLE_CHANGES = [
    (BASE, changed(links=[link("B", "A")]), ["  Links added: 1 (B->A)", "  Links removed: 1 (A->B)"]),
    (BASE, changed(links=[link("A", "B", id="L2")]), [LM]),
    (BASE, changed(links=[link("A", "B", id="L1", base_fidelity=0.9000000000000001)]), [LM]),
    (BASE, changed(nodes=[{"id": "A", "memory_lifetime_ms": 1000.0}, {"id": "B", "memory_capacity": 0}]),
        ["  Nodes modified: 1 (B)"]),
    (BASE, changed(metadata={"name": "net", "author": "Ann"}), [M]),
    (BASE, changed(metadata={"name": "net", "description": ""}), [M]),  # an empty description is not an absent one
    (BASE, changed(metadata={"name": "it's"}), [M, "     - name: 'net' -> 'it's'"]),
    (BASE, changed(config={"max_attempts": 20}), [C, "     - alpha_loss: None -> None"]),
    (BASE, changed(constraints={"max_latency_ms": 5}), [X, "     - fidelity_target: None -> None"]),
    (BASE, changed(extensions={}), ["  Extensions changed"]),
    (changed(config={"alpha_loss": 0.2}), changed(config={"alpha_loss": 0.3}),
        [C, "     - alpha_loss: Some(0.2) -> Some(0.3)"]),
    (changed(config={"alpha_loss": 0.5}), BASE, [C, "     - alpha_loss: Some(0.5) -> None"]),
    (changed(constraints={"fidelity_target": 0.9}), changed(constraints={"fidelity_target": 1}),
        [X, "     - fidelity_target: Some(0.9) -> Some(1.0)"]),
    (changed(constraints={"max_latency_ms": 1}), changed(constraints={"max_latency_ms": 2}), [X]),
]  # fmt: skip
LISTED = re.compile(r"  (Nodes|Links) (added|removed|modified): \d+ \((.*)\)")


@pytest.mark.parametrize("first, second, lines", SINGLE_CHANGES)
def test_single_changes(pair, first, second, lines):
    result = pair(first, second)
    assert result["summary"] == summary(*lines)
    listed = {f"{m[1].lower()}_{m[2]}": m[3].split(", ") for m in map(LISTED.fullmatch, lines) if m}
    assert {name: result[name] for name in LISTS} == {name: listed.get(name, []) for name in LISTS}


# The custom value of either file, and whether the diff reports a change.
EXTENSIONS = [
    ('{"custom": {"b": 1, "a": [1, "x"]}}', '{"custom": {"a": [1, "x"], "b": 1}}', False),  # member order
    ('{"custom": {"a": 1, "a": 2}}', '{"custom": {"a": 2}}', False),  # a repeated key keeps the last
    ('{"custom": [1, 2]}', '{"custom": [2, 1]}', True),  # array order
    ('{"custom": 0.5}', '{"custom": 5e-1}', False),  # the same float written differently
    ('{"custom": 1}', '{"custom": 1.0}', True),  # an integer is not a float
    ('{"custom": "x"}', '{"custom": ["x"]}', True),
    ('{"custom": {"x": null}}', '{"custom": {}}', True),  # a null member is a member
    ('{"custom": 1}', "{}", True),
    ('{"custom": null}', "{}", False),  # a null custom value is an absent one
    ('{"other": 1}', '{"other": 2}', False),  # unknown keys are not read
]


@pytest.mark.parametrize("first, second, differ", EXTENSIONS)
def test_extensions_changes(pair, first, second, differ):
    document = '{"version": "1.0", "metadata": {"name": "n"}, "nodes": [], "links": [], "extensions": %s}'
    result = pair(document % first, document % second)
    assert result["summary"] == (summary("  Extensions changed") if differ else summary())


def test_every_section_in_order(pair):
    first = {
        "version": "1.0",
        "metadata": {"name": "old", "author": "Ann"},
        "nodes": [{"id": "A"}, {"id": "B", "memory_capacity": 1}, {"id": "R"}],
        "links": [link("A", "B"), link("B", "R"), link("A", "R", distance_km=5.0)],
        "config": {"alpha_loss": 0.1},
        "constraints": {"fidelity_target": 0.5},
    }
    second = {
        "version": "1.0",
        "metadata": {"name": "new"},
        "nodes": [{"id": "A"}, {"id": "B", "memory_capacity": 2}, {"id": "C"}],
        "links": [link("A", "B", id="x"), link("B", "C"), link("A", "C")],
        "config": {"alpha_loss": 0.1, "max_attempts": 1},
        "constraints": {"fidelity_target": 0.5, "max_latency_ms": 1},
        "extensions": {"custom": 1},
    }
    assert pair(first, second)["summary"] == summary(
        "  Metadata changes:",
        "     - name: 'old' -> 'new'",
        "  Nodes added: 1 (C)",
        "  Nodes removed: 1 (R)",
        "  Nodes modified: 1 (B)",
        "  Links added: 2 (B->C, A->C)",
        "  Links removed: 2 (B->R, A->R)",
        "  Links modified: 1 (A->B)",
        "  Config changes:",
        "  Constraints changes:",
        "  Extensions changed",
    )


def many(ids):
    return {
        "version": "1.0",
        "metadata": {"name": "n"},
        "nodes": [{"id": i} for i in ids],
        "links": [link(ids[0], i) for i in ids[1:]],
    }


def test_lists_follow_the_first_file_then_the_second(pair):
    # Enough ids that an order taken from a hash table would show.
    ids = [f"n{(i * 7919) % 1000:03d}" for i in range(1000)]
    first, second = many(ids[:600]), many(ids[:1] + ids[400:])
    modified = ids[599:400:-3]
    for entry in second["nodes"]:
        if entry["id"] in modified:
            entry["memory_capacity"] = 1
    result = pair(first, second)
    assert result["nodes_removed"] == ids[1:400]
    assert result["nodes_modified"] == [i for i in ids if i in modified]
    assert result["nodes_added"] == ids[600:]
    assert result["links_removed"] == [f"{ids[0]}->{i}" for i in ids[1:400]]
    assert result["links_added"] == [f"{ids[0]}->{i}" for i in ids[600:]]


def test_a_repeated_link_key_keeps_its_first_place_and_its_last_value(pair):
    nodes = [{"id": "A"}, {"id": "B"}, {"id": "C"}]
    first = changed(nodes=nodes, links=[link("A", "B", id="old"), link("B", "C"), link("A", "B", id="new")])
    second = changed(nodes=nodes, links=[link("B", "C", distance_km=1.0), link("A", "B", id="new")])
    assert pair(first, second)["links_modified"] == ["B->C"]
    second["links"][1]["id"] = "changed"
    assert pair(first, second)["links_modified"] == ["A->B", "B->C"]


def test_load_failures_are_an_error_entry(pair):
    assert pair(BASE, None) == {"error": "Failed to load b.vorn: IO error: No such file or directory"}
    # When both fail, the first file's failure is the one reported.
    assert pair(changed(version="1.1"), '{"version": "1.0",}') == {
        "error": "Failed to load a.vorn: Unsupported vorn version: 1.1"
    }
