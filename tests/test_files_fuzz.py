"""Generated .vorn documents and engine snapshots: damaged ones load or fail cleanly, valid ones survive load and
save unchanged. Few examples by default (the suite also runs sanitized); VORN_FUZZ_EXAMPLES=5000 hunts longer."""

import json
import math
import os
import re

import pytest
import vorn_core as vc
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

EXAMPLES = int(os.environ.get("VORN_FUZZ_EXAMPLES", "200"))
FUZZ = settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])

FAILURE_KINDS = ("IO error: ", "JSON parse error: ", "Unsupported vorn version: ", "Validation failed:\n")
POSITION = re.compile(r" at line (\d+) column (\d+)$")


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    return tmp_path_factory.mktemp("vorn-fuzz")


def write(folder, data, name="doc.vorn"):
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode("utf-8"))
    return str(folder / name)


characters = st.characters(blacklist_categories=("Cs",))
texts = st.text(characters, max_size=6)
ids = st.one_of(st.sampled_from(["A", "B", "C", "é", "", '"', "\\", "\0", "𝄞"]), texts)
any_float = st.floats(allow_nan=False, allow_infinity=False)
positive = st.floats(min_value=5e-324, max_value=1.7976931348623157e308)
u32 = st.integers(0, 2**32 - 1)
json_values = st.recursive(
    st.one_of(st.none(), st.booleans(), st.integers(-(2**70), 2**70), any_float, texts),
    lambda inner: st.one_of(st.lists(inner, max_size=3), st.dictionaries(texts, inner, max_size=3)),
    max_leaves=8,
)


@st.composite
def record(draw, required, optional):
    """Required keys, then each optional key left out, null or drawn; maybe an unknown key; in any order."""
    value = {key: draw(strategy) for key, strategy in required.items()}
    for key, strategy in optional.items():
        chosen = draw(st.one_of(st.just(...), st.none(), strategy))
        if chosen is not ...:
            value[key] = chosen
    if draw(st.booleans()):
        value[draw(st.sampled_from(["src", "x", "Id"]))] = draw(json_values)
    return {key: value[key] for key in draw(st.permutations(list(value)))}


def node_records(id_strategy):
    return record(
        {"id": id_strategy},
        {
            "memory_lifetime_ms": any_float,
            "memory_capacity": u32,
            "node_type": st.sampled_from(["ground", "satellite", "repeater"]),
        },
    )


def link_records(a, b, distance=any_float, fidelity=any_float, rate=any_float):
    return record(
        {"from": a, "to": b, "distance_km": distance, "base_fidelity": fidelity, "generation_rate_hz": rate},
        {
            "id": ids,
            "link_type": st.sampled_from(["fiber", "satellite"]),
            "satellite": record({"visibility": any_float, "weather_factor": any_float}, {}),
        },
    )


@st.composite
def documents(draw, valid):
    """valid: a connected network with values in range. Otherwise ids may repeat, links may point anywhere and
    values may be out of range."""
    if valid:
        node_ids = draw(st.lists(ids, max_size=7, unique=True))
        nodes = [draw(node_records(st.just(i))) for i in node_ids]
        ends = [(node_ids[draw(st.integers(0, i - 1))], node_ids[i]) for i in range(1, len(node_ids))]  # a tree
        if len(node_ids) >= 2:
            ends += [tuple(draw(st.permutations(node_ids))[:2]) for _ in range(draw(st.integers(0, 3)))]
        fidelity = st.floats(min_value=5e-324, max_value=1.0)
        links = [
            draw(link_records(st.just(a), st.just(b), positive, fidelity, positive))
            for a, b in draw(st.permutations([e if draw(st.booleans()) else e[::-1] for e in ends]))
        ]
        version = "1.0"
    else:
        nodes = draw(st.lists(node_records(ids), max_size=5))
        links = draw(st.lists(link_records(ids, ids), max_size=5))
        version = draw(st.sampled_from(["1.0", "1.0", "2.0", ""]))
    doc = {
        "version": version,
        "metadata": draw(record({"name": texts}, {"description": texts, "author": texts, "created_at": texts})),
        "nodes": nodes,
        "links": links,
    }
    if draw(st.booleans()):
        figures = ("alpha_loss", "beta_fidelity_decay", "gamma_swapping")
        doc["config"] = draw(record({}, {**dict.fromkeys(figures, any_float), "max_attempts": u32}))
    if draw(st.booleans()):
        doc["constraints"] = draw(record({}, {"fidelity_target": any_float, "max_latency_ms": any_float}))
    if draw(st.booleans()):
        doc["extensions"] = draw(record({}, {"custom": json_values}))
    return doc


@st.composite
def layouts(draw, doc):
    return json.dumps(
        doc,
        indent=draw(st.sampled_from([None, 0, 2, "\t"])),
        separators=draw(st.sampled_from([(",", ":"), (", ", ": "), (" ,\n", " :\t")])),
        ensure_ascii=draw(st.booleans()),
    )


TOKENS = [
    b"null", b"true", b"1e400", b"-0", b"4294967296", b"4.0", b"-1", b'"\\ud800"', b'"\\udc00"', b",", b":", b"{", b"}",
    b"[", b"]", b'"', b"\\", b"\0", b"\xef\xbb\xbf", b"\xff", b"\xed\xa0\x80", b'"Ground"', b'"1.0"', b'"id"', b"NaN",
    b"\n", b"\r\n", b"1" * 40, b"1e-400", b'"fiber"', b'"Satellite"',
]  # fmt: skip


@st.composite
def damaged(draw, docs):
    data = bytearray(draw(layouts(draw(docs))).encode("utf-8"))
    for _ in range(draw(st.integers(0, 3))):
        at = draw(st.integers(0, len(data)))
        kind = draw(st.sampled_from(["flip", "truncate", "insert", "token", "delete", "repeat", "nest"]))
        if kind == "flip" and at < len(data):
            data[at] ^= 1 << draw(st.integers(0, 7))
        elif kind == "truncate":
            del data[at:]
        elif kind == "insert":
            data[at:at] = draw(
                st.binary(min_size=1, max_size=6) | st.text(characters, min_size=1, max_size=4).map(str.encode)
            )
        elif kind == "token":
            data[at:at] = draw(st.sampled_from(TOKENS))
        elif kind == "delete":
            del data[at : at + draw(st.integers(1, 12))]
        elif kind == "repeat":
            data[at:at] = data[at : at + draw(st.integers(1, 40))]
        elif kind == "nest":
            depth = draw(st.integers(120, 140))
            opener, closer = draw(st.sampled_from([(b"[", b"]"), (b'{"k":', b"}")]))
            data[at:at] = opener * depth + (b"" if opener == b"[" else b"0") + closer * depth * draw(st.integers(0, 1))
    return bytes(data)


def refuse(constant):
    raise ValueError(f"{constant} is not JSON")


def check_position(detail, data):
    found = POSITION.search(detail)
    assert found, detail
    line, column = int(found.group(1)), int(found.group(2))
    lines = data.decode("utf-8").split("\n")
    assert 1 <= line <= len(lines) and 1 <= column <= len(lines[line - 1]) + 1


@FUZZ
@given(data=st.one_of(damaged(st.booleans().flatmap(documents)), st.binary(max_size=64)))
def test_documents_load_or_fail_cleanly(folder, data):
    path = write(folder, data)
    try:
        loaded = vc.load_vorn_file(path)
    except RuntimeError as error:
        detail = str(error).removeprefix(f"Failed to load {path}: ")
        assert detail.startswith(FAILURE_KINDS), detail  # and so the prefix was there
        event(POSITION.sub("", detail)[:40])
        if detail.startswith("JSON parse error: "):
            check_position(detail, data)
        return
    event("loaded")
    # Whatever loads is JSON, and the standard library reads the same values from it.
    doc = json.loads(data.decode("utf-8"), parse_constant=refuse)
    assert loaded.version == doc["version"] == "1.0"
    assert loaded.metadata.name == doc["metadata"]["name"]
    assert [(n.id, n.memory_capacity) for n in loaded.nodes] == [
        (n["id"], n.get("memory_capacity")) for n in doc["nodes"]
    ]
    assert [(l.src, l.to, l.distance_km, l.base_fidelity, l.generation_rate_hz) for l in loaded.links] == [
        (l["from"], l["to"], float(l["distance_km"]), float(l["base_fidelity"]), float(l["generation_rate_hz"]))
        for l in doc["links"]
    ]


def fields(f):
    """Every value a file holds; floats with their sign, so that -0.0 differs from 0.0."""

    def values(record, names):
        if record is None:
            return None
        found = (getattr(record, name) for name in names.split())
        return tuple((v, math.copysign(1.0, v)) if isinstance(v, float) else v for v in found)

    return (
        f.version,
        values(f.metadata, "name description author created_at"),
        [values(n, "id memory_lifetime_ms memory_capacity") + (repr(n.node_type),) for n in f.nodes],
        [
            values(l, "id src to distance_km base_fidelity generation_rate_hz")
            + (repr(l.link_type), values(l.satellite, "visibility weather_factor"))
            for l in f.links
        ],
        values(f.config, "alpha_loss beta_fidelity_decay gamma_swapping max_attempts"),
        values(f.constraints, "fidelity_target max_latency_ms"),
    )


@FUZZ
@given(st.data())
def test_valid_documents_survive_load_and_save(folder, data):
    doc = data.draw(documents(True))
    first = vc.load_vorn_file(write(folder, data.draw(layouts(doc)), "source.vorn"))
    assert [(l.id, l.distance_km) for l in first.links] == [(l.get("id") or "", l["distance_km"]) for l in doc["links"]]
    assert [n.memory_lifetime_ms for n in first.nodes] == [n.get("memory_lifetime_ms") for n in doc["nodes"]]

    first.save(str(folder / "saved.vorn"))
    second = vc.load_vorn_file(str(folder / "saved.vorn"))
    assert fields(second) == fields(first)
    second.save(str(folder / "again.vorn"))
    text = (folder / "saved.vorn").read_bytes()
    assert (folder / "again.vorn").read_bytes() == text
    assert list(json.loads(text)) == [
        k for k in ("version", "metadata", "nodes", "links", "config", "constraints") if k in doc
    ]


def snapshot_documents():
    conditions = record({"visibility": any_float, "weatherFactor": any_float}, {})
    node = record({"id": ids, "memoryLifetimeT2": any_float}, {})
    link = record(
        {"fromNode": ids, "to": ids, "distanceKm": any_float, "baseFidelity": any_float, "generationRateHz": any_float},
        {"linkType": st.sampled_from(["Fiber", "Satellite"]), "satelliteConditions": conditions},
    )
    return record(
        {
            "metadata": record({"name": texts, "version": texts}, {}),
            "nodes": st.lists(node, max_size=6),
            "links": st.lists(link, max_size=6),
            "config": record({"alphaLoss": any_float, "gammaSwapping": any_float}, {}),
        },
        {},
    )


def engine_network(engine):
    snapshot = engine.snapshot()
    return (
        [(n.id, n.memory_lifetime_t2) for n in snapshot.nodes],
        [
            (l.from_node, l.to, l.distance_km, l.base_fidelity, l.generation_rate_hz, repr(l.link_type))
            for l in snapshot.links
        ],
    )


@FUZZ
@given(data=st.one_of(damaged(snapshot_documents()), st.binary(max_size=64)))
def test_snapshots_load_or_leave_the_engine_alone(folder, data):
    path = write(folder, data, "snapshot.json")
    engine = vc.VornEngine()
    engine.define_network([vc.NodeDefinition("kept", 1.0)], [])
    try:
        vc.load_topology(engine, path)
    except RuntimeError as error:
        detail = str(error)
        assert detail.startswith(("Failed to read topology file: ", "Failed to parse topology JSON: ")), detail
        event(POSITION.sub("", detail)[:50])
        if detail.startswith("Failed to parse"):
            check_position(detail, data)
        assert engine_network(engine) == ([("kept", 1.0)], [])
        return
    event("loaded")
    doc = json.loads(data.decode("utf-8"), parse_constant=refuse)
    nodes = {node["id"]: float(node["memoryLifetimeT2"]) for node in doc["nodes"]}  # the first place, the last value
    figures = [(l["fromNode"], l["to"], *map(float, (l["distanceKm"], l["baseFidelity"], l["generationRateHz"])))
               for l in doc["links"]]  # fmt: skip
    kinds = ["LinkType." + (l.get("linkType") or "Fiber") for l in doc["links"]]
    assert engine_network(engine) == (list(nodes.items()), [(*f, k) for f, k in zip(figures, kinds)])


@FUZZ
@given(st.data())
def test_snapshots_survive_load_and_save(folder, data):
    first, second = vc.VornEngine(), vc.VornEngine()
    vc.load_topology(first, write(folder, data.draw(layouts(data.draw(snapshot_documents()))), "source.json"))
    vc.save_topology(first, str(folder / "saved.json"))
    vc.load_topology(second, str(folder / "saved.json"))
    vc.save_topology(second, str(folder / "again.json"))
    assert (folder / "again.json").read_bytes() == (folder / "saved.json").read_bytes()
    assert vc.diff_topologies(first.snapshot(), second.snapshot()).summary.endswith(
        "0 nodes added, 0 nodes removed, 0 nodes modified. 0 links added, 0 links removed, 0 links modified."
    )
