"""Engine snapshots: the file they write, loading one back, refusals that leave the engine alone, and the diff."""
import json
import os
import resource
import signal

import pytest

import vorn_core as vc
from conftest import ctrl_c_after
from test_files_io import as_another_user

SAVED = """{
  "metadata": {
    "name": "exported_topology",
    "version": "1.0"
  },
  "nodes": [
    {
      "id": "B",
      "memoryLifetimeT2": 3.0
    },
    {
      "id": "A",
      "memoryLifetimeT2": 1.5
    }
  ],
  "links": [
    {
      "fromNode": "A",
      "to": "B",
      "distanceKm": 10.0,
      "baseFidelity": 0.9,
      "generationRateHz": 1000.0,
      "linkType": "Satellite",
      "satelliteConditions": null
    },
    {
      "fromNode": "B",
      "to": "Z",
      "distanceKm": 0.5,
      "baseFidelity": 1e-7,
      "generationRateHz": 1e300,
      "linkType": "Fiber",
      "satelliteConditions": null
    }
  ],
  "config": {
    "alphaLoss": 1.2,
    "gammaSwapping": 0.12
  }
}"""


@pytest.fixture
def engine():
    """B defined twice keeps its first place and its last T2; a satellite link with conditions; a link to nowhere."""
    engine = vc.VornEngine()
    engine.define_network(
        [vc.NodeDefinition("B", 2.0), vc.NodeDefinition("A", 1.5), vc.NodeDefinition("B", 3.0)],
        [vc.LinkDefinition("A", "B", 10, 0.9, 1000, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.8)),
         vc.LinkDefinition("B", "Z", 0.5, 1e-7, 1e300)])
    return engine


def network(engine):
    s = engine.snapshot()
    return ([(n.id, n.memory_lifetime_t2) for n in s.nodes],
            [(l.from_node, l.to, l.distance_km, l.base_fidelity, l.generation_rate_hz, repr(l.link_type),
              l.satellite_conditions) for l in s.links])


def document(links=None, **sections):
    doc = {"metadata": {"name": "n", "version": "9"}, "nodes": [{"id": "A", "memoryLifetimeT2": 2}],
           "links": links if links is not None else [
               {"fromNode": "A", "to": "B", "distanceKm": 1, "baseFidelity": 0.5, "generationRateHz": 3}],
           "config": {"alphaLoss": 7, "gammaSwapping": 8}}
    doc.update(sections)
    return json.dumps(doc)


def test_save_writes_the_network_with_each_link_type_and_the_purify_factor(engine, tmp_path):
    path = tmp_path / "net.json"
    path.write_text("old")
    assert vc.save_topology(engine, str(path)) is None
    assert path.read_text() == SAVED
    again = vc.VornEngine(vc.SimulationConfig(alpha_loss_db_km=0.5))
    vc.load_topology(again, str(path))
    assert network(again) == network(engine)
    assert (again.snapshot().config.alpha_loss, again.snapshot().config.gamma_swapping) == (0.5, 0.05)
    # A file that calls every link Fiber, as older writers did, loads each link as fibre.
    path.write_text(SAVED.replace('"Satellite"', '"Fiber"'))
    vc.load_topology(again, str(path))
    assert [repr(l.link_type) for l in again.snapshot().links] == ["LinkType.Fiber"] * 2


@pytest.mark.parametrize("link, kept", [
    ({}, "LinkType.Fiber"),
    ({"linkType": None, "satelliteConditions": None}, "LinkType.Fiber"),
    ({"linkType": "Satellite", "satelliteConditions": {"visibility": 0.1, "weatherFactor": 0.2}, "extra": [{}]},
     "LinkType.Satellite"),
])
def test_load_takes_nodes_and_links_and_nothing_else(tmp_path, link, kept):
    base = {"fromNode": "A", "to": "B", "distanceKm": 1, "baseFidelity": 0.5, "generationRateHz": 3}
    path = tmp_path / "s.json"
    path.write_text(document([dict(base, **link), base], nodes=[{"id": "A", "memoryLifetimeT2": 2}, {"id": "A",
                                                                "memoryLifetimeT2": 4, "note": 1}], unknown={"x": 1}))
    engine = vc.VornEngine()
    vc.load_topology(engine=engine, filepath=str(path))
    assert network(engine) == ([("A", 4.0)], [("A", "B", 1.0, 0.5, 3.0, kept, None),
                                              ("A", "B", 1.0, 0.5, 3.0, "LinkType.Fiber", None)])
    assert engine.snapshot().config.alpha_loss == 1.2  # the file's config is not the engine's


PARSE = "Failed to parse topology JSON: "
WRONG_TYPES = [  # a field, a value of the wrong type, the type expected
    (["metadata"], [], "an object"), (["metadata", "name"], 1, "a string"), (["metadata", "version"], {}, "a string"),
    (["nodes"], {}, "an array"), (["nodes", 0, "id"], True, "a string"), (["nodes", 0, "memoryLifetimeT2"], "1", "a number"),
    (["links"], "x", "an array"), (["links", 0, "fromNode"], [], "a string"), (["links", 0, "to"], 0, "a string"),
    (["links", 0, "distanceKm"], [], "a number"), (["links", 0, "baseFidelity"], {}, "a number"),
    (["links", 0, "generationRateHz"], False, "a number"), (["links", 0, "linkType"], 1, "a string"),
    (["links", 0, "satelliteConditions"], [], "an object"), (["config"], 1, "an object"),
    (["config", "alphaLoss"], "0.2", "a number"), (["config", "gammaSwapping"], [], "a number"),
]
FOUND = {list: "an array", dict: "an object", str: "a string", bool: "a boolean", int: "a number"}


def with_value(path, value):
    doc = json.loads(document())
    doc["links"][0]["satelliteConditions"] = {"visibility": 1, "weatherFactor": 1}
    at = doc
    for key in path[:-1]:
        at = at[key]
    at[path[-1]] = value
    return json.dumps(doc)


BAD_FILES = [
    pytest.param(lambda tmp, case=case: with_value(*case[:2]),
                 f'{PARSE}Invalid type for "{case[0][-1]}": expected {case[2]}, found {FOUND[type(case[1])]}',
                 id="type of " + ".".join(map(str, case[0]))) for case in WRONG_TYPES
] + [
    pytest.param(lambda tmp: document().replace('"B", ', '"B", "linkType": "fiber", '),
                 PARSE + 'Unknown linkType "fiber", expected one of "Fiber", "Satellite" at line 1 column 143',
                 id="lowercase fiber"),
    pytest.param(lambda tmp: document(config={"alphaLoss": 1}),
                 PARSE + 'Missing required key "gammaSwapping" in config at line 1 column 219', id="missing key"),
    pytest.param(lambda tmp: with_value(["links", 0, "satelliteConditions"], {"visibility": 1}),
                 PARSE + 'Missing required key "weatherFactor" in satelliteConditions', id="missing condition"),
    pytest.param(lambda tmp: with_value(["nodes", 0, "memoryLifetimeT2"], None),
                 PARSE + 'Null is not allowed for required key "memoryLifetimeT2"', id="required null"),
    pytest.param(lambda tmp: document().replace('"version": "9"', '"version": "9", "version": "9"'),
                 PARSE + 'Duplicate key "version" in metadata at line 1 column 44', id="duplicate key"),
    pytest.param(lambda tmp: document() + " {}", PARSE + "The document root must not be followed by other values",
                 id="trailing text"),
    pytest.param(lambda tmp: document()[:-20], PARSE + "Missing a name for object member at line 1 column 221",
                 id="truncated"),
    pytest.param(lambda tmp: document(extra=[[[[[]]]]] * 1).replace("[[[[[]]]]]", "[" * 200 + "]" * 200),
                 PARSE + "Arrays and objects nest more than 128 levels at line 1 column 378", id="deep nesting"),
    pytest.param(lambda tmp: with_value(["config", "alphaLoss"], 0).replace(': 0,', ': 1e400,'),
                 PARSE + "Number too big to be stored in double", id="huge number"),
    pytest.param(lambda tmp: "", PARSE + "The document is empty at line 1 column 1", id="empty"),
    pytest.param(lambda tmp: b'{"metadata": "\xff"}', "Failed to read topology file: file is not valid UTF-8 (byte offset 14)",
                 id="invalid UTF-8"),
    pytest.param(lambda tmp: None, "Failed to read topology file: No such file or directory", id="missing file"),
    pytest.param(lambda tmp: tmp, "Failed to read topology file: Is a directory", id="directory"),
    pytest.param(lambda tmp: os.mkfifo(tmp / "s.json"), "Failed to read topology file: not a regular file", id="FIFO"),
    pytest.param(lambda tmp: str(tmp / "s.json") + "\0", "Failed to read topology file: Invalid argument", id="NUL"),
]


@pytest.mark.parametrize("make, message", BAD_FILES)
def test_a_refused_file_leaves_the_network_as_it_was(engine, tmp_path, make, message):
    made = make(tmp_path)
    path = str(tmp_path / "s.json")
    if isinstance(made, (str, bytes)) and not os.path.isabs(made):
        (tmp_path / "s.json").write_bytes(made if isinstance(made, bytes) else made.encode())
    elif made is not None:
        path = str(made)
    before = network(engine)
    with pytest.raises(RuntimeError) as raised:
        vc.load_topology(engine, path)
    assert str(raised.value).startswith(message)
    assert message.startswith("Failed to read") or " at line " in str(raised.value)
    assert network(engine) == before


def test_ctrl_c_during_a_long_load_leaves_the_network_as_it_was(engine, tmp_path):
    path = tmp_path / "long.json"
    path.write_text(document()[:-1] + ', "filler": [' + "0," * 8_000_000 + "0]}")
    before = network(engine)
    with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.002):
        vc.load_topology(engine, str(path))
    assert network(engine) == before


def write_under_a_file_size_limit(path, engine):
    """A write that runs out of room midway, as on a full disk, in a child process limited to 100 bytes a file."""
    child = os.fork()
    if child == 0:
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))
        try:
            vc.save_topology(engine, path)
            os._exit(0)
        except RuntimeError as error:
            os._exit(3 if str(error) == "Failed to write topology file: File too large" else 4)
    return os.WEXITSTATUS(os.waitpid(child, 0)[1])


class TestSaveFailures:
    def test_without_a_network(self, tmp_path):
        for call in (lambda: vc.save_topology(vc.VornEngine(), str(tmp_path / "s.json")),
                     lambda: vc.VornEngine().snapshot()):
            with pytest.raises(RuntimeError, match="^No network topology to save$"):
                call()
        assert os.listdir(tmp_path) == []

    def test_a_failed_write_leaves_the_old_file_whole(self, engine, tmp_path):
        path = tmp_path / "s.json"
        path.write_text("old" * 1000)
        assert write_under_a_file_size_limit(str(path), engine) == 3
        assert path.read_text() == "old" * 1000 and os.listdir(tmp_path) == ["s.json"]

    @pytest.mark.parametrize("target, message", [
        ("/dev/full", "No space left on device"),
        ("{tmp}", "Is a directory"),
        ("{tmp}/missing/s.json", "No such file or directory"),
        ("{tmp}/s.json\0.bak", "Invalid argument"),
    ])
    def test_the_system_text(self, engine, tmp_path, target, message):
        with pytest.raises(RuntimeError) as raised:
            vc.save_topology(engine, target.format(tmp=tmp_path))
        assert str(raised.value) == "Failed to write topology file: " + message
        assert os.listdir(tmp_path) == []

    def test_a_read_only_directory(self, engine, tmp_path):
        tmp_path.chmod(0o555)
        try:
            assert as_another_user(tmp_path, lambda: vc.save_topology(engine, "s.json")) == \
                "Failed to write topology file: Permission denied"
        finally:
            tmp_path.chmod(0o755)


def snapshot_of(name, nodes, links):
    snapshot = vc.VornEngine()
    snapshot.define_network([], [])
    snapshot = snapshot.snapshot(name)
    snapshot.nodes = [vc.NodeDefinition(*n) for n in nodes]
    snapshot.links = [vc.LinkDefinition(*l) for l in links]
    return snapshot


NAN = float("nan")
SAT = vc.LinkType.Satellite


def test_diff_lists_in_order_with_the_tolerance_and_exact_links():
    first = snapshot_of("a", [("n1", 1.0), ("n2", 1.0), ("n3", 1.0), ("gone", 1.0), ("n4", 0.0), ("nan", NAN),
                              ("n2", 2.0)],
                        [("A", "B", 1, 1, 1), ("B", "A", 1, 1, 1), ("A", "C", 1, 1, 1), ("A", "C", 2, 1, 1),
                         ("X", "Y", NAN, 1, 1), ("S", "T", 1, 1, 1, SAT, vc.SatelliteConditions(0.5))])
    second = snapshot_of("b", [("new", 1.0), ("n3", 1.002), ("n2", 2.0005), ("n1", 1.0), ("n4", 0.001), ("nan", 5.0)],
                         [("S", "T", 1, 1, 1, SAT, vc.SatelliteConditions(0.5)), ("X", "Y", NAN, 1, 1),
                          ("A", "C", 2, 1, 1), ("B", "A", 1, 1, 1, SAT), ("C", "A", 1, 1, 1)])
    diff = vc.diff_topologies(first, second)
    assert diff.name == "a vs b"
    assert (diff.nodes_added, diff.nodes_removed, diff.nodes_modified) == (["new"], ["gone"], ["n3"])
    assert (diff.links_added, diff.links_removed, diff.links_modified) == (["C->A"], ["A->B"], ["B->A", "X->Y"])
    assert diff.summary == ("Diff for 'a vs b': 1 nodes added, 1 nodes removed, 1 nodes modified. "
                            "1 links added, 1 links removed, 2 links modified.")
    second.links = [vc.LinkDefinition("S", "T", 1, 1, 1, SAT, vc.SatelliteConditions(0.5, 0.9))]
    assert vc.diff_topologies(first, second).links_modified == ["S->T"]


def test_diff_of_a_snapshot_with_itself(engine):
    snapshot = engine.snapshot("a", version="2")
    diff = vc.diff_topologies(snapshot2=snapshot, snapshot1=snapshot)
    assert diff.summary == ("Diff for 'a vs a': 0 nodes added, 0 nodes removed, 0 nodes modified. "
                            "0 links added, 0 links removed, 0 links modified.")
    with pytest.raises(TypeError, match="^argument 'snapshot2': 'VornEngine' object cannot be converted to "
                                        "'TopologySnapshot'$"):
        vc.diff_topologies(snapshot, engine)


def test_classes_have_no_constructor_and_copy_on_read(engine):
    snapshot = engine.snapshot()
    diff = vc.diff_topologies(snapshot, snapshot)
    assert (snapshot.metadata.name, snapshot.metadata.version) == ("exported_topology", "1.0")
    snapshot.links.append(None)
    assert len(snapshot.links) == 2
    for value in (snapshot, snapshot.config, snapshot.metadata, diff):
        with pytest.raises(TypeError, match="^No constructor defined$"):
            type(value)()
