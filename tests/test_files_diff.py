"""diff of two .vorn files: the summary text, the six change lists and their order, and load failures."""
import copy
import json

import pytest

import vorn_core as vc

LISTS = ["nodes_added", "nodes_removed", "nodes_modified", "links_added", "links_removed", "links_modified"]


def link(a, b, **fields):
    value = {"from": a, "to": b, "distance_km": 10.0, "base_fidelity": 0.9, "generation_rate_hz": 100.0}
    value.update(fields)
    return value


BASE = {
    "version": "1.0",
    "metadata": {"name": "net"},
    "nodes": [{"id": "A", "memory_lifetime_ms": 1000.0}, {"id": "B"}],
    "links": [link("A", "B", id="L1")],
}


def changed(**replacements):
    doc = copy.deepcopy(BASE)
    doc.update(replacements)
    return doc


@pytest.fixture
def pair(tmp_path, monkeypatch):
    """Writes two documents as a.vorn and b.vorn in the working directory and diffs them by relative path."""
    monkeypatch.chdir(tmp_path)

    def pair(first, second):
        for name, doc in (("a.vorn", first), ("b.vorn", second)):
            with open(name, "w", encoding="utf-8") as handle:
                handle.write(doc if isinstance(doc, str) else json.dumps(doc))
        return vc.diff("a.vorn", "b.vorn")

    return pair


def summary(*lines):
    return "Diff between 'a.vorn' and 'b.vorn':\n" + "".join(line + "\n" for line in lines)


def test_identical_files(pair):
    result = pair(BASE, BASE)
    assert result == {"summary": summary(), **{name: [] for name in LISTS}}
    assert list(result) == ["summary"] + LISTS


def test_same_content_written_differently_is_identical(pair):
    reordered = ('{"links": [{"to": "B", "generation_rate_hz": 1e2, "id": "L1", "base_fidelity": 0.90, '
                 '"from": "A", "distance_km": 10, "colour": 1}], "nodes": [{"memory_lifetime_ms": 1000, "id": "A"}, '
                 '{"id": "B", "node_type": null}], "metadata": {"name": "net", "author": null}, "version": "1.0"}')
    assert pair(BASE, reordered)["summary"] == summary()


@pytest.mark.parametrize(
    "second, lines, lists",
    [
        pytest.param(changed(nodes=BASE["nodes"] + [{"id": "C"}], links=BASE["links"] + [link("A", "C"), link("C", "B")]),
                     ["  Nodes added: 1 (C)", "  Links added: 2 (A->C, C->B)"],
                     {"nodes_added": ["C"], "links_added": ["A->C", "C->B"]}, id="added node with its links"),
        pytest.param(changed(links=[link("B", "A", id="L1")]), ["  Links added: 1 (B->A)", "  Links removed: 1 (A->B)"],
                     {"links_added": ["B->A"], "links_removed": ["A->B"]}, id="reversed link"),
        pytest.param(changed(links=[link("A", "B", id="L2")]), ["  Links modified: 1 (A->B)"],
                     {"links_modified": ["A->B"]}, id="only the link id"),
        pytest.param(changed(links=[link("A", "B")]), ["  Links modified: 1 (A->B)"],
                     {"links_modified": ["A->B"]}, id="link id removed"),
        pytest.param(changed(links=[link("A", "B", id="L1", base_fidelity=0.9000000000000001)]),
                     ["  Links modified: 1 (A->B)"], {"links_modified": ["A->B"]}, id="one ulp of fidelity"),
        pytest.param(changed(links=[link("A", "B", id="L1", link_type="fiber")]), ["  Links modified: 1 (A->B)"],
                     {"links_modified": ["A->B"]}, id="link type made explicit"),
        pytest.param(changed(links=[link("A", "B", id="L1", satellite={"visibility": 1.0, "weather_factor": 1.0})]),
                     ["  Links modified: 1 (A->B)"], {"links_modified": ["A->B"]}, id="satellite added"),
        pytest.param(changed(nodes=[{"id": "A", "memory_lifetime_ms": 1000.0000001}, {"id": "B"}]),
                     ["  Nodes modified: 1 (A)"], {"nodes_modified": ["A"]}, id="tiny lifetime change"),
        pytest.param(changed(nodes=[{"id": "A", "memory_lifetime_ms": 1000.0}, {"id": "B", "memory_capacity": 0}]),
                     ["  Nodes modified: 1 (B)"], {"nodes_modified": ["B"]}, id="capacity added"),
        pytest.param(changed(nodes=[{"id": "A", "memory_lifetime_ms": 1000.0}, {"id": "B", "node_type": "ground"}]),
                     ["  Nodes modified: 1 (B)"], {"nodes_modified": ["B"]}, id="node type added"),
        pytest.param(changed(nodes=[{"id": "B"}, {"id": "A", "memory_lifetime_ms": 1000.0}]), [], {},
                     id="node order does not matter"),
        pytest.param(changed(metadata={"name": "net", "author": "Ann"}), ["  Metadata changes:"], {},
                     id="author only"),
        pytest.param(changed(metadata={"name": "net", "created_at": "today"}), ["  Metadata changes:"], {},
                     id="created_at only"),
        pytest.param(changed(metadata={"name": "net", "description": ""}), ["  Metadata changes:"], {},
                     id="empty description differs from none"),
        pytest.param(changed(metadata={"name": "it's", "author": "Ann"}),
                     ["  Metadata changes:", "     - name: 'net' -> 'it's'"], {}, id="name and author"),
        pytest.param(changed(config={"max_attempts": 20}), ["  Config changes:", "     - alpha_loss: None -> None"], {},
                     id="config added"),
        pytest.param(changed(config={}), ["  Config changes:", "     - alpha_loss: None -> None"], {},
                     id="empty config added"),
        pytest.param(changed(config={"alpha_loss": 2}), ["  Config changes:", "     - alpha_loss: None -> Some(2.0)"],
                     {}, id="config with alpha added"),
        pytest.param(changed(constraints={"max_latency_ms": 5}),
                     ["  Constraints changes:", "     - fidelity_target: None -> None"], {}, id="constraints added"),
        pytest.param(changed(constraints={"fidelity_target": 1e-5}),
                     ["  Constraints changes:", "     - fidelity_target: None -> Some(1e-5)"], {},
                     id="constraints with target added"),
        pytest.param(changed(extensions={}), ["  Extensions changed"], {}, id="extensions added"),
        pytest.param(changed(extensions={"custom": None}), ["  Extensions changed"], {},
                     id="extensions with null custom added"),
    ],
)
def test_single_changes(pair, second, lines, lists):
    result = pair(BASE, second)
    assert result["summary"] == summary(*lines)
    assert {name: result[name] for name in LISTS} == {name: lists.get(name, []) for name in LISTS}


@pytest.mark.parametrize(
    "first, second, lines",
    [
        pytest.param({"alpha_loss": 0.2}, {"alpha_loss": 0.3}, ["     - alpha_loss: Some(0.2) -> Some(0.3)"],
                     id="alpha changed"),
        pytest.param({"alpha_loss": 1, "max_attempts": 3}, {"max_attempts": 3},
                     ["     - alpha_loss: Some(1.0) -> None"], id="alpha dropped"),
        pytest.param({"alpha_loss": 0.2, "beta_fidelity_decay": 1}, {"alpha_loss": 0.2, "beta_fidelity_decay": 2}, [],
                     id="only beta changed"),
        pytest.param({"max_attempts": 3}, {"max_attempts": 4}, [], id="only max_attempts changed"),
        pytest.param({"gamma_swapping": 1}, {}, [], id="gamma dropped"),
        pytest.param({"alpha_loss": 0.5}, None, ["     - alpha_loss: Some(0.5) -> None"], id="config removed"),
    ],
)
def test_config_changes(pair, first, second, lines):
    a = changed(config=first)
    b = changed(config=second) if second is not None else BASE
    assert pair(a, b)["summary"] == summary("  Config changes:", *lines)


@pytest.mark.parametrize(
    "first, second, lines",
    [
        pytest.param({"fidelity_target": 0.9}, {"fidelity_target": 1}, ["     - fidelity_target: Some(0.9) -> Some(1.0)"],
                     id="target changed"),
        pytest.param({"max_latency_ms": 1}, {"max_latency_ms": 2}, [], id="only latency changed"),
        pytest.param({"fidelity_target": 0.8}, None, ["     - fidelity_target: Some(0.8) -> None"],
                     id="constraints removed"),
    ],
)
def test_constraints_changes(pair, first, second, lines):
    a = changed(constraints=first)
    b = changed(constraints=second) if second is not None else BASE
    assert pair(a, b)["summary"] == summary("  Constraints changes:", *lines)


@pytest.mark.parametrize(
    "first, second, differ",
    [
        pytest.param('{"custom": {"b": 1, "a": [1, "x"]}}', '{"custom": {"a": [1, "x"], "b": 1}}', False,
                     id="member order is not a change"),
        pytest.param('{"custom": {"a": 1, "a": 2}}', '{"custom": {"a": 2}}', False, id="a repeated key keeps the last"),
        pytest.param('{"custom": [1, 2]}', '{"custom": [2, 1]}', True, id="array order is a change"),
        pytest.param('{"custom": 1}', '{"custom": 2}', True, id="number changed"),
        pytest.param('{"custom": 0.5}', '{"custom": 5e-1}', False, id="same float written differently"),
        pytest.param('{"custom": "x"}', '{"custom": ["x"]}', True, id="structure changed"),
        pytest.param('{"custom": {"x": null}}', '{"custom": {}}', True, id="null member is a member"),
        pytest.param('{"custom": 1}', "{}", True, id="custom removed"),
        pytest.param('{"custom": null}', "{}", False, id="null custom is absent"),
        pytest.param('{"other": 1}', '{"other": 2}', False, id="unknown keys are not read"),
        pytest.param('{"custom": 9223372036854775807}', '{"custom": 9223372036854775807}', False, id="largest int64"),
        pytest.param('{"custom": 18446744073709551615}', '{"custom": 18446744073709551614}', True,
                     id="large uint64"),
        pytest.param('{"custom": -9223372036854775808}', '{"custom": -9223372036854775807}', True,
                     id="smallest int64"),
    ],
)
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
        "links": [link("A", "B"), link("B", "C"), link("A", "C")],
        "config": {"alpha_loss": 0.1, "max_attempts": 1},
        "constraints": {"fidelity_target": 0.5, "max_latency_ms": 1},
        "extensions": {"custom": 1},
    }
    result = pair(first, second)
    assert result["summary"] == summary(
        "  Metadata changes:",
        "     - name: 'old' -> 'new'",
        "  Nodes added: 1 (C)",
        "  Nodes removed: 1 (R)",
        "  Nodes modified: 1 (B)",
        "  Links added: 2 (B->C, A->C)",
        "  Links removed: 2 (B->R, A->R)",
        "  Config changes:",
        "  Constraints changes:",
        "  Extensions changed",
    )


def many(ids):
    return {"version": "1.0", "metadata": {"name": "n"}, "nodes": [{"id": i} for i in ids],
            "links": [link(ids[0], i) for i in ids[1:]]}


def test_lists_follow_the_first_file_then_the_second(pair):
    first = many(["K", "Z", "M", "A", "Q", "B"])
    second = many(["K", "X", "B", "C", "M", "Y"])
    second["nodes"][4]["memory_capacity"] = 3  # M
    second["nodes"][2]["memory_capacity"] = 3  # B
    result = pair(first, second)
    assert result["nodes_removed"] == ["Z", "A", "Q"]
    assert result["nodes_modified"] == ["M", "B"]
    assert result["nodes_added"] == ["X", "C", "Y"]
    assert result["links_removed"] == ["K->Z", "K->A", "K->Q"]
    assert result["links_added"] == ["K->X", "K->C", "K->Y"]
    assert result["summary"] == summary(
        "  Nodes added: 3 (X, C, Y)", "  Nodes removed: 3 (Z, A, Q)", "  Nodes modified: 2 (M, B)",
        "  Links added: 3 (K->X, K->C, K->Y)", "  Links removed: 3 (K->Z, K->A, K->Q)")


def test_order_is_the_same_on_every_run(tmp_path):
    ids = [f"n{(i * 7919) % 1000:03d}" for i in range(1000)]
    first, second = many(ids[:600]), many(ids[:1] + ids[400:])
    paths = []
    for name, doc in (("a.vorn", first), ("b.vorn", second)):
        (tmp_path / name).write_text(json.dumps(doc))
        paths.append(str(tmp_path / name))
    results = [vc.diff(*paths) for _ in range(3)]
    assert results[0] == results[1] == results[2]
    assert results[0]["nodes_removed"] == ids[1:400]
    assert results[0]["nodes_added"] == ids[600:]


def test_a_repeated_link_key_keeps_its_first_place_and_its_last_value(pair):
    first = changed(nodes=[{"id": "A"}, {"id": "B"}, {"id": "C"}],
                    links=[link("A", "B", id="old"), link("B", "C"), link("A", "B", id="new")])
    second = changed(nodes=[{"id": "A"}, {"id": "B"}, {"id": "C"}],
                     links=[link("B", "C", distance_km=1.0), link("A", "B", id="new")])
    result = pair(first, second)
    assert result["links_modified"] == ["B->C"]
    third = copy.deepcopy(second)
    third["links"][1]["id"] = "changed"
    assert pair(first, third)["links_modified"] == ["A->B", "B->C"]


@pytest.mark.parametrize(
    "first, second, message",
    [
        pytest.param(None, BASE, "Failed to load a.vorn: IO error: No such file or directory", id="first missing"),
        pytest.param(BASE, None, "Failed to load b.vorn: IO error: No such file or directory", id="second missing"),
        pytest.param(None, None, "Failed to load a.vorn: IO error: No such file or directory", id="both missing"),
        pytest.param(changed(version="1.1"), "", "Failed to load a.vorn: Unsupported vorn version: 1.1",
                     id="first wins"),
        pytest.param(BASE, changed(nodes=[{"id": "A"}]),
                     "Failed to load b.vorn: Validation failed:\nValidation failed.\n\nErrors:\n"
                     "   - Unknown node reference 'B' in link 'L1'\n", id="second invalid"),
        pytest.param(BASE, '{"version": "1.0",}',
                     "Failed to load b.vorn: JSON parse error: Missing a name for object member at line 1 column 19",
                     id="second not JSON"),
    ],
)
def test_load_failures_are_an_error_entry(tmp_path, monkeypatch, first, second, message):
    monkeypatch.chdir(tmp_path)
    for name, doc in (("a.vorn", first), ("b.vorn", second)):
        if doc is not None:
            (tmp_path / name).write_text(doc if isinstance(doc, str) else json.dumps(doc))
    assert vc.diff("a.vorn", "b.vorn") == {"error": message}


def test_paths_are_shown_as_given(tmp_path):
    path = tmp_path / "x y's.vorn"
    path.write_text(json.dumps(BASE))
    result = vc.diff(str(path), str(path))
    assert result["summary"] == f"Diff between '{path}' and '{path}':\n"
