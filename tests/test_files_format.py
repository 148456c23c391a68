"""The .vorn JSON text: what the reader accepts and rejects, and the exact layout the writer produces."""

import json
import math
import os
import re

import pytest
import vorn_core as vc
from test_files_io import EMPTY_NET

DATA = os.path.join(os.path.dirname(__file__), "data", "vorn")


def doc(nodes="[]", links="[]", extra=""):
    """A document whose second line holds the nodes and third line the links, so that columns are easy to count:
    the opening bracket of either array is column 10."""
    return '{"version": "1.0", "metadata": {"name": "n"},\n"nodes": ' + nodes + ',\n"links": ' + links + extra + "\n}"


TWO_NODES = '[{"id": "A"}, {"id": "B"}]'


def one_link(**fields):
    values = {"from": "A", "to": "B", "distance_km": 1.0, "base_fidelity": 0.9, "generation_rate_hz": 1.0, **fields}
    return "[" + json.dumps({k: v for k, v in values.items() if v is not ...}) + "]"


# Text that puts what follows it two bytes before the first megabyte of a file that begins with the head
# of test_file_text_must_be_utf8.
MEGABYTE_PAD = b"a" * (2**20 - 42 - 2)


def write(folder, text):
    (folder / "t.vorn").write_bytes(text if isinstance(text, bytes) else text.encode())
    return str(folder / "t.vorn")


def load_error(path):
    """The text after "Failed to load <path>: " of a file that fails to load."""
    with pytest.raises(RuntimeError) as raised:
        vc.load_vorn_file(path)
    return str(raised.value).removeprefix(f"Failed to load {path}: ")


def saved_text(folder, f):
    f.save(str(folder / "out.vorn"))
    return (folder / "out.vorn").read_bytes().decode()


U32_MESSAGE = (
    'Invalid value for "memory_capacity": expected an integer from 0 to 4294967295 '
    "without fraction or exponent, found {} at line 2 column 42"
)

# One case for each rule and message of the reader, and for each way a message of the JSON library reaches the user.
REJECTED = [
    ("", "The document is empty at line 1 column 1"),
    ("[]", "Invalid type for the document: expected an object, found an array at line 1 column 1"),
    (doc(TWO_NODES, '[{"src": "A", "to": "B", "distance_km": 1, "base_fidelity": 0.9, "generation_rate_hz": 1}]'),
      'Missing required key "from" in a link at line 3 column 98'),
    (doc(nodes='[{"id": "A", "id": "B"}]'), 'Duplicate key "id" in a node at line 2 column 23'),
    (doc(extra=', "config": {"alpha_loss": 1, "alpha_loss": null}'),
      'Duplicate key "alpha_loss" in config at line 3 column 42'),
    (doc(nodes="{}"), 'Invalid type for "nodes": expected an array, found an object at line 2 column 10'),
    (doc(nodes='[{"id": "A"}, "B"]'),
      'Invalid type for an element of "nodes": expected an object, found a string at line 2 column 24'),
    (doc(nodes='[{"id": 7}]'), 'Invalid type for "id": expected a string, found a number at line 2 column 18'),
    (doc(nodes='[{"id": "A", "memory_lifetime_ms": true}]'),
      'Invalid type for "memory_lifetime_ms": expected a number, found a boolean at line 2 column 45'),
    (doc(nodes='[{"id": "A", "memory_capacity": "4"}]'),
      'Invalid type for "memory_capacity": expected an integer, found a string at line 2 column 42'),
    (doc(extra=', "config": []'), 'Invalid type for "config": expected an object, found an array at line 3 column 24'),
    (doc(TWO_NODES, one_link(distance_km=None)),
      'Null is not allowed for required key "distance_km" at line 3 column 51'),
    (doc(nodes='[{"id": "A", "memory_capacity": 4.0}]'), U32_MESSAGE.format("4.0")),
    (doc(nodes='[{"id": "A", "memory_capacity": -1}]'), U32_MESSAGE.format("-1")),
    (doc(nodes='[{"id": "A", "memory_capacity": 4294967296}]'), U32_MESSAGE.format("4294967296")),
    (doc(nodes='[{"id": "A", "node_type": "Ground"}]'),
      'Unknown node_type "Ground", expected one of "ground", "satellite", "repeater" at line 2 column 36'),
    (doc(TWO_NODES, one_link(link_type="fibre\n")),
      'Unknown link_type "fibre\\u000A", expected one of "fiber", "satellite" at line 3 column 118'),
    (doc(nodes='[{"id": "\\udc00"}]'), "Invalid lone surrogate escape in string at line 2 column 18"),
    (doc(nodes='[{"\\udc00": 1}]'), "Invalid lone surrogate escape in string at line 2 column 12"),
    (doc() + "\n{}", "The document root must not be followed by other values at line 5 column 1"),
    (doc(nodes='[{"id": "A"},]'), "Invalid value at line 2 column 23"),
    (doc()[:-2], "Missing a comma or '}' after an object member at line 3 column 12"),
    (doc(TWO_NODES, one_link(distance_km=...)[:-2] + ', "distance_km": 1e400}]'),
      "Number too big to be stored in double at line 3 column 100"),
    (doc(nodes='[{"id": "A"}\0]'), "Unexpected NUL character at line 2 column 22"),
    (doc() + "\0", "Unexpected NUL character at line 4 column 2"),
    ("\ufeff" + doc(), "Invalid value at line 1 column 1"),
]  # fmt: skip


# The required keys of each record, and how messages name the record.
REQUIRED = {
    (): ("the document", "version metadata nodes links"),
    ("metadata",): ("metadata", "name"),
    ("nodes", 0): ("a node", "id"),
    ("links", 0, "satellite"): ("satellite", "visibility weather_factor"),
    ("links", 0): ("a link", "from to distance_km base_fidelity generation_rate_hz"),
}


class TestReaderRejects:
    @pytest.mark.parametrize("text, message", REJECTED, ids=[m.split(" at line")[0][:60] for _, m in REJECTED])
    def test_message_names_the_problem_and_its_position(self, tmp_path, text, message):
        assert load_error(write(tmp_path, text)) == "JSON parse error: " + message

    @pytest.mark.parametrize("where, key", [(w, k) for w, (_, keys) in REQUIRED.items() for k in keys.split()])
    def test_every_required_key_is_required(self, tmp_path, where, key):
        document = json.loads(doc(TWO_NODES, one_link(satellite={"visibility": 1.0, "weather_factor": 1.0})))
        record = document
        for step in where:
            record = record[step]
        del record[key]
        expected = f'JSON parse error: Missing required key "{key}" in {REQUIRED[where][0]} at line 1 column \\d+'
        assert re.fullmatch(expected, load_error(write(tmp_path, json.dumps(document))))

    @pytest.mark.parametrize("newline", ["\n", "\r\n"])
    def test_columns_count_characters_not_bytes(self, tmp_path, newline):
        text = '{"version": "1.0",' + newline + ' "metadata": {"name": "é€𝄞", "name": "x"}, "nodes": [], "links": []}'
        assert (
            load_error(write(tmp_path, text))
            == 'JSON parse error: Duplicate key "name" in metadata at line 2 column 30'
        )

    @pytest.mark.parametrize(
        "text, offset",
        [
            *[(bad, 0) for bad in b"\xff \xc0\x80 \xe0\x9f\xbf \xed\xa0\x80 \xf0\x8f\xbf\xbf \xf4\x90\x80\x80".split()],
            (b"ok\xe2\x82", 2),
            (b"\xc3\xa9\x80", 2),
            # the first and last characters of each length and around the surrogates
            ("\x80\u07ff\u0800\ud7ff\ue000\uffff\U00010000\U0010ffff".encode(), None),
            # across the megabyte at which the reader checks what it has read so far
            pytest.param(MEGABYTE_PAD + "\U00010000€".encode(), None, id="valid across a megabyte"),
            pytest.param(MEGABYTE_PAD + b"\xf1\x80\x80\x80\x80", len(MEGABYTE_PAD) + 4, id="valid, then not"),
            pytest.param(MEGABYTE_PAD + b"\xf1\x80\x80\xff", len(MEGABYTE_PAD), id="cut short across a megabyte"),
        ],
    )
    def test_file_text_must_be_utf8(self, tmp_path, text, offset):
        head = b'{"version": "1.0", "metadata": {"name": "'
        path = write(tmp_path, head + text + b'"}, "nodes": [], "links": []}')
        if offset is None:
            assert vc.load_vorn_file(path).metadata.name == text.decode()
        else:
            assert load_error(path) == f"IO error: file is not valid UTF-8 (byte offset {len(head) + offset})"


def test_values_read_as_written(tmp_path):
    f = vc.load_vorn_file(
        write(
            tmp_path,
            doc(
                '[{"id": "A", "memory_capacity": 4294967295, "memory_lifetime_ms": 1e-400, "x": 1, "x": [2]}, '
                '{"id": "B", "memory_capacity": -0, "memory_lifetime_ms": -0}]',
                '[{"from": "A", "src": "B", "to": "B", "distance_km": 10, "base_fidelity": 1, '
                '"generation_rate_hz": 25E2}]',
                extra=', "y": {}, "y": null',
            ),
        )
    )
    a, b = f.nodes
    assert (a.memory_capacity, a.memory_lifetime_ms, b.memory_capacity) == (4294967295, 0.0, 0)
    assert math.copysign(1.0, b.memory_lifetime_ms) == -1.0
    l = f.links[0]
    assert (l.src, l.distance_km, l.generation_rate_hz) == ("A", 10.0, 2500.0) and type(l.distance_km) is float


class TestWriterLayout:
    def test_empty_sections_are_empty_objects_and_extensions_are_never_written(self, tmp_path):
        f = vc.VornFile("net")
        f.config = vc.VornConfig()
        f.constraints = vc.VornConstraints()
        f.extensions = {"custom": {"b": 1, "a": 2}}
        assert saved_text(tmp_path, f) == EMPTY_NET[:-2] + ',\n  "config": {},\n  "constraints": {}\n}'

    def test_strings_are_escaped_and_non_ascii_is_raw(self, tmp_path):
        f = vc.VornFile('q"b\\s/\n\t\x01\x7fé€𝄞\0')
        assert '"name": "q\\"b\\\\s/\\n\\t\\u0001\x7fé€𝄞\\u0000"' in saved_text(tmp_path, f)  # raw UTF-8
        assert vc.load_vorn_file(str(tmp_path / "out.vorn")).metadata.name == 'q"b\\s/\n\t\x01\x7fé€𝄞\0'


def test_a_loaded_file_saves_in_the_writer_layout(tmp_path):
    """Members in any order, nulls and unknown keys at every level read; every field written in record order;
    unknown keys, nulls and extensions dropped; a link without id gets an empty one."""
    f = vc.load_vorn_file(os.path.join(DATA, "full.vorn"))
    assert f.extensions is None
    with open(os.path.join(DATA, "full.saved.vorn"), encoding="utf-8", newline="") as handle:
        assert saved_text(tmp_path, f) == handle.read()
