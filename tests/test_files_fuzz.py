"""Generated .vorn documents: damaged ones load or fail cleanly, valid ones survive load and save unchanged.

Hypothesis drives the generation; the example counts are kept small because the suite also runs under the
address sanitizer. VORN_FUZZ_EXAMPLES=5000 makes a longer hunt.
"""
import json
import math
import os
import re
import tempfile

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import vorn_core as vc

EXAMPLES = int(os.environ.get("VORN_FUZZ_EXAMPLES", "200"))
FUZZ = settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])

FAILURE_KINDS = ("IO error: ", "JSON parse error: ", "Unsupported vorn version: ", "Validation failed:\n")
POSITION = re.compile(r" at line (\d+) column (\d+)$")


@pytest.fixture(scope="module")
def folder():
    with tempfile.TemporaryDirectory(prefix="vorn-fuzz-") as path:
        yield path


def write(folder, data, name="doc.vorn"):
    path = os.path.join(folder, name)
    with open(path, "wb") as handle:
        handle.write(data if isinstance(data, bytes) else data.encode("utf-8"))
    return path


# ---- documents ------------------------------------------------------------------------------

characters = st.characters(blacklist_categories=("Cs",))
texts = st.text(characters, max_size=6)
ids = st.one_of(st.sampled_from(["A", "B", "C", "n1", "é", "€", "", " ", '"', "\\", "\0", "𝄞"]), texts)
any_float = st.floats(allow_nan=False, allow_infinity=False)
u32 = st.integers(0, 2**32 - 1)
json_scalars = st.one_of(st.none(), st.booleans(), st.integers(-2**70, 2**70), any_float, texts)
json_values = st.recursive(json_scalars, lambda inner: st.one_of(st.lists(inner, max_size=3),
                                                                st.dictionaries(texts, inner, max_size=3)),
                           max_leaves=8)


def optional(strategy):
    return st.one_of(st.just(...), st.none(), strategy)  # ... leaves the key out, None writes null


@st.composite
def record(draw, required, optional_fields, unknown=True):
    value = {key: draw(strategy) for key, strategy in required.items()}
    for key, strategy in optional_fields.items():
        chosen = draw(optional(strategy))
        if chosen is not ...:
            value[key] = chosen
    if unknown and draw(st.booleans()):
        value[draw(st.sampled_from(["src", "x", "note", "Id"]))] = draw(json_values)
    keys = draw(st.permutations(list(value)))
    return {key: value[key] for key in keys}


def node_records(id_strategy):
    return record({"id": id_strategy}, {"memory_lifetime_ms": any_float, "memory_capacity": u32,
                                        "node_type": st.sampled_from(["ground", "satellite", "repeater"])})


def link_records(ends, distance=any_float, fidelity=any_float, rate=any_float):
    return record(
        {"from": ends, "to": ends, "distance_km": distance, "base_fidelity": fidelity, "generation_rate_hz": rate},
        {"id": ids, "link_type": st.sampled_from(["fiber", "satellite"]),
         "satellite": record({"visibility": any_float, "weather_factor": any_float}, {})},
    )


def sections(draw, doc):
    if draw(st.booleans()):
        doc["config"] = draw(record({}, {"alpha_loss": any_float, "beta_fidelity_decay": any_float,
                                         "gamma_swapping": any_float, "max_attempts": u32}))
    if draw(st.booleans()):
        doc["constraints"] = draw(record({}, {"fidelity_target": any_float, "max_latency_ms": any_float}))
    if draw(st.booleans()):
        doc["extensions"] = draw(record({}, {"custom": json_values}))
    return doc


@st.composite
def loose_documents(draw):
    """Right shape, any content: ids may repeat, links may point anywhere, values may be out of range."""
    doc = {
        "version": draw(st.sampled_from(["1.0", "1.0", "1.0", "2.0", ""])),
        "metadata": draw(record({"name": texts}, {"description": texts, "author": texts, "created_at": texts})),
        "nodes": draw(st.lists(node_records(ids), max_size=5)),
        "links": draw(st.lists(link_records(ids), max_size=5)),
    }
    return sections(draw, doc)


positive = st.floats(min_value=5e-324, max_value=1.7976931348623157e308)


@st.composite
def valid_documents(draw):
    node_ids = draw(st.lists(ids, min_size=0, max_size=7, unique=True))
    nodes = [draw(node_records(st.just(i))) for i in node_ids]
    links = []
    fidelity = st.floats(min_value=5e-324, max_value=1.0)
    for index in range(1, len(node_ids)):  # a spanning tree keeps the graph connected
        a, b = node_ids[draw(st.integers(0, index - 1))], node_ids[index]
        if draw(st.booleans()):
            a, b = b, a
        links.append(draw(link_records(st.just(a), positive, fidelity, positive)))
        links[-1]["from"], links[-1]["to"] = a, b
    for _ in range(draw(st.integers(0, 4)) if len(node_ids) >= 2 else 0):
        i, j = draw(st.integers(0, len(node_ids) - 1)), draw(st.integers(0, len(node_ids) - 2))
        a, b = node_ids[i], node_ids[j + (j >= i)]
        links.append(draw(link_records(st.just(a), positive, fidelity, positive)))
        links[-1]["from"], links[-1]["to"] = a, b
    order = draw(st.permutations(range(len(links))))
    doc = {"version": "1.0",
           "metadata": draw(record({"name": texts}, {"description": texts, "author": texts, "created_at": texts})),
           "nodes": nodes, "links": [links[i] for i in order]}
    return sections(draw, doc)


@st.composite
def layouts(draw, doc):
    indent = draw(st.sampled_from([None, 0, 1, 2, "\t", " "]))
    separators = draw(st.sampled_from([(",", ":"), (", ", ": "), (" ,\n", " :\t")]))
    ensure_ascii = draw(st.booleans())
    return json.dumps(doc, indent=indent, separators=separators, ensure_ascii=ensure_ascii)


# ---- damage ---------------------------------------------------------------------------------

TOKENS = [b"null", b"true", b"false", b"1e400", b"-0", b"4294967296", b"4.0", b"-1", b'"\\ud800"', b'"\\udc00"',
          b",", b":", b"{", b"}", b"[", b"]", b'"', b"\\", b"\0", b"\xef\xbb\xbf", b"\xff", b"\xc3", b"\xed\xa0\x80",
          b'"ground"', b'"Ground"', b'"fiber"', b'"version"', b'"1.0"', b'"id"', b'"from"', b"NaN", b"Infinity",
          b"\n", b"\r\n", b"\t", b"1" * 40, b"0." + b"0" * 30 + b"1", b"1e-400"]


@st.composite
def damaged(draw):
    doc = draw(st.one_of(loose_documents(), valid_documents()))
    data = bytearray(draw(layouts(doc)).encode("utf-8"))
    for _ in range(draw(st.integers(1, 3))):
        at = draw(st.integers(0, len(data)))
        kind = draw(st.sampled_from(["flip", "truncate", "insert", "token", "delete", "repeat", "nest", "deep key",
                                     "unicode"]))
        if kind == "flip" and at < len(data):
            data[at] ^= 1 << draw(st.integers(0, 7))
        elif kind == "truncate":
            del data[at:]
        elif kind == "insert":
            data[at:at] = draw(st.binary(min_size=1, max_size=6))
        elif kind == "token":
            data[at:at] = draw(st.sampled_from(TOKENS))
        elif kind == "delete":
            del data[at:at + draw(st.integers(1, 12))]
        elif kind == "repeat":
            data[at:at] = data[at:at + draw(st.integers(1, 40))]
        elif kind == "nest":
            depth = draw(st.integers(120, 140))
            opener, closer = draw(st.sampled_from([(b"[", b"]"), (b'{"k":', b"}")]))
            filler = b"" if opener == b"[" else b"0"
            data[at:at] = opener * depth + filler + closer * depth * draw(st.integers(0, 1))
        elif kind == "deep key" and data.startswith(b"{"):
            depth = draw(st.integers(120, 135))  # the root object is the first level
            data[1:1] = b'"deep": ' + b"[" * depth + b"]" * depth + b", "
        elif kind == "unicode":
            data[at:at] = draw(st.text(characters, min_size=1, max_size=4)).encode("utf-8")
    return bytes(data)


def strict_json(data):
    """The document as the standard library parses it, refusing NaN and the infinities; None if it is not JSON."""
    def refuse(constant):
        raise ValueError(constant)

    try:
        return json.loads(data.decode("utf-8"), parse_constant=refuse)
    except (ValueError, RecursionError):
        return None


def check_outcome(path, data):
    try:
        loaded = vc.load_vorn_file(path)
    except RuntimeError as error:
        message = str(error)
        prefix = f"Failed to load {path}: "
        assert message.startswith(prefix)
        detail = message[len(prefix):]
        assert detail.startswith(FAILURE_KINDS), detail
        event(detail.split(":")[0] if not detail.startswith("JSON") else POSITION.sub("", detail)[:40])
        if detail.startswith("JSON parse error: "):
            found = POSITION.search(detail)
            assert found, detail
            line, column = int(found.group(1)), int(found.group(2))
            lines = data.decode("utf-8").split("\n")
            assert 1 <= line <= len(lines)
            assert 1 <= column <= len(lines[line - 1]) + 1
        return None
    event("loaded")
    # Whatever loads is JSON, and the standard library reads the same values from it.
    doc = strict_json(data)
    assert doc is not None
    assert loaded.version == doc["version"] == "1.0"
    assert loaded.metadata.name == doc["metadata"]["name"]
    assert [n.id for n in loaded.nodes] == [n["id"] for n in doc["nodes"]]
    assert [n.memory_capacity for n in loaded.nodes] == [n.get("memory_capacity") for n in doc["nodes"]]
    assert [(l.src, l.to, l.distance_km, l.base_fidelity, l.generation_rate_hz) for l in loaded.links] == [
        (l["from"], l["to"], float(l["distance_km"]), float(l["base_fidelity"]), float(l["generation_rate_hz"]))
        for l in doc["links"]]
    return loaded


@FUZZ
@given(data=damaged())
def test_damaged_documents_load_or_fail_cleanly(folder, data):
    check_outcome(write(folder, data), data)


@FUZZ
@given(st.data())
def test_loose_documents_load_or_fail_cleanly(folder, data):
    text = data.draw(layouts(data.draw(loose_documents()))).encode("utf-8")
    check_outcome(write(folder, text), text)


@settings(max_examples=EXAMPLES // 2, deadline=None)
@given(data=st.one_of(st.binary(max_size=64), st.text(characters, max_size=64).map(lambda t: t.encode("utf-8"))))
def test_arbitrary_bytes_load_or_fail_cleanly(folder, data):
    check_outcome(write(folder, data), data)


# ---- positions of a wrong value -------------------------------------------------------------

EXPECTED = {"id": "a string", "from": "a string", "to": "a string", "name": "a string", "author": "a string",
            "memory_lifetime_ms": "a number", "distance_km": "a number", "base_fidelity": "a number",
            "alpha_loss": "a number", "fidelity_target": "a number", "memory_capacity": "an integer",
            "max_attempts": "an integer", "node_type": "a string", "link_type": "a string"}


PLANTED = "\0planted value\0"  # longer than any generated text, so it occurs once


@FUZZ
@given(st.data())
def test_a_wrong_type_is_reported_where_it_stands(folder, data):
    doc = data.draw(valid_documents())
    places = [(doc["metadata"], "name"), (doc["metadata"], "author")]
    places += [(n, key) for n in doc["nodes"] for key in ("id", "memory_lifetime_ms", "memory_capacity", "node_type")]
    places += [(l, key) for l in doc["links"] for key in ("id", "from", "to", "distance_km", "base_fidelity",
                                                          "link_type")]
    places += [(doc[s], k) for s, k in (("config", "alpha_loss"), ("config", "max_attempts"),
                                        ("constraints", "fidelity_target")) if s in doc]
    owner, key = data.draw(st.sampled_from(places))
    owner[key] = PLANTED
    text = data.draw(layouts(doc))
    token = json.dumps(PLANTED)
    assert text.count(token) == 1
    at = text.index(token)
    text = text.replace(token, "true")
    path = write(folder, text)
    with pytest.raises(RuntimeError) as raised:
        vc.load_vorn_file(path)
    line = text.count("\n", 0, at) + 1
    column = at - (text.rfind("\n", 0, at) + 1) + 1
    assert str(raised.value) == (f'Failed to load {path}: JSON parse error: Invalid type for "{key}": '
                                 f"expected {EXPECTED[key]}, found a boolean at line {line} column {column}")


# ---- round trip -----------------------------------------------------------------------------

def fields(f):
    def number(x):
        return None if x is None else (x, math.copysign(1.0, x))  # tells -0.0 from 0.0

    def satellite(s):
        return None if s is None else (number(s.visibility), number(s.weather_factor))

    return (
        f.version,
        (f.metadata.name, f.metadata.description, f.metadata.author, f.metadata.created_at),
        [(n.id, number(n.memory_lifetime_ms), n.memory_capacity, repr(n.node_type)) for n in f.nodes],
        [(l.id, l.src, l.to, number(l.distance_km), number(l.base_fidelity), number(l.generation_rate_hz),
          repr(l.link_type), satellite(l.satellite)) for l in f.links],
        None if f.config is None else (number(f.config.alpha_loss), number(f.config.beta_fidelity_decay),
                                        number(f.config.gamma_swapping), f.config.max_attempts),
        None if f.constraints is None else (number(f.constraints.fidelity_target),
                                            number(f.constraints.max_latency_ms)),
    )


@FUZZ
@given(st.data())
def test_valid_documents_survive_load_and_save(folder, data):
    doc = data.draw(valid_documents())
    source = write(folder, data.draw(layouts(doc)), "source.vorn")
    first = vc.load_vorn_file(source)
    assert [n.id for n in first.nodes] == [n["id"] for n in doc["nodes"]]
    assert [l.id for l in first.links] == [l.get("id") or "" for l in doc["links"]]
    assert [l.distance_km for l in first.links] == [l["distance_km"] for l in doc["links"]]
    assert [n.memory_lifetime_ms for n in first.nodes] == [n.get("memory_lifetime_ms") for n in doc["nodes"]]
    assert first.extensions is None

    saved = os.path.join(folder, "saved.vorn")
    again = os.path.join(folder, "again.vorn")
    first.save(saved)
    second = vc.load_vorn_file(saved)
    assert fields(second) == fields(first)
    second.save(again)
    with open(saved, "rb") as a, open(again, "rb") as b:
        text = a.read()
        assert b.read() == text
    written = json.loads(text)
    assert list(written) == [k for k in ("version", "metadata", "nodes", "links", "config", "constraints")
                             if k in doc]
    assert vc.validate(saved)["valid"] is True


@FUZZ
@given(st.data())
def test_files_built_in_python_survive_save_and_load(folder, data):
    f = vc.VornFile(data.draw(texts))
    for node_id in data.draw(st.lists(ids, max_size=5)):
        f.add_node(node_id, data.draw(st.none() | st.floats()), data.draw(st.none() | u32),
                   data.draw(st.sampled_from([None, vc.VornNodeType.Ground, vc.VornNodeType.Repeater])))
    for _ in range(data.draw(st.integers(0, 4))):
        f.add_link(data.draw(ids), data.draw(ids), data.draw(ids), data.draw(any_float), data.draw(any_float),
                   data.draw(any_float), data.draw(st.sampled_from([None, vc.VornLinkType.Satellite])),
                   data.draw(st.none() | st.builds(vc.VornSatelliteExtension, any_float, any_float)))
    if data.draw(st.booleans()):
        f.config = vc.VornConfig(data.draw(st.none() | any_float), None, data.draw(st.none() | any_float),
                                 data.draw(st.none() | u32))
    f.extensions = data.draw(st.none() | json_values)
    saved = os.path.join(folder, "built.vorn")
    f.save(saved)
    with open(saved, "rb") as handle:
        text = handle.read()
    assert not text.endswith(b"\n")
    doc = json.loads(text)
    assert list(doc) == ["version", "metadata", "nodes", "links"] + (["config"] if f.config is not None else [])
    assert [n["id"] for n in doc["nodes"]] == [n.id for n in f.nodes]
    assert [(l["id"], l["from"], l["to"], l["distance_km"]) for l in doc["links"]] == [
        (l.id, l.src, l.to, l.distance_km) for l in f.links]
    assert [n.get("memory_lifetime_ms") for n in doc["nodes"]] == [
        None if n.memory_lifetime_ms is None or not math.isfinite(n.memory_lifetime_ms) else n.memory_lifetime_ms
        for n in f.nodes]
    assert ["memory_lifetime_ms" in n for n in doc["nodes"]] == [n.memory_lifetime_ms is not None for n in f.nodes]
