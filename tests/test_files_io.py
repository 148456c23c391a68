"""Loading and saving .vorn files: read failures, version check, atomic replacement, and the engine bridge."""
import json
import os
import stat
import sys

import pytest

import vorn_core as vc

VALID = {
    "version": "1.0",
    "metadata": {"name": "net"},
    "nodes": [{"id": "A", "memory_lifetime_ms": 1500}, {"id": "B"}],
    "links": [{"from": "A", "to": "B", "distance_km": 10, "base_fidelity": 0.9, "generation_rate_hz": 100}],
}

EMPTY_NET = '{\n  "version": "1.0",\n  "metadata": {\n    "name": "net"\n  },\n  "nodes": [],\n  "links": []\n}'


def write_text(path, text):
    path.write_text(text, encoding="utf-8")
    return str(path)


def write_json(path, doc):
    return write_text(path, json.dumps(doc))


def listing(directory):
    return sorted(os.listdir(directory))


def invalid_and_versioned(version):
    return dict(VALID, version=version, nodes=[{"id": "A"}, {"id": "A"}])  # the version is checked first


@pytest.mark.parametrize(
    "make, detail",
    [
        pytest.param(lambda tmp: str(tmp / "ñ.vorn"), "IO error: No such file or directory", id="missing"),
        pytest.param(lambda tmp: str(tmp), "IO error: Is a directory", id="directory"),
        pytest.param(lambda tmp: "/dev/null", "JSON parse error: The document is empty at line 1 column 1",
                     id="no size, no content"),
        pytest.param(lambda tmp: write_json(tmp / "v.vorn", invalid_and_versioned("1.00")),
                     "Unsupported vorn version: 1.00", id="version compared as text"),
        pytest.param(lambda tmp: write_json(tmp / "v.vorn", invalid_and_versioned("1.0 ")),
                     "Unsupported vorn version: 1.0 ", id="version compared whole"),
        pytest.param(lambda tmp: write_json(tmp / "v.vorn", invalid_and_versioned("1.0\0beta")),
                     "Unsupported vorn version: 1.0\0beta", id="a NUL character in the text"),
        pytest.param(lambda tmp: write_text(tmp / "v.vorn", '{"version": "2.0", "metadata": {"name": "n"}, "nodes": []}'),
                     'JSON parse error: Missing required key "links" in the document at line 1 column 58',
                     id="parsing before the version"),
    ],
)
def test_every_entry_point_reports_a_load_failure_whole(tmp_path, make, detail):
    path = make(tmp_path)
    message = f"Failed to load {path}: {detail}"
    for call in (vc.load_vorn_file, vc.validate, vc.from_vorn_file):
        with pytest.raises(RuntimeError) as raised:
            call(path)
        assert str(raised.value) == message
    assert vc.diff(path, path) == {"error": message}


def test_paths_with_a_nul_character_are_refused(tmp_path):
    """The system would stop reading the name at the NUL and use another file."""
    path = write_json(tmp_path / "good.vorn", VALID) + "\0.bak"
    with pytest.raises(RuntimeError, match="^Failed to load .*: IO error: Invalid argument$"):
        vc.load_vorn_file(path)
    with pytest.raises(RuntimeError, match="^IO error: Invalid argument$"):
        vc.VornFile("net").save(str(tmp_path / "out.vorn") + "\0.bak")
    assert listing(tmp_path) == ["good.vorn"]


class TestSave:
    def test_every_save_function_writes_the_same_text(self, tmp_path):
        f = vc.VornFile("net")
        assert f.save(str(tmp_path / "method.vorn")) is None
        assert vc.save_vorn_file_wrapper(f, str(tmp_path / "function.vorn")) is None
        vc.save(qf=f, filepath=str(tmp_path / "alias.vorn"))
        for name in ("method.vorn", "function.vorn", "alias.vorn"):
            assert (tmp_path / name).read_text(encoding="utf-8") == EMPTY_NET
        assert listing(tmp_path) == ["alias.vorn", "function.vorn", "method.vorn"]

    def test_the_old_file_is_replaced_whole_and_an_open_reader_keeps_it(self, tmp_path):
        path = tmp_path / "net.vorn"
        path.write_text("x" * 10_000)
        with open(path) as reader:
            vc.VornFile("net").save(str(path))
            assert reader.read() == "x" * 10_000
        assert path.read_text() == EMPTY_NET
        assert listing(tmp_path) == ["net.vorn"]

    def test_permissions_kept_when_replacing_and_from_the_umask_when_new(self, tmp_path):
        old = tmp_path / "old.vorn"
        old.write_text("old")
        old.chmod(0o604)
        mask = os.umask(0o027)
        try:
            vc.VornFile("net").save(str(old))
            vc.VornFile("net").save(str(tmp_path / "new.vorn"))
        finally:
            os.umask(mask)
        assert stat.S_IMODE(old.stat().st_mode) == 0o604
        assert stat.S_IMODE((tmp_path / "new.vorn").stat().st_mode) == 0o640

    def test_a_symbolic_link_is_followed_to_its_target_even_a_missing_one(self, tmp_path):
        (tmp_path / "real").mkdir()
        target = tmp_path / "real" / "net.vorn"
        target.write_text("old")
        link = tmp_path / "link.vorn"
        link.symlink_to(os.path.join("real", "net.vorn"))
        dangling = tmp_path / "dangling.vorn"
        dangling.symlink_to(tmp_path / "new.vorn")
        vc.VornFile("net").save(str(link))
        vc.VornFile("net").save(str(dangling))
        assert link.is_symlink() and os.readlink(link) == os.path.join("real", "net.vorn")
        assert dangling.is_symlink() and target.read_text() == (tmp_path / "new.vorn").read_text() == EMPTY_NET
        assert listing(tmp_path / "real") == ["net.vorn"]
        assert listing(tmp_path) == ["dangling.vorn", "link.vorn", "new.vorn", "real"]

    def test_a_relative_name_at_the_file_system_limit(self, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        name = "n" * 250 + ".vorn"
        vc.VornFile("net").save(name)
        assert listing(tmp_path) == [name]
        assert vc.load_vorn_file(name).metadata.name == "net"


class TestFailedSave:
    @pytest.fixture
    def tree(self, tmp_path):
        (tmp_path / "dir").mkdir()
        (tmp_path / "dir" / "inside.txt").write_text("keep")
        (tmp_path / "to-dir").symlink_to(tmp_path / "dir")
        return tmp_path

    def snapshot(self, root):
        return sorted(str(p.relative_to(root)) for p in root.rglob("*")), (root / "dir" / "inside.txt").read_text()

    @pytest.mark.parametrize(
        "target, message",
        [
            ("dir", "IO error: Is a directory"),
            ("to-dir", "IO error: Is a directory"),
            ("missing/net.vorn", "IO error: No such file or directory"),
            pytest.param("n" * 251 + ".vorn", "IO error: File name too long", id="fails at the rename, after writing"),
        ],
    )
    def test_nothing_changes(self, tree, target, message):
        before = self.snapshot(tree)
        with pytest.raises(RuntimeError) as raised:
            vc.VornFile("net").save(str(tree / target))
        assert str(raised.value) == message
        assert self.snapshot(tree) == before

    def test_a_fifo_is_refused_not_replaced(self, tmp_path):
        path = tmp_path / "pipe.vorn"
        os.mkfifo(path)
        reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        try:
            with pytest.raises(RuntimeError, match="^IO error: Operation not supported$"):
                vc.VornFile("net").save(str(path))
            assert stat.S_ISFIFO(os.stat(path).st_mode)
            assert listing(tmp_path) == ["pipe.vorn"]
        finally:
            os.close(reader)


def test_engine_bridge(tmp_path):
    path = write_json(tmp_path / "net.vorn", dict(VALID, config={}))
    assert type(vc.from_vorn_file(path)) is vc.VornEngine
    engine = vc.VornEngine()
    assert engine.define_network_from_vorn(vc.load_vorn_file(path)) is None
    # Defining a network from a file in memory does not validate it.
    f = vc.VornFile("net")
    f.add_node("A")
    f.add_node("A")
    f.add_link("", "A", "Z", -1.0, 2.0, 0.0, vc.VornLinkType.Satellite, vc.VornSatelliteExtension(0, 0))
    assert engine.define_network_from_vorn(qf=f) is None


def test_calls_keep_reference_counts(tmp_path):
    good = write_json(tmp_path / "good.vorn", VALID)
    bad = write_json(tmp_path / "bad.vorn", dict(VALID, links=[]))
    out, blocked = str(tmp_path / "out.vorn"), str(tmp_path / "good.vorn" / "x.vorn")
    held, engine = object(), vc.VornEngine()
    f = vc.load_vorn_file(good)
    f.extensions = held
    calls = [lambda: vc.load_vorn_file(good).nodes, lambda: vc.validate(good), lambda: vc.diff(good, good),
             lambda: vc.diff(good, bad), lambda: f.save(out), lambda: vc.save_vorn_file_wrapper(f, out),
             lambda: engine.define_network_from_vorn(f), lambda: f.extensions,
             lambda: vc.load_vorn_file(bad), lambda: vc.validate(bad), lambda: vc.from_vorn_file(bad),
             lambda: f.save(blocked), lambda: vc.save_vorn_file_wrapper(f, blocked),
             lambda: vc.save_vorn_file_wrapper(held, out), lambda: engine.define_network_from_vorn(held)]

    def churn():
        for call in calls:
            try:
                call()
            except (RuntimeError, TypeError):
                pass

    churn()
    before = [sys.getrefcount(x) for x in (good, bad, blocked, held, f, engine)]
    for _ in range(100):
        churn()
    assert [sys.getrefcount(x) for x in (good, bad, blocked, held, f, engine)] == before
