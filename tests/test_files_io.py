"""Loading and saving .vorn files: read failures, version check, atomic replacement, and the engine bridge."""
import json
import os
import stat
import subprocess
import sys

import pytest

import vorn_core as vc
from conftest import ctrl_c_after

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
        pytest.param(lambda tmp: "/dev/zero", "IO error: not a regular file", id="an endless device"),
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


class TestSave:
    def test_every_save_function_writes_the_same_text(self, tmp_path):
        f = vc.VornFile("net")
        assert f.save(str(tmp_path / "a.vorn")) is None and vc.save(qf=f, filepath=str(tmp_path / "b.vorn")) is None
        assert vc.save_vorn_file_wrapper(f, str(tmp_path / "c.vorn")) is None
        assert [(tmp_path / name).read_text() for name in listing(tmp_path)] == [EMPTY_NET] * 3

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

    def test_a_file_with_two_names_is_written_in_place(self, tmp_path):
        first, second = tmp_path / "a.vorn", tmp_path / "b.vorn"
        first.write_text("old")
        os.link(first, second)
        vc.VornFile("net").save(str(first))
        assert second.read_text() == EMPTY_NET and os.path.samefile(first, second)
        assert listing(tmp_path) == ["a.vorn", "b.vorn"]

    def test_devices_and_pipes_are_written_in_place(self, tmp_path):
        vc.VornFile("net").save("/dev/null")
        fifo = tmp_path / "pipe.vorn"
        os.mkfifo(fifo)
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        try:
            vc.VornFile("net").save(str(fifo))
            assert os.read(reader, 1000).decode() == EMPTY_NET
        finally:
            os.close(reader)
        assert stat.S_ISFIFO(os.stat(fifo).st_mode) and listing(tmp_path) == ["pipe.vorn"]

    def test_standard_output_redirected_to_a_file_stays_that_file(self, tmp_path):
        out = tmp_path / "out.txt"
        with open(out, "w") as stdout:
            stdout.write("x" * 1000)
            stdout.flush()
            subprocess.run([sys.executable, "-c", "import vorn_core; vorn_core.VornFile('net').save('/dev/stdout')"],
                           stdout=stdout, check=True)
            assert os.fstat(stdout.fileno()).st_ino == out.stat().st_ino
        assert out.read_text() == EMPTY_NET and listing(tmp_path) == ["out.txt"]

    @pytest.mark.skipif(os.geteuid() != 0, reason="giving a file to another user needs root")
    def test_owner_and_group_are_kept(self, tmp_path):
        path = tmp_path / "net.vorn"
        path.write_text("old")
        os.chown(path, 1234, 5678)
        path.chmod(0o4640)
        vc.VornFile("net").save(str(path))
        info = path.stat()
        assert (info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode)) == (1234, 5678, 0o4640)
        assert path.read_text() == EMPTY_NET


def as_another_user(folder, action):
    """Runs action() in folder from a child process, as the user nobody when this process is root (whose writes no
    permission bit refuses). Returns the text of what it raised, or None."""
    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        message = b""
        try:
            os.chdir(folder)
            if os.geteuid() == 0:
                os.setgid(65534)
                os.setuid(65534)
            action()
        except BaseException as error:
            message = str(error).encode()
        os.write(write_end, message)
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        message = pipe.read().decode()
    os.waitpid(child, 0)
    return message or None


def save_empty_net():
    vc.VornFile("net").save("net.vorn")


NOBODY = 65534 if os.geteuid() == 0 else os.geteuid()


class TestSaveWhereRenamingCannot:
    """Each case is one that a write through a temporary file and a rename would refuse or get wrong."""

    @pytest.fixture
    def folder(self, tmp_path):
        folder = tmp_path / "folder"
        folder.mkdir()
        (folder / "net.vorn").write_text("old")
        os.chown(folder / "net.vorn", NOBODY, NOBODY)
        yield folder
        folder.chmod(0o755)

    def test_a_writable_file_in_a_directory_that_takes_no_new_file(self, folder):
        inode = (folder / "net.vorn").stat().st_ino
        folder.chmod(0o555)
        assert as_another_user(folder, save_empty_net) is None
        assert (folder / "net.vorn").read_text() == EMPTY_NET and (folder / "net.vorn").stat().st_ino == inode
        assert listing(folder) == ["net.vorn"]

    def test_a_directory_that_cannot_be_synced_after_the_rename(self, folder):
        inode = (folder / "net.vorn").stat().st_ino
        folder.chmod(0o333)  # no reading: it cannot be opened to sync it
        assert as_another_user(folder, save_empty_net) is None
        folder.chmod(0o755)
        assert (folder / "net.vorn").read_text() == EMPTY_NET and (folder / "net.vorn").stat().st_ino != inode
        assert listing(folder) == ["net.vorn"]

    def test_a_file_this_user_may_not_write_is_refused_not_replaced(self, folder):
        path = folder / "net.vorn"
        if os.geteuid() == 0:
            os.chown(path, 0, 0)  # root's, for nobody
        path.chmod(0o444)
        folder.chmod(0o777)
        assert as_another_user(folder, save_empty_net) == "IO error: Permission denied"
        assert path.read_text() == "old" and listing(folder) == ["net.vorn"]

    @pytest.mark.skipif(os.geteuid() != 0, reason="a file of another user needs root to make")
    def test_a_writable_file_of_another_user(self, folder):
        path = folder / "net.vorn"
        os.chown(path, 0, 0)
        path.chmod(0o666)
        folder.chmod(0o777)
        inode = path.stat().st_ino
        assert as_another_user(folder, save_empty_net) is None
        assert path.read_text() == EMPTY_NET and path.stat().st_ino == inode and path.stat().st_uid == 0
        assert listing(folder) == ["net.vorn"]


class TestFailedSave:
    @pytest.fixture
    def tree(self, tmp_path):
        (tmp_path / "dir").mkdir()
        (tmp_path / "dir" / "inside.txt").write_text("keep")
        (tmp_path / "to-dir").symlink_to(tmp_path / "dir")
        (tmp_path / "loop-a").symlink_to("loop-b")
        (tmp_path / "loop-b").symlink_to("loop-a")
        os.mkfifo(tmp_path / "pipe")
        return tmp_path

    def snapshot(self, root):
        entries = sorted((str(p.relative_to(root)), p.is_symlink()) for p in root.rglob("*"))
        return entries, (root / "dir" / "inside.txt").read_text()

    @pytest.mark.parametrize(
        "target, message",
        [
            ("to-dir", "IO error: Is a directory"),
            ("n" * 251 + ".vorn", "IO error: File name too long"),
            ("loop-a", "IO error: Too many levels of symbolic links"),
            pytest.param("pipe", "IO error: No such device or address", id="a FIFO without a reader"),
        ],
    )
    def test_nothing_changes(self, tree, target, message):
        before = self.snapshot(tree)
        with pytest.raises(RuntimeError) as raised:
            vc.VornFile("net").save(str(tree / target))
        assert str(raised.value) == message
        assert self.snapshot(tree) == before


def test_ctrl_c_stops_a_long_load(tmp_path):
    # A valid file whose unknown key holds millions of zeros, which the reader checks and skips.
    path = write_text(tmp_path / "long.vorn", json.dumps(VALID)[:-1] + ', "filler": [' + "0," * 8_000_000 + "0]}")
    done = []
    with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.002):
        vc.load_vorn_file(path)
        done.append(True)
    assert done == []


def test_ctrl_c_stops_a_save_into_a_full_pipe(tmp_path):
    fifo = tmp_path / "pipe.vorn"
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)  # and never reads
    f = vc.VornFile("net")
    for i in range(20_000):
        f.add_node(f"node-{i}")
    try:
        with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.05):
            f.save(str(fifo))
    finally:
        os.close(reader)


def test_engine_bridge(tmp_path):
    path = write_json(tmp_path / "net.vorn", dict(VALID, config={}))

    def network(engine):
        context = engine.simulate("A", "B", 0.5, 100.0, 1, seed=1)._context
        return context.nodes, context.links

    expected = ([("A", 1.5), ("B", 1.0)], [("A", "B", 10.0, 0.9, 100.0)])
    assert network(vc.from_vorn_file(path)) == expected
    engine = vc.VornEngine()
    assert engine.define_network_from_vorn(vc.load_vorn_file(path)) is None
    assert network(engine) == expected
    # Defining a network from a file in memory does not validate it.
    f = vc.VornFile("net")
    f.add_node("A", 2000.0)
    f.add_node("A")
    f.add_node("B")
    f.add_link("", "A", "Z", -1.0, 2.0, 0.0, vc.VornLinkType.Satellite, vc.VornSatelliteExtension(0, 0))
    f.add_link("L", "B", "A", 5.0, 0.5, 7.0)
    engine.define_network_from_vorn(qf=f)
    assert network(engine) == ([("A", 1.0), ("B", 1.0)], [("A", "Z", -1.0, 2.0, 0.0), ("B", "A", 5.0, 0.5, 7.0)])


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
