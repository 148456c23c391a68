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

ROOT, NOBODY = os.geteuid() == 0, 65534
EMPTY_NET = '{\n  "version": "1.0",\n  "metadata": {\n    "name": "net"\n  },\n  "nodes": [],\n  "links": []\n}'


def write_text(path, text):
    path.write_text(text, encoding="utf-8")
    return str(path)


def listing(directory):
    return sorted(os.listdir(directory))


def save_net(path="net.vorn"):
    vc.VornFile("net").save(str(path))


def versioned(tmp, version):  # in an invalid network: the version is checked first
    return write_text(tmp / "v.vorn", json.dumps(dict(VALID, version=version, nodes=[{"id": "A"}, {"id": "A"}])))


@pytest.mark.parametrize(
    "make, detail",
    [
        (lambda tmp: str(tmp / "ñ.vorn"), "IO error: No such file or directory"),
        (lambda tmp: "/dev/zero", "IO error: not a regular file"),  # an endless device
        # The version is compared as text, whole, NULs included...
        *[(lambda tmp, v=v: versioned(tmp, v), f"Unsupported vorn version: {v}") for v in ("1.00", "1.0 ", "1.0\0b")],
        # ...and after parsing.
        (lambda tmp: write_text(tmp / "v.vorn", '{"version": "2.0", "metadata": {"name": "n"}, "nodes": []}'),
         'JSON parse error: Missing required key "links" in the document at line 1 column 58'),
    ],
)  # fmt: skip
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
            save_net(path)
            assert reader.read() == "x" * 10_000
        assert path.read_text() == EMPTY_NET and listing(tmp_path) == ["net.vorn"]

    def test_mode_owner_and_group_kept_when_replacing_and_the_umask_applied_when_new(self, tmp_path):
        old = tmp_path / "old.vorn"
        old.write_text("old")
        if ROOT:
            os.chown(old, 1234, 5678)
        old.chmod(0o4604)
        before = old.stat()
        mask = os.umask(0o027)
        try:
            save_net(old)
            save_net(tmp_path / "new.vorn")
        finally:
            os.umask(mask)
        after = old.stat()
        assert (after.st_uid, after.st_gid, stat.S_IMODE(after.st_mode)) == (before.st_uid, before.st_gid, 0o4604)
        assert stat.S_IMODE((tmp_path / "new.vorn").stat().st_mode) == 0o640 and old.read_text() == EMPTY_NET

    def test_a_symbolic_link_is_followed_to_its_target_even_a_missing_one(self, tmp_path):
        (tmp_path / "real").mkdir()
        (tmp_path / "real" / "net.vorn").write_text("old")
        link, dangling = tmp_path / "link.vorn", tmp_path / "dangling.vorn"
        link.symlink_to(os.path.join("real", "net.vorn"))
        dangling.symlink_to(tmp_path / "new.vorn")
        save_net(link)
        save_net(dangling)
        assert link.is_symlink() and os.readlink(link) == os.path.join("real", "net.vorn") and dangling.is_symlink()
        assert (tmp_path / "real" / "net.vorn").read_text() == (tmp_path / "new.vorn").read_text() == EMPTY_NET
        assert listing(tmp_path / "real") == ["net.vorn"]
        assert listing(tmp_path) == ["dangling.vorn", "link.vorn", "new.vorn", "real"]

    def test_a_relative_name_at_the_file_system_limit(self, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        name = "n" * 250 + ".vorn"
        save_net(name)
        assert listing(tmp_path) == [name] and vc.load_vorn_file(name).metadata.name == "net"

    def test_a_file_with_two_names_is_written_in_place(self, tmp_path):
        first, second = tmp_path / "a.vorn", tmp_path / "b.vorn"
        first.write_text("old")
        os.link(first, second)
        save_net(first)
        assert second.read_text() == EMPTY_NET and os.path.samefile(first, second)
        assert listing(tmp_path) == ["a.vorn", "b.vorn"]

    def test_devices_and_pipes_are_written_in_place(self, tmp_path):
        save_net("/dev/null")
        fifo = tmp_path / "pipe.vorn"
        os.mkfifo(fifo)
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        try:
            save_net(fifo)
            assert os.read(reader, 1000).decode() == EMPTY_NET
        finally:
            os.close(reader)
        assert stat.S_ISFIFO(os.stat(fifo).st_mode) and listing(tmp_path) == ["pipe.vorn"]

    def test_standard_output_redirected_to_a_file_stays_that_file(self, tmp_path):
        out = tmp_path / "out.txt"
        with open(out, "w") as stdout:
            stdout.write("x" * 1000)
            stdout.flush()
            subprocess.run(
                [sys.executable, "-c", "import vorn_core; vorn_core.VornFile('net').save('/dev/stdout')"],
                stdout=stdout,
                check=True,
            )
            assert os.fstat(stdout.fileno()).st_ino == out.stat().st_ino
        assert out.read_text() == EMPTY_NET and listing(tmp_path) == ["out.txt"]


def as_another_user(folder, action):
    """Runs action() in folder from a child process, as the user nobody when this process is root (whose writes no
    permission bit refuses). Returns the text of what it raised, or None."""
    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        message = b""
        try:
            os.chdir(folder)
            if ROOT:
                os.setgid(NOBODY)
                os.setuid(NOBODY)
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


AS_ROOT = pytest.mark.skipif(not ROOT, reason="a file of another user needs root to make")


# Each case is one that a write through a temporary file and a rename would refuse or get wrong.
@pytest.mark.parametrize(
    "owner, mode, folder_mode, error, same_inode",
    [
        (NOBODY, 0o644, 0o555, None, True),  # a writable file in a directory that takes no new file
        (NOBODY, 0o644, 0o333, None, False),  # a directory that cannot be opened to sync the rename
        (0, 0o444, 0o777, "IO error: Permission denied", True),  # a file nobody may not write
        pytest.param(0, 0o666, 0o777, None, True, marks=AS_ROOT),  # a writable file of another user
    ],
)
def test_save_where_renaming_cannot(tmp_path, owner, mode, folder_mode, error, same_inode):
    path = tmp_path / "net.vorn"
    path.write_text("old")
    if ROOT:
        os.chown(path, owner, owner)
    path.chmod(mode)
    before = path.stat()
    tmp_path.chmod(folder_mode)
    try:
        assert as_another_user(tmp_path, save_net) == error
    finally:
        tmp_path.chmod(0o755)
    after = path.stat()
    assert path.read_text() == ("old" if error else EMPTY_NET) and listing(tmp_path) == ["net.vorn"]
    assert (after.st_ino == before.st_ino, after.st_uid) == (same_inode, before.st_uid)


@pytest.mark.parametrize(
    "target, message",
    [("to-dir", "IO error: Is a directory"), ("n" * 251 + ".vorn", "IO error: File name too long"),
     ("loop-a", "IO error: Too many levels of symbolic links"), ("pipe", "IO error: No such device or address")],
)  # fmt: skip
def test_a_failed_save_changes_nothing(tmp_path, target, message):
    (tmp_path / "dir").mkdir()
    (tmp_path / "dir" / "inside.txt").write_text("keep")
    (tmp_path / "to-dir").symlink_to(tmp_path / "dir")
    (tmp_path / "loop-a").symlink_to("loop-b")
    (tmp_path / "loop-b").symlink_to("loop-a")
    os.mkfifo(tmp_path / "pipe")

    def snapshot():
        return sorted((str(p.relative_to(tmp_path)), p.is_symlink()) for p in tmp_path.rglob("*")), (
            tmp_path / "dir" / "inside.txt"
        ).read_text()

    before = snapshot()
    with pytest.raises(RuntimeError) as raised:
        save_net(tmp_path / target)
    assert str(raised.value) == message and snapshot() == before


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
    f.nodes = [vc.VornNode(f"node-{i}") for i in range(20_000)]
    try:
        with pytest.raises(KeyboardInterrupt), ctrl_c_after(0.05):
            f.save(str(fifo))
    finally:
        os.close(reader)


def network(engine):
    context = engine.simulate("A", "B", 0.5, 100.0, 1, seed=1)._context
    return context.nodes, context.links


def test_engine_bridge(tmp_path):
    path = write_text(tmp_path / "net.vorn", json.dumps(dict(VALID, config={})))
    expected = ([("A", 1.5), ("B", 1.0)], [("A", "B", 10.0, 0.9, 100.0)])
    assert network(vc.from_vorn_file(path)) == expected
    engine = vc.VornEngine()
    assert engine.define_network_from_vorn(vc.load_vorn_file(path)) is None
    assert network(engine) == expected
    # Defining a network from a file in memory does not validate it.
    f = vc.VornFile("net")
    f.nodes = [vc.VornNode("A", 2000.0), vc.VornNode("A"), vc.VornNode("B")]
    satellite = (vc.VornLinkType.Satellite, vc.VornSatelliteExtension(0, 0))
    f.links = [vc.VornLink("", "A", "Z", -1.0, 2.0, 0.0, *satellite), vc.VornLink("L", "B", "A", 5.0, 0.5, 7.0)]
    engine.define_network_from_vorn(qf=f)
    assert network(engine) == ([("A", 1.0), ("B", 1.0)], [("A", "Z", -1.0, 2.0, 0.0), ("B", "A", 5.0, 0.5, 7.0)])
