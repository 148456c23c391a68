"""Engine snapshots: the file they write, loading one back, refusals that leave the engine alone, and the diff."""

import json
import os

import pytest
import vorn_core as vc
from conftest import ctrl_c_after
from test_files_io import as_another_user


def link(a, b, distance, kind, conditions=None):
    figures = {"distanceKm": distance, "baseFidelity": 0.5, "generationRateHz": 1000.0}
    return {"fromNode": a, "to": b, **figures, "linkType": kind, "satelliteConditions": conditions}


# The layout is json.dumps's with an indent of two; B keeps its first place and its last T2; the satellite link
# stays one, without the conditions the network does not keep; the purify factor 0.12 gives 1.2 and 0.12.
SAVED = json.dumps(
    {
        "metadata": {"name": "exported_topology", "version": "1.0"},
        "nodes": [{"id": "B", "memoryLifetimeT2": 3.0}, {"id": "A", "memoryLifetimeT2": 1.5}],
        "links": [link("A", "B", 10.0, "Satellite"), link("B", "Z", 0.5, "Fiber")],
        "config": {"alphaLoss": 1.2, "gammaSwapping": 0.12},
    },
    indent=2,
    ensure_ascii=False,
)


@pytest.fixture
def engine():
    engine = vc.VornEngine()
    engine.define_network(
        [vc.NodeDefinition("B", 2.0), vc.NodeDefinition("A", 1.5), vc.NodeDefinition("B", 3.0)],
        [
            vc.LinkDefinition("A", "B", 10, 0.5, 1000, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.8)),
            vc.LinkDefinition("B", "Z", 0.5, 0.5, 1000),
        ],
    )
    return engine


def network(engine):
    s = engine.snapshot()
    return (
        [(n.id, n.memory_lifetime_t2) for n in s.nodes],
        [(l.from_node, l.to, l.distance_km, repr(l.link_type), l.satellite_conditions) for l in s.links],
    )


def test_save_and_load_keep_the_network(engine, tmp_path):
    path = tmp_path / "net.json"
    path.write_text("old")
    assert vc.save_topology(engine, str(path)) is None
    assert path.read_text() == SAVED
    again = vc.VornEngine(vc.SimulationConfig(alpha_loss_db_km=0.5))
    vc.load_topology(engine=again, filepath=str(path))
    assert network(again) == network(engine)
    assert (again.snapshot().config.alpha_loss, again.snapshot().config.gamma_swapping) == (0.5, 0.05)


def document(**changes):
    doc = {
        "metadata": {"name": "n", "version": "9"},
        "nodes": [{"id": "A", "memoryLifetimeT2": 2}],
        "links": [link("A", "B", 1, "Fiber", {"visibility": 1, "weatherFactor": 1})],
        "config": {"alphaLoss": 7, "gammaSwapping": 8},
    }
    for path, value in changes.items():
        *parents, last = [int(k) if k.isdigit() else k for k in path.split("__")]
        at = doc
        for key in parents:
            at = at[key]
        if value is ...:
            del at[last]
        else:
            at[last] = value
    return json.dumps(doc)


@pytest.mark.parametrize(
    "changes, kept",
    [
        ({"links__0__linkType": None, "links__0__satelliteConditions": None}, "LinkType.Fiber"),
        ({"links__0__linkType": "Satellite", "links__0__extra": [{}], "unknown": 1}, "LinkType.Satellite"),
    ],
)
def test_load_takes_nodes_and_links_only(tmp_path, changes, kept):
    path = tmp_path / "s.json"
    path.write_text(document(nodes=[{"id": "A", "memoryLifetimeT2": 2}, {"id": "A", "memoryLifetimeT2": 4}], **changes))
    engine = vc.VornEngine()
    vc.load_topology(engine, str(path))
    assert network(engine) == ([("A", 4.0)], [("A", "B", 1.0, kept, None)])
    assert engine.snapshot().config.alpha_loss == 1.2  # the file's config is not the engine's


PARSE = "Failed to parse topology JSON: "
FOUND = {list: "an array", dict: "an object", str: "a string", bool: "a boolean", int: "a number"}
WRONG_TYPES = [  # a field, a value of another type, the type expected: each kind of field, each type found
    ("metadata", [], "an object"),
    ("nodes", {}, "an array"),
    ("nodes__0__id", True, "a string"),
    ("nodes__0__memoryLifetimeT2", "1", "a number"),
    ("links__0__linkType", 1, "a string"),
    ("links__0__satelliteConditions", [], "an object"),
    ("links__0__satelliteConditions__weatherFactor", "1", "a number"),
]


def refused(engine, path, message):
    before = network(engine)
    with pytest.raises(RuntimeError) as raised:
        vc.load_topology(engine, path)
    assert str(raised.value).startswith(message)
    assert network(engine) == before


REFUSED = [
    (document(links__0__linkType="fiber"),
     'Unknown linkType "fiber", expected one of "Fiber", "Satellite" at line 1 column 209'),
    (document(config__gammaSwapping=...), 'Missing required key "gammaSwapping" in config at line 1 column 307'),
    (document(links__0__satelliteConditions={"visibility": 1}),
     'Missing required key "weatherFactor" in satelliteConditions at line 1 column 257'),
    (document(nodes__0__memoryLifetimeT2=None), 'Null is not allowed for required key "memoryLifetimeT2" at'),
    (document().replace('"9"', '"9", "version": "9"'), 'Duplicate key "version" in metadata at line 1 column 44'),
    (document() + " {}", "The document root must not be followed by other values at line 1 column 330"),
]  # fmt: skip


@pytest.mark.parametrize(
    "text, message",
    [
        (document(**{path: value}), f'{PARSE}Invalid type for "{path.split("__")[-1]}": expected {expected}, '
         f"found {FOUND[type(value)]} at line 1 column ")
        for path, value, expected in WRONG_TYPES
    ]
    + [(text, PARSE + message) for text, message in REFUSED]
    + [(b'{"metadata": "\xff"}', "Failed to read topology file: file is not valid UTF-8 (byte offset 14)")],
)  # fmt: skip
def test_a_refused_file_leaves_the_network_as_it_was(engine, tmp_path, text, message):
    path = tmp_path / "s.json"
    path.write_bytes(text if isinstance(text, bytes) else text.encode())
    refused(engine, str(path), message)


@pytest.mark.parametrize(
    "path, message",
    [("missing.json", "No such file or directory"), (".", "Is a directory"), ("fifo", "not a regular file"),
     ("s.json\0", "Invalid argument")],
)  # fmt: skip
def test_an_unreadable_path_leaves_the_network_as_it_was(engine, tmp_path, monkeypatch, path, message):
    monkeypatch.chdir(tmp_path)
    os.mkfifo("fifo")
    (tmp_path / "s.json").write_text(document())
    refused(engine, path, "Failed to read topology file: " + message)


def test_ctrl_c_during_a_long_load_leaves_the_network_as_it_was(engine, tmp_path):
    (tmp_path / "long.json").write_text(document()[:-1] + ', "filler": [' + "0," * 8_000_000 + "0]}")
    before = network(engine)
    with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.002):
        vc.load_topology(engine, str(tmp_path / "long.json"))
    assert network(engine) == before


WRITE = "Failed to write topology file: "


@pytest.mark.parametrize(
    "save, message",
    [
        (lambda engine, tmp: vc.save_topology(vc.VornEngine(), str(tmp / "s.json")), "No network topology to save"),
        (lambda engine, tmp: vc.VornEngine().snapshot(), "No network topology to save"),
        (lambda engine, tmp: vc.save_topology(engine, "/dev/full"), WRITE + "No space left on device"),
        (lambda engine, tmp: vc.save_topology(engine, str(tmp)), WRITE + "Is a directory"),
        (lambda engine, tmp: vc.save_topology(engine, str(tmp / "a" / "s.json")), WRITE + "No such file or directory"),
        (lambda engine, tmp: vc.save_topology(engine, str(tmp / "s.json\0")), WRITE + "Invalid argument"),
    ],
)
def test_a_failed_save_writes_nothing(engine, tmp_path, save, message):
    with pytest.raises(RuntimeError) as raised:
        save(engine, tmp_path)
    assert str(raised.value) == message
    assert os.listdir(tmp_path) == []


def test_a_save_refused_by_the_directory_writes_nothing(engine, tmp_path):
    tmp_path.chmod(0o555)
    try:
        assert as_another_user(tmp_path, lambda: vc.save_topology(engine, "new.json")) == WRITE + "Permission denied"
    finally:
        tmp_path.chmod(0o755)
    assert os.listdir(tmp_path) == []


def snapshot_of(engine, name, nodes, links):  # with nodes and links as given, repeats too
    snapshot = engine.snapshot(name)
    snapshot.nodes, snapshot.links = [vc.NodeDefinition(*n) for n in nodes], [vc.LinkDefinition(*l) for l in links]
    return snapshot


NAN, SAT = float("nan"), vc.LinkType.Satellite


def test_diff_lists_in_order_with_the_tolerance_and_exact_links(engine):
    first = snapshot_of(
        engine,
        "a",
        [("n1", 1.0), ("n2", 1.0), ("n3", 1.0), ("gone", 1.0), ("n4", 0.0), ("nan", NAN), ("n2", 2.0)],
        [("A", "B", 1, 1, 1), ("B", "A", 1, 1, 1), ("A", "C", 1, 1, 1), ("A", "C", 2, 1, 1), ("X", "Y", NAN, 1, 1),
         ("S", "T", 1, 1, 1, SAT, vc.SatelliteConditions(0.5))],
    )  # fmt: skip
    second = snapshot_of(
        engine,
        "b",
        [("new", 1.0), ("n3", 1.002), ("n2", 2.0005), ("n1", 1.0), ("n4", 0.001), ("nan", 5.0)],
        [("S", "T", 1, 1, 1, SAT, vc.SatelliteConditions(0.5)), ("X", "Y", NAN, 1, 1), ("A", "C", 2, 1, 1),
         ("B", "A", 1, 1, 1, SAT), ("C", "A", 1, 1, 1)],
    )  # fmt: skip
    diff = vc.diff_topologies(first, second)
    assert diff.name == "a vs b"
    assert (diff.nodes_added, diff.nodes_removed, diff.nodes_modified) == (["new"], ["gone"], ["n3"])
    assert (diff.links_added, diff.links_removed, diff.links_modified) == (["C->A"], ["A->B"], ["B->A", "X->Y"])
    assert diff.summary == (
        "Diff for 'a vs b': 1 nodes added, 1 nodes removed, 1 nodes modified. "
        "1 links added, 1 links removed, 2 links modified."
    )
    second.links = [vc.LinkDefinition("S", "T", 1, 1, 1, SAT, vc.SatelliteConditions(0.5, 0.9))]
    assert vc.diff_topologies(first, second).links_modified == ["S->T"]


def test_a_named_snapshot_and_a_diff_by_keyword(engine):  # neither can be constructed: test_records_travel.py
    snapshot = engine.snapshot("a", version="2")
    assert (snapshot.metadata.name, snapshot.metadata.version) == ("a", "2")
    diff = vc.diff_topologies(snapshot2=snapshot, snapshot1=snapshot)
    assert diff.name == "a vs a" and diff.summary.endswith("0 links added, 0 links removed, 0 links modified.")
