"""The .vorn JSON text: what the reader accepts and rejects, and the exact layout the writer produces."""
import json
import math
import os

import pytest

import vorn_core as vc

DATA = os.path.join(os.path.dirname(__file__), "data", "vorn")

EMPTY_NET = """{
  "version": "1.0",
  "metadata": {
    "name": "net"
  },
  "nodes": [],
  "links": []
}"""


def doc(nodes="[]", links="[]", extra=""):
    """A document whose second line holds the nodes and third line the links, so that columns are easy to count:
    the opening bracket of either array is column 10."""
    return '{"version": "1.0", "metadata": {"name": "n"},\n"nodes": ' + nodes + ',\n"links": ' + links + extra + "\n}"


TWO_NODES = '[{"id": "A"}, {"id": "B"}]'


def one_link(**fields):
    values = {"from": "A", "to": "B", "distance_km": 1.0, "base_fidelity": 0.9, "generation_rate_hz": 1.0}
    values.update(fields)
    return "[" + json.dumps({k: v for k, v in values.items() if v is not ...}) + "]"


@pytest.fixture
def write(tmp_path):
    def write(text, name="t.vorn"):
        path = tmp_path / name
        path.write_bytes(text if isinstance(text, bytes) else text.encode())
        return str(path)

    return write


@pytest.fixture
def load(write):
    def load(text):
        return vc.load_vorn_file(write(text))

    return load


@pytest.fixture
def load_error(write):
    """The text after "Failed to load <path>: " of a document that fails to load."""

    def load_error(text):
        path = write(text)
        with pytest.raises(RuntimeError) as raised:
            vc.load_vorn_file(path)
        prefix = f"Failed to load {path}: "
        message = str(raised.value)
        assert message.startswith(prefix)
        return message[len(prefix):]

    return load_error


@pytest.fixture
def saved_text(tmp_path):
    def saved_text(f):
        path = str(tmp_path / "out.vorn")
        f.save(path)
        with open(path, encoding="utf-8", newline="") as handle:
            return handle.read()

    return saved_text


U32_MESSAGE = ('JSON parse error: Invalid value for "memory_capacity": expected an integer from 0 to 4294967295 '
               "without fraction or exponent, found {} at line 2 column 42")


REJECTED = [
    ("", "JSON parse error: The document is empty at line 1 column 1"),
    ("  \n\t ", "JSON parse error: The document is empty at line 2 column 3"),
    ("[]", "JSON parse error: Invalid type for the document: expected an object, found an array at line 1 column 1"),
    ('{"metadata": {"name": "n"}, "nodes": [], "links": []}',
     'JSON parse error: Missing required key "version" in the document at line 1 column 53'),
    ('{"version": "1.0", "nodes": [], "links": []}',
     'JSON parse error: Missing required key "metadata" in the document at line 1 column 44'),
    ('{"version": "1.0", "metadata": {"name": "n"}, "nodes": []}',
     'JSON parse error: Missing required key "links" in the document at line 1 column 58'),
    ('{"version": "1.0", "metadata": {}, "nodes": [], "links": []}',
     'JSON parse error: Missing required key "name" in metadata at line 1 column 33'),
    (doc(nodes='[{"name": "A"}]'), 'JSON parse error: Missing required key "id" in a node at line 2 column 23'),
    (doc(TWO_NODES, '[{"src": "A", "to": "B", "distance_km": 1, "base_fidelity": 0.9, "generation_rate_hz": 1}]'),
     'JSON parse error: Missing required key "from" in a link at line 3 column 98'),
    (doc(TWO_NODES, one_link(generation_rate_hz=...)),
     'JSON parse error: Missing required key "generation_rate_hz" in a link at line 3 column 76'),
    (doc(TWO_NODES, one_link(satellite={"visibility": 1.0})),
     'JSON parse error: Missing required key "weather_factor" in satellite at line 3 column 136'),
    ('{"version": "1.0", "version": "1.0", "metadata": {"name": "n"}, "nodes": [], "links": []}',
     'JSON parse error: Duplicate key "version" in the document at line 1 column 20'),
    (doc(nodes='[{"id": "A", "id": "B"}]'), 'JSON parse error: Duplicate key "id" in a node at line 2 column 23'),
    (doc(extra=', "config": {"alpha_loss": 1, "alpha_loss": null}'),
     'JSON parse error: Duplicate key "alpha_loss" in config at line 3 column 42'),
    (doc(nodes="{}"), 'JSON parse error: Invalid type for "nodes": expected an array, found an object at line 2 column 10'),
    (doc(nodes='["A"]'),
     'JSON parse error: Invalid type for an element of "nodes": expected an object, found a string at line 2 column 11'),
    (doc(TWO_NODES, "[[]]"),
     'JSON parse error: Invalid type for an element of "links": expected an object, found an array at line 3 column 11'),
    (doc(nodes='[{"id": 7}]'),
     'JSON parse error: Invalid type for "id": expected a string, found a number at line 2 column 18'),
    (doc(nodes='[{"id": "A", "memory_lifetime_ms": "1000"}]'),
     'JSON parse error: Invalid type for "memory_lifetime_ms": expected a number, found a string at line 2 column 45'),
    (doc(nodes='[{"id": "A", "memory_capacity": true}]'),
     'JSON parse error: Invalid type for "memory_capacity": expected an integer, found a boolean at line 2 column 42'),
    ('{"version": 1.0, "metadata": {"name": "n"}, "nodes": [], "links": []}',
     'JSON parse error: Invalid type for "version": expected a string, found a number at line 1 column 13'),
    (doc(extra=', "config": []'),
     'JSON parse error: Invalid type for "config": expected an object, found an array at line 3 column 24'),
    (doc(nodes='[{"id": null}]'), 'JSON parse error: Null is not allowed for required key "id" at line 2 column 18'),
    (doc(TWO_NODES, one_link(distance_km=None)),
     'JSON parse error: Null is not allowed for required key "distance_km" at line 3 column 51'),
    (doc(nodes='[{"id": "A", "memory_capacity": 4.0}]'), U32_MESSAGE.format("4.0")),
    (doc(nodes='[{"id": "A", "memory_capacity": -1}]'), U32_MESSAGE.format("-1")),
    (doc(nodes='[{"id": "A", "memory_capacity": 4294967296}]'), U32_MESSAGE.format("4294967296")),
    (doc(nodes='[{"id": "A", "memory_capacity": 4e0}]'), U32_MESSAGE.format("4e0")),
    (doc(nodes='[{"id": "A", "memory_capacity": 18446744073709551616}]'),
     U32_MESSAGE.format("18446744073709551616")),
    (doc(extra=', "config": {"max_attempts": 1.5}'),
     'JSON parse error: Invalid value for "max_attempts": expected an integer from 0 to 4294967295 without '
     "fraction or exponent, found 1.5 at line 3 column 41"),
    (doc(nodes='[{"id": "A", "node_type": "Ground"}]'),
     'JSON parse error: Unknown node_type "Ground", expected one of "ground", "satellite", "repeater" '
     "at line 2 column 36"),
    (doc(nodes='[{"id": "A", "node_type": "REPEATER"}]'),
     'JSON parse error: Unknown node_type "REPEATER", expected one of "ground", "satellite", "repeater" '
     "at line 2 column 36"),
    (doc(nodes='[{"id": "A", "node_type": ""}]'),
     'JSON parse error: Unknown node_type "", expected one of "ground", "satellite", "repeater" '
     "at line 2 column 36"),
    (doc(TWO_NODES, one_link(link_type="Fiber")),
     'JSON parse error: Unknown link_type "Fiber", expected one of "fiber", "satellite" at line 3 column 118'),
    (doc(TWO_NODES, one_link(link_type="fibre\n")),
     'JSON parse error: Unknown link_type "fibre\\u000A", expected one of "fiber", "satellite" '
     "at line 3 column 118"),
    (doc() + " x", "JSON parse error: The document root must not be followed by other values at line 4 column 3"),
    (doc() + "\n{}", "JSON parse error: The document root must not be followed by other values at line 5 column 1"),
    (doc(nodes='[{"id": "A"},]'), "JSON parse error: Invalid value at line 2 column 23"),
    (doc(links="[],"), "JSON parse error: Missing a name for object member at line 4 column 1"),
    (doc()[:-2], "JSON parse error: Missing a comma or '}' after an object member at line 3 column 12"),
    (doc(nodes='[{"id": "A" "x": 1}]'), "JSON parse error: Missing a comma or '}' after an object member at line 2 column 22"),
    (doc(nodes="[NaN]"), "JSON parse error: Invalid value at line 2 column 11"),
    (doc(TWO_NODES, one_link(distance_km=...)[:-2] + ', "distance_km": Infinity}]'),
     "JSON parse error: Invalid value at line 3 column 100"),
    (doc(TWO_NODES, one_link(distance_km=...)[:-2] + ', "distance_km": 1e400}]'),
     "JSON parse error: Number too big to be stored in double at line 3 column 100"),
    (doc(TWO_NODES, one_link(distance_km=...)[:-2] + ', "distance_km": 1' + "0" * 400 + "}]"),
     "JSON parse error: Number too big to be stored in double at line 3 column 100"),
    (doc(extra=', "extensions": {"custom": [1, -1e999]}'),
     "JSON parse error: Number too big to be stored in double at line 3 column 43"),
    (doc(TWO_NODES, one_link(distance_km=...)[:-2] + ', "distance_km": 1.}]'),
     "JSON parse error: Miss fraction part in number at line 3 column 102"),
    (doc(TWO_NODES, one_link(distance_km=...)[:-2] + ', "distance_km": 01}]'),
     "JSON parse error: Missing a comma or '}' after an object member at line 3 column 101"),
    (doc(nodes='[{"id": "\\udc00"}]'), "JSON parse error: Invalid lone surrogate escape in string at line 2 column 18"),
    (doc(nodes='[{"id": "\\ud800x"}]'),
     "JSON parse error: The surrogate pair in string is invalid at line 2 column 19"),
    (doc(nodes='[{"id": "a\\qb"}]'), "JSON parse error: Invalid escape character in string at line 2 column 20"),
    (doc(nodes='[{"id": "a\tb"}]'), "JSON parse error: Invalid escape character in string at line 2 column 20"),
    (doc(nodes='[{"id": "A"}\0]'), "JSON parse error: Unexpected NUL character at line 2 column 22"),
    (doc() + "\0", "JSON parse error: Unexpected NUL character at line 4 column 2"),
    ("\ufeff" + doc(), "JSON parse error: Invalid value at line 1 column 1"),
    ('{"version": "1.0", "metadata": {"name": "n"}, "nodes": [], "links": []',
     "JSON parse error: Missing a comma or '}' after an object member at line 1 column 71"),
    (doc(extra=', "deep": ' + "[" * 128 + "]" * 128),
     "JSON parse error: Arrays and objects nest more than 128 levels at line 3 column 149"),
    (doc(extra=', "extensions": {"custom": ' + "[" * 127 + "]" * 127 + "}"),
     "JSON parse error: Arrays and objects nest more than 128 levels at line 3 column 165"),
    (doc(extra=', "deep": ' + "[" * 100_000),
     "JSON parse error: Arrays and objects nest more than 128 levels at line 3 column 149"),
    (doc(extra=', "deep": ' + '{"a":' * 200 + "1" + "}" * 200),
     "JSON parse error: Arrays and objects nest more than 128 levels at line 3 column 657"),
]


def case_id(message):
    return message.split(" at line")[0].replace("JSON parse error: ", "")[:70]


class TestReaderRejects:
    @pytest.mark.parametrize("text, message", REJECTED, ids=[case_id(m) for _, m in REJECTED])
    def test_message_names_the_problem_and_its_position(self, load_error, text, message):
        assert load_error(text) == message

    @pytest.mark.parametrize(
        "prefix, line, column",
        [
            ('{"version": "1.0",\n "metadata": {"name": "é€𝄞", ', 2, 30),
            ('{"version": "1.0",\r\n "metadata": {"name": "é€𝄞", ', 2, 30),
            ('{"version": "1.0",\n\n\n\t\t"metadata": {"name": "\\u00e9\\u20ac", ', 4, 40),
        ],
    )
    def test_columns_count_characters_not_bytes(self, load_error, prefix, line, column):
        text = prefix + '"name": "again"}, "nodes": [], "links": []}'
        assert load_error(text) == (
            f'JSON parse error: Duplicate key "name" in metadata at line {line} column {column}')

    def test_one_level_less_than_the_limit_reads(self, load):
        assert load(doc(extra=', "deep": ' + "[" * 127 + "]" * 127)).nodes == []
        assert load(doc(extra=', "extensions": {"custom": ' + "[" * 126 + "]" * 126 + "}")).extensions is None

    @pytest.mark.parametrize(
        "bad, offset",
        [(b"\xff", 0), (b"\xc0\x80", 0), (b"\xe0\x80\x80", 0), (b"\xed\xa0\x80", 0), (b"\xf4\x90\x80\x80", 0),
         (b"ok\xe2\x82", 2), (b"\xc3\xa9\x80", 2), (b"\xf0\x9d\x84\x9e\xf5", 4)],
    )
    def test_invalid_utf8_is_an_io_error(self, load_error, bad, offset):
        head = b'{"version": "1.0", "metadata": {"name": "'
        text = head + bad + b'"}, "nodes": [], "links": []}'
        assert load_error(text) == f"IO error: file is not valid UTF-8 (byte offset {len(head) + offset})"


class TestReaderAccepts:
    def test_null_optionals_are_absent_and_types_read(self, load):
        f = load(doc(
            '[{"id": "A", "node_type": null, "memory_capacity": 4}, {"id": "B", "node_type": "ground", '
            '"memory_capacity": 4294967295, "memory_lifetime_ms": 10}, {"id": "C", "memory_capacity": 0}]',
            '[{"from": "A", "to": "B", "distance_km": 10, "base_fidelity": 1, "generation_rate_hz": 2.5E+3}, '
            '{"from": "B", "to": "C", "distance_km": 1e-4, "base_fidelity": 0.5, "generation_rate_hz": 1, "id": null}]',
        ))
        a, b, c = f.nodes
        assert (a.node_type, a.memory_capacity, a.memory_lifetime_ms) == (None, 4, None)
        assert repr(b.node_type) == "VornNodeType.Ground" and b.memory_capacity == 4294967295
        assert b.memory_lifetime_ms == 10.0 and type(b.memory_lifetime_ms) is float
        assert c.memory_capacity == 0
        first, second = f.links
        assert (first.distance_km, first.base_fidelity, first.generation_rate_hz) == (10.0, 1.0, 2500.0)
        assert type(first.distance_km) is float
        assert (first.id, second.id, second.distance_km) == ("", "", 1e-4)

    def test_numbers_below_the_smallest_float_read_as_zero(self, load):
        f = load(doc('[{"id": "A", "memory_lifetime_ms": 1e-400}, {"id": "B", "memory_lifetime_ms": -0}]',
                     one_link()))
        assert f.nodes[0].memory_lifetime_ms == 0.0
        assert math.copysign(1.0, f.nodes[1].memory_lifetime_ms) == -1.0

    def test_members_in_any_order_and_unknown_keys_at_every_level(self):
        f = vc.load_vorn_file(os.path.join(DATA, "full.vorn"))
        assert repr(f) == "VornFile(version='1.0', metadata={name:'Ring é €'}, nodes=4, links=3)"
        assert repr(f.metadata) == "VornMetadata(name='Ring é €', description=None, author=Some(\"Ann \\\"A\\\" O'Neil\"))"
        assert f.metadata.created_at == "yesterday"
        assert [l.src + ">" + l.to for l in f.links] == ["Bob>Alice", "Bob>Sat-1", "Sat-1>Relay"]
        assert repr(f.config) == ("VornConfig(alpha_loss=Some(0.2), beta_fidelity_decay=Some(-0.0), "
                                  "gamma_swapping=Some(0.5), max_attempts=Some(20))")
        assert f.constraints == vc.VornConstraints(None, 100.0)
        assert f.extensions is None

    def test_escapes_decode(self, load):
        f = load(doc('[{"id": "\\u00e9\\ud834\\udd1e\\"\\\\\\/\\b\\f\\n\\r\\t\\u0000"}]'))
        assert f.nodes[0].id == 'é𝄞"\\/\b\f\n\r\t\0'

    def test_src_is_not_a_file_key(self, load):
        f = load(doc(TWO_NODES, one_link(src="B")))
        assert f.links[0].src == "A"

    def test_repeated_unknown_keys_are_skipped(self, load):
        assert load(doc(nodes='[{"id": "A", "x": 1, "x": [2]}]', extra=', "y": {}, "y": null')).nodes[0].id == "A"


def new_file():
    f = vc.VornFile("net")
    f.add_node("A")
    f.add_node("B")
    f.add_link("L1", "A", "B", 10.0, 0.9, 1000.0)
    return f


class TestWriterLayout:
    def test_new_file(self, saved_text):
        assert saved_text(vc.VornFile("net")) == EMPTY_NET

    def test_every_field(self, saved_text):
        f = vc.VornFile("net")
        f.metadata = vc.VornMetadata("net", "two nodes", "Ann", "2024-05-01T10:00:00Z")
        f.add_node("A", 1000, 4, vc.VornNodeType.Ground)
        f.add_node("B")
        f.add_link("L1", "A", "B", 10, 0.95, 1e3, vc.VornLinkType.Satellite, vc.VornSatelliteExtension(0.5, 1))
        f.add_link("", "B", "A", 2.5, 1, 7)
        f.config = vc.VornConfig(0.2, 0.01, 1.5, 20)
        f.constraints = vc.VornConstraints(0.8, 250)
        assert saved_text(f) == """{
  "version": "1.0",
  "metadata": {
    "name": "net",
    "description": "two nodes",
    "author": "Ann",
    "created_at": "2024-05-01T10:00:00Z"
  },
  "nodes": [
    {
      "id": "A",
      "memory_lifetime_ms": 1000.0,
      "memory_capacity": 4,
      "node_type": "ground"
    },
    {
      "id": "B"
    }
  ],
  "links": [
    {
      "id": "L1",
      "from": "A",
      "to": "B",
      "distance_km": 10.0,
      "base_fidelity": 0.95,
      "generation_rate_hz": 1000.0,
      "link_type": "satellite",
      "satellite": {
        "visibility": 0.5,
        "weather_factor": 1.0
      }
    },
    {
      "id": "",
      "from": "B",
      "to": "A",
      "distance_km": 2.5,
      "base_fidelity": 1.0,
      "generation_rate_hz": 7.0
    }
  ],
  "config": {
    "alpha_loss": 0.2,
    "beta_fidelity_decay": 0.01,
    "gamma_swapping": 1.5,
    "max_attempts": 20
  },
  "constraints": {
    "fidelity_target": 0.8,
    "max_latency_ms": 250.0
  }
}"""

    def test_empty_sections_are_empty_objects(self, saved_text):
        f = vc.VornFile("net")
        f.config = vc.VornConfig()
        f.constraints = vc.VornConstraints()
        assert saved_text(f) == EMPTY_NET[:-2] + ',\n  "config": {},\n  "constraints": {}\n}'
        f.config = None
        f.constraints = vc.VornConstraints(max_latency_ms=5)
        assert saved_text(f) == EMPTY_NET[:-2] + ',\n  "constraints": {\n    "max_latency_ms": 5.0\n  }\n}'

    def test_extensions_are_never_written(self, saved_text):
        f = vc.VornFile("net")
        f.extensions = {"custom": {"b": 1, "a": 2}}
        assert saved_text(f) == EMPTY_NET

    @pytest.mark.parametrize(
        "value, text",
        [(10, "10.0"), (0.5, "0.5"), (1, "1.0"), (-0.0, "-0.0"), (0.1 + 0.2, "0.30000000000000004"),
         (123456.789, "123456.789"), (1e15, "1000000000000000.0"), (1e-5, "0.00001"), (2.5e-3, "0.0025"),
         (math.nan, "null"), (math.inf, "null"), (-math.inf, "null")],
    )
    def test_floats(self, saved_text, value, text):
        f = vc.VornFile("net")
        f.add_node("A", value)
        assert saved_text(f) == EMPTY_NET.replace(
            '"nodes": []', '"nodes": [\n    {\n      "id": "A",\n      "memory_lifetime_ms": ' + text + "\n    }\n  ]")

    @pytest.mark.parametrize(
        "value", [1e16, 1e-7, 5e-324, 1.7976931348623157e308, -2.2250738585072014e-308, 1.2345678901234567e-300,
                  9007199254740993.0, 4.35e100]
    )
    def test_extreme_floats_read_back_exactly(self, saved_text, value):
        f = vc.VornFile("net")
        f.add_node("A", value)
        written = json.loads(saved_text(f))["nodes"][0]["memory_lifetime_ms"]
        assert type(written) is float and written == value

    def test_nan_distance_is_written_as_null_and_no_longer_reads(self, tmp_path):
        f = new_file()
        f.links = [vc.VornLink("L1", "A", "B", math.nan, 0.9, 1000.0)]
        path = str(tmp_path / "nan.vorn")
        f.save(path)
        with open(path) as handle:
            lines = handle.read().splitlines()
        null_line = lines.index('      "distance_km": null,') + 1
        with pytest.raises(RuntimeError) as raised:
            vc.load_vorn_file(path)
        assert str(raised.value) == (
            f'Failed to load {path}: JSON parse error: Null is not allowed for required key "distance_km" '
            f"at line {null_line} column 22")

    def test_strings_are_escaped_and_non_ascii_is_raw(self, tmp_path):
        f = vc.VornFile('q"b\\s/\n\t\x01\x7fé€𝄞\0')
        path = tmp_path / "s.vorn"
        f.save(str(path))
        raw = path.read_bytes()
        assert b'"name": "q\\"b\\\\s/\\n\\t\\u0001\x7f\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e\\u0000"' in raw
        assert vc.load_vorn_file(str(path)).metadata.name == 'q"b\\s/\n\t\x01\x7fé€𝄞\0'

    def test_u32_extremes(self, saved_text):
        f = vc.VornFile("net")
        f.add_node("A", memory_capacity=4294967295)
        f.config = vc.VornConfig(max_attempts=0)
        text = saved_text(f)
        assert '"memory_capacity": 4294967295\n' in text and '"max_attempts": 0\n' in text


class TestLoadThenSave:
    def test_sample_file(self, saved_text):
        f = vc.load_vorn_file(os.path.join(DATA, "full.vorn"))
        with open(os.path.join(DATA, "full.saved.vorn"), encoding="utf-8", newline="") as handle:
            expected = handle.read()
        assert saved_text(f) == expected

    def test_saved_text_is_a_fixed_point(self, tmp_path):
        first = str(tmp_path / "first.vorn")
        second = str(tmp_path / "second.vorn")
        vc.load_vorn_file(os.path.join(DATA, "full.vorn")).save(first)
        vc.load_vorn_file(first).save(second)
        with open(first, "rb") as a, open(second, "rb") as b:
            assert a.read() == b.read()

    def test_minimal_file_keeps_exactly_four_keys(self, load, saved_text):
        text = '{"links": [], "nodes": [], "metadata": {"name": "net"}, "version": "1.0", "unknown": {"x": 1}}'
        assert saved_text(load(text)) == EMPTY_NET

    def test_loaded_extensions_and_unknown_keys_are_dropped(self, load, saved_text):
        f = load(doc(extra=', "extensions": {"custom": {"b": 1, "a": [true, null]}}, "zzz": 1').replace('"n"', '"net"'))
        assert f.extensions is None
        assert saved_text(f) == EMPTY_NET

    def test_link_without_id_is_written_with_an_empty_id(self, load, saved_text):
        f = load(doc(TWO_NODES, one_link()))
        assert f.links[0].id == ""
        assert '      "id": "",\n      "from": "A",' in saved_text(f)

    def test_node_with_only_an_id(self, load, saved_text):
        f = load(doc('[{"id": "A", "memory_lifetime_ms": null}]'))
        assert '  "nodes": [\n    {\n      "id": "A"\n    }\n  ],' in saved_text(f)
