"""Loading and saving .vorn files: read failures, version check, atomic replacement, and the engine bridge."""
import json
import os
import stat
import subprocess
import sys
import textwrap

import pytest

import vorn_core as vc

AS_ROOT = os.geteuid() == 0

VALID = {
    "version": "1.0",
    "metadata": {"name": "net"},
    "nodes": [{"id": "A", "memory_lifetime_ms": 1500}, {"id": "B"}],
    "links": [{"from": "A", "to": "B", "distance_km": 10, "base_fidelity": 0.9, "generation_rate_hz": 100}],
}

EMPTY_NET = '{\n  "version": "1.0",\n  "metadata": {\n    "name": "net"\n  },\n  "nodes": [],\n  "links": []\n}'


def write_json(path, doc):
    path.write_text(json.dumps(doc), encoding="utf-8")
    return str(path)


def load_failure(path):
    with pytest.raises(RuntimeError) as raised:
        vc.load_vorn_file(path)
    return str(raised.value)


class TestLoadFailures:
    def test_missing_file(self, tmp_path):
        path = str(tmp_path / "missing.vorn")
        assert load_failure(path) == f"Failed to load {path}: IO error: No such file or directory"

    def test_directory(self, tmp_path):
        assert load_failure(str(tmp_path)) == f"Failed to load {tmp_path}: IO error: Is a directory"

    def test_path_below_a_regular_file(self, tmp_path):
        (tmp_path / "plain").write_text("x")
        path = str(tmp_path / "plain" / "t.vorn")
        assert load_failure(path) == f"Failed to load {path}: IO error: Not a directory"

    @pytest.mark.skipif(AS_ROOT, reason="permission bits do not stop root")
    def test_unreadable_file(self, tmp_path):
        path = tmp_path / "secret.vorn"
        write_json(path, VALID)
        path.chmod(0)
        assert load_failure(str(path)) == f"Failed to load {path}: IO error: Permission denied"

    def test_device_without_content(self):
        assert load_failure("/dev/null") == (
            "Failed to load /dev/null: JSON parse error: The document is empty at line 1 column 1")

    @pytest.mark.parametrize("version", ["2.0", "1.00", "1", "", " 1.0", "1.0 ", "v1.0", "1,0"])
    def test_only_version_one_point_zero_loads(self, tmp_path, version):
        doc = dict(VALID, version=version, nodes=[{"id": "A"}, {"id": "A"}])  # also invalid: not checked
        path = write_json(tmp_path / "v.vorn", doc)
        assert load_failure(path) == f"Failed to load {path}: Unsupported vorn version: {version}"

    def test_version_is_checked_after_parsing(self, tmp_path):
        path = tmp_path / "v.vorn"
        path.write_text('{"version": "2.0", "metadata": {"name": "n"}, "nodes": []}')
        assert load_failure(str(path)) == (
            f'Failed to load {path}: JSON parse error: Missing required key "links" in the document '
            "at line 1 column 58")

    def test_text_with_nul_characters_is_reported_whole(self, tmp_path):
        path = write_json(tmp_path / "v.vorn", dict(VALID, version="1.0\0beta"))
        assert load_failure(path) == f"Failed to load {path}: Unsupported vorn version: 1.0\0beta"
        path = write_json(tmp_path / "d.vorn", dict(VALID, nodes=[{"id": "A\0B"}, {"id": "A\0B"}], links=[]))
        assert load_failure(path) == (
            f"Failed to load {path}: Validation failed:\nValidation failed.\n\nErrors:\n"
            "   - Duplicate node ID: A\0B\n   - Graph is disconnected with 2 components\n")

    def test_unicode_path(self, tmp_path):
        path = write_json(tmp_path / "réseau €.vorn", VALID)
        assert repr(vc.load_vorn_file(path)) == "VornFile(version='1.0', metadata={name:'net'}, nodes=2, links=1)"
        missing = str(tmp_path / "ñ.vorn")
        assert load_failure(missing) == f"Failed to load {missing}: IO error: No such file or directory"


class TestPathsWithNulCharacters:
    """The system would stop reading a name at a NUL character and use another file."""

    def test_load_refuses(self, tmp_path):
        path = write_json(tmp_path / "good.vorn", VALID) + "\0.bak"
        assert load_failure(path) == f"Failed to load {path}: IO error: Invalid argument"
        assert vc.diff(path, path) == {"error": f"Failed to load {path}: IO error: Invalid argument"}

    def test_save_refuses_and_writes_nothing(self, tmp_path):
        with pytest.raises(RuntimeError) as raised:
            vc.VornFile("net").save(str(tmp_path / "out.vorn") + "\0.bak")
        assert str(raised.value) == "IO error: Invalid argument"
        assert os.listdir(tmp_path) == []


def listing(directory):
    return sorted(os.listdir(directory))


class TestSave:
    def test_new_file(self, tmp_path):
        path = tmp_path / "net.vorn"
        assert vc.VornFile("net").save(str(path)) is None
        assert path.read_text(encoding="utf-8") == EMPTY_NET
        assert listing(tmp_path) == ["net.vorn"]

    def test_module_function_writes_the_same_bytes(self, tmp_path):
        f = vc.load_vorn_file(write_json(tmp_path / "in.vorn", VALID))
        f.save(str(tmp_path / "method.vorn"))
        assert vc.save_vorn_file_wrapper(f, str(tmp_path / "function.vorn")) is None
        vc.save(qf=f, filepath=str(tmp_path / "alias.vorn"))
        texts = {name: (tmp_path / name).read_bytes() for name in ("method.vorn", "function.vorn", "alias.vorn")}
        assert len(set(texts.values())) == 1

    def test_replaces_a_longer_file_completely(self, tmp_path):
        path = tmp_path / "net.vorn"
        path.write_text("x" * 10_000)
        vc.VornFile("net").save(str(path))
        assert path.read_text(encoding="utf-8") == EMPTY_NET
        assert listing(tmp_path) == ["net.vorn"]

    def test_nothing_is_validated_before_saving(self, tmp_path):
        f = vc.VornFile("net")
        f.version = "9"
        f.add_node("A")
        f.add_node("A")
        f.add_link("", "A", "Z", -1, 7, 0)
        path = str(tmp_path / "bad.vorn")
        f.save(path)
        assert json.loads(open(path).read())["version"] == "9"

    def test_a_reader_of_the_old_file_keeps_the_old_text(self, tmp_path):
        path = tmp_path / "net.vorn"
        path.write_text("old content")
        with open(path) as reader:
            vc.VornFile("net").save(str(path))
            assert reader.read() == "old content"
        assert path.read_text() == EMPTY_NET

    def test_permissions_of_a_replaced_file_are_kept(self, tmp_path):
        path = tmp_path / "net.vorn"
        path.write_text("old")
        path.chmod(0o640)
        vc.VornFile("net").save(str(path))
        assert stat.S_IMODE(path.stat().st_mode) == 0o640

    def test_new_file_follows_the_umask(self, tmp_path):
        old = os.umask(0o027)
        try:
            vc.VornFile("net").save(str(tmp_path / "net.vorn"))
        finally:
            os.umask(old)
        assert stat.S_IMODE((tmp_path / "net.vorn").stat().st_mode) == 0o640

    def test_saving_through_a_symbolic_link_replaces_its_target(self, tmp_path):
        (tmp_path / "real").mkdir()
        target = tmp_path / "real" / "net.vorn"
        target.write_text("old")
        link = tmp_path / "link.vorn"
        link.symlink_to(os.path.join("real", "net.vorn"))
        vc.VornFile("net").save(str(link))
        assert link.is_symlink() and os.readlink(link) == os.path.join("real", "net.vorn")
        assert target.read_text() == EMPTY_NET
        assert listing(tmp_path / "real") == ["net.vorn"] and listing(tmp_path) == ["link.vorn", "real"]

    def test_a_dangling_symbolic_link_gets_its_target_created(self, tmp_path):
        link = tmp_path / "link.vorn"
        link.symlink_to(tmp_path / "new.vorn")
        vc.VornFile("net").save(str(link))
        assert link.is_symlink() and (tmp_path / "new.vorn").read_text() == EMPTY_NET

    @pytest.mark.parametrize("length", [200, 225])
    def test_long_names(self, tmp_path, length):
        path = tmp_path / ("n" * (length - 5) + ".vorn")
        vc.VornFile("net").save(str(path))
        assert listing(tmp_path) == [path.name] and path.read_text() == EMPTY_NET

    @pytest.mark.parametrize("length", [240, 255])
    def test_names_near_the_file_system_limit(self, tmp_path, length):
        path = tmp_path / ("n" * (length - 5) + ".vorn")
        vc.VornFile("net").save(str(path))
        assert listing(tmp_path) == [path.name] and path.read_text() == EMPTY_NET

    def test_name_beyond_the_file_system_limit(self, tmp_path):
        with pytest.raises(RuntimeError, match="^IO error: File name too long$"):
            vc.VornFile("net").save(str(tmp_path / ("n" * 251 + ".vorn")))
        assert listing(tmp_path) == []

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

    def test_relative_path(self, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        vc.VornFile("net").save("net.vorn")
        assert listing(tmp_path) == ["net.vorn"]
        assert vc.load_vorn_file("net.vorn").metadata.name == "net"


class TestFailedSave:
    @pytest.fixture
    def tree(self, tmp_path):
        (tmp_path / "dir").mkdir()
        (tmp_path / "dir" / "inside.txt").write_text("keep")
        (tmp_path / "plain").write_text("plain text")
        (tmp_path / "to-dir").symlink_to(tmp_path / "dir")
        return tmp_path

    def snapshot(self, root):
        found = {}
        for folder, dirs, files in os.walk(root):
            for name in dirs + files:
                path = os.path.join(folder, name)
                found[os.path.relpath(path, root)] = None if os.path.isdir(path) else open(path, "rb").read()
        return found

    @pytest.mark.parametrize(
        "target, message",
        [
            ("dir", "IO error: Is a directory"),
            ("to-dir", "IO error: Is a directory"),
            ("plain/net.vorn", "IO error: Not a directory"),
            ("missing/net.vorn", "IO error: No such file or directory"),
        ],
    )
    def test_nothing_changes(self, tree, target, message):
        before = self.snapshot(tree)
        for save in (lambda f, p: f.save(p), vc.save_vorn_file_wrapper):
            with pytest.raises(RuntimeError) as raised:
                save(vc.VornFile("net"), str(tree / target))
            assert str(raised.value) == message
        assert self.snapshot(tree) == before

    def test_empty_path(self):
        with pytest.raises(RuntimeError, match="^IO error: No such file or directory$"):
            vc.VornFile("net").save("")

    @pytest.mark.skipif(AS_ROOT, reason="permission bits do not stop root")
    def test_read_only_directory(self, tmp_path):
        folder = tmp_path / "ro"
        folder.mkdir()
        (folder / "net.vorn").write_text("old")
        folder.chmod(0o555)
        try:
            with pytest.raises(RuntimeError, match="^IO error: Permission denied$"):
                vc.VornFile("net").save(str(folder / "net.vorn"))
            assert listing(folder) == ["net.vorn"] and (folder / "net.vorn").read_text() == "old"
        finally:
            folder.chmod(0o755)

    def test_write_failing_midway_leaves_the_old_file_and_no_temporary(self, tmp_path):
        # A file size limit makes the write fail partway through, also for root.
        script = textwrap.dedent(
            """
            import resource, signal, sys
            import vorn_core as vc
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            f = vc.VornFile("big")
            for i in range(2000):
                f.add_node(f"N{i}", 1000.0, 4)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
            try:
                f.save(sys.argv[1])
            except RuntimeError as error:
                print(error)
            """
        )
        path = tmp_path / "net.vorn"
        path.write_text("old content")
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [os.path.dirname(vc.__file__),
                                                                         os.environ.get("PYTHONPATH")])))
        run = subprocess.run([sys.executable, "-c", script, str(path)], capture_output=True, text=True, env=env,
                             check=True)
        assert run.stdout == "IO error: File too large\n"
        assert path.read_text() == "old content"
        assert listing(tmp_path) == ["net.vorn"]


class TestEngineBridge:
    def test_from_vorn_file_returns_an_engine(self, tmp_path):
        path = write_json(tmp_path / "net.vorn", dict(VALID, config={"max_attempts": 20}))
        assert type(vc.from_vorn_file(path)) is vc.VornEngine
        assert type(vc.from_vorn_file(filepath=write_json(tmp_path / "plain.vorn", VALID))) is vc.VornEngine

    @pytest.mark.parametrize(
        "doc, detail",
        [
            (None, "IO error: No such file or directory"),
            (dict(VALID, version="2.0"), "Unsupported vorn version: 2.0"),
            (dict(VALID, links=[]), "Validation failed:\nValidation failed.\n\nErrors:\n"
                                    "   - Graph is disconnected with 2 components\n"),
        ],
    )
    def test_from_vorn_file_failures(self, tmp_path, doc, detail):
        path = tmp_path / "net.vorn"
        if doc is not None:
            write_json(path, doc)
        with pytest.raises(RuntimeError) as raised:
            vc.from_vorn_file(str(path))
        assert str(raised.value) == f"Failed to load {path}: {detail}"

    def test_define_network_from_a_loaded_file(self, tmp_path):
        engine = vc.VornEngine()
        f = vc.load_vorn_file(write_json(tmp_path / "net.vorn", VALID))
        assert engine.define_network_from_vorn(f) is None
        assert engine.define_network_from_vorn(qf=vc.VornFile("empty")) is None

    def test_define_network_does_not_validate(self):
        f = vc.VornFile("net")
        f.add_node("A")
        f.add_node("A")
        f.add_link("", "A", "Z", -1.0, 2.0, 0.0, vc.VornLinkType.Satellite, vc.VornSatelliteExtension(0, 0))
        assert vc.VornEngine().define_network_from_vorn(f) is None


def test_calls_keep_reference_counts(tmp_path):
    good = write_json(tmp_path / "good.vorn", VALID)
    bad = write_json(tmp_path / "bad.vorn", dict(VALID, links=[]))
    missing = str(tmp_path / "missing.vorn")
    out = str(tmp_path / "out.vorn")
    blocked = str(tmp_path / "good.vorn" / "x.vorn")
    held = object()
    f = vc.load_vorn_file(good)
    f.extensions = held
    engine = vc.VornEngine()

    def churn():
        vc.load_vorn_file(good).nodes
        vc.validate(good)
        vc.diff(good, good)
        vc.diff(good, bad)
        f.save(out)
        vc.save_vorn_file_wrapper(f, out)
        engine.define_network_from_vorn(f)
        f.extensions
        for call in (lambda: vc.load_vorn_file(missing), lambda: vc.validate(bad), lambda: f.save(blocked),
                     lambda: vc.save_vorn_file_wrapper(f, blocked), lambda: vc.from_vorn_file(bad),
                     lambda: vc.save_vorn_file_wrapper(held, out), lambda: engine.define_network_from_vorn(held)):
            try:
                call()
            except (RuntimeError, TypeError):
                pass

    churn()
    before = [sys.getrefcount(x) for x in (good, bad, blocked, held, f, engine)]
    for _ in range(300):
        churn()
    assert [sys.getrefcount(x) for x in (good, bad, blocked, held, f, engine)] == before
