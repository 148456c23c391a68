"""Faults found from the outside, kept as cases: threads whose arguments run Python code, interrupts raised
where a conversion asks Python for something; in the companion, terminals fed text from files, names that
are no UTF-8, grids too large to list, executors that return what no ensemble can, ids that collide."""

import collections
import math
import os
import subprocess
import sys
import threading
import tracemalloc
from concurrent.futures import Future, ThreadPoolExecutor

import pytest
import vorn_core as vc
from conftest import ctrl_c_after, two_node_network
from test_vorn_cli import network_file, run

from vorn import parallel
from vorn.stats import merge
from vorn.sweep import iter_sweep, sweep


def test_requests_on_one_thread_never_meet_a_definition_converting_on_another(chain_engine):
    nodes = collections.UserList([vc.NodeDefinition(f"N{i}", 150.0) for i in range(4)])
    links = collections.UserList([vc.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(3)])
    stop, errors = threading.Event(), []

    def define():
        while not stop.is_set():
            chain_engine.define_network(nodes, links)

    definer = threading.Thread(target=define)
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # threads take turns as often as they can
    definer.start()
    try:
        for _ in range(3000):
            try:
                chain_engine.request_entanglement("N0", "N3", 0.8, 100.0)
            except RuntimeError as error:
                errors.append(str(error))
    finally:
        stop.set()
        definer.join()
        sys.setswitchinterval(interval)
    assert errors == []


def test_an_interrupt_raised_by_len_reaches_the_caller():
    class Interrupting(list):
        def __len__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        vc.VornEngine().define_network(Interrupting([vc.NodeDefinition("A", 1.0)]), [])

    # A __len__ that cannot answer is only no length hint, as for list().
    class Lengthless(list):
        def __len__(self):
            raise TypeError("no length")

    engine = vc.VornEngine()
    engine.define_network(Lengthless([vc.NodeDefinition("A", 1.0)]), [])
    assert engine.request_entanglement("A", "A", 0.5, 1.0).execution_path == ["A"]


# ---- the companion --------------------------------------------------------------------------------


def test_text_from_files_and_paths_reaches_the_terminal_escaped(tmp_path, capsys):
    hostile = "\x1b[2J\x1b]0;owned\x07X\nFORGED: valid\u202e"
    first = network_file(tmp_path, "a\udcff.vorn")  # a name that is no valid UTF-8
    second = network_file(tmp_path, "b.vorn", node_id=hostile)
    status, out, err = run(capsys, "diff", first, second)
    escaped = "\\x1b[2J\\x1b]0;owned\\x07X\\nFORGED: valid\\u202e"
    assert status == 1 and "\x1b" not in out and "\nFORGED" not in out
    assert f"Diff between '{tmp_path}/a\\xff.vorn' and '{second}':" in out
    assert f"  Nodes added: 1 ({escaped})" in out and f"  Links added: 1 (A->{escaped})" in out
    assert run(capsys, "validate", "-v", first) == (0, f"{tmp_path}/a\\xff.vorn: valid\n", "")
    status, out, _ = run(capsys, "simulate", second, "A", hostile, "--runs", "10", "--seed", "1")
    assert status == 0 and f"A -> {escaped}" in out and "\x1b" not in out
    arguments = ["--runs", "10", "--target", "0.5", "--bound", "10", "--seed", "1"]
    status, out, _ = run(
        capsys, "compare", "--endpoint", first, "A", "B", "--endpoint", second, "A", hostile, *arguments
    )
    assert status == 0 and f"{tmp_path}/a\\xff.vorn" in out and "\x1b" not in out


def test_a_name_that_is_no_utf8_from_the_shell(tmp_path):
    path = network_file(tmp_path, "n\udcfe.vorn")
    result = subprocess.run(
        [sys.executable, "-m", "vorn", "validate", "-v", os.fsencode(path)],
        capture_output=True,
        timeout=60,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    assert (result.returncode, result.stdout, result.stderr) == (
        0,
        os.fsencode(f"{tmp_path}/n\\xfe.vorn: valid\n"),
        b"",
    )


@pytest.mark.filterwarnings("ignore:a sweep of")
def test_a_huge_grid_is_walked_lazily_announced_and_stopped_by_ctrl_c():
    grid = {"distance_km": [float(d) for d in range(1, 3001)], "base_fidelity": [0.9] * 3000}
    grid["generation_rate_hz"] = [100.0] * 3000  # 2.7e10 points: never as a list
    tracemalloc.start()
    try:
        with pytest.warns(UserWarning, match="^a sweep of 27,000,000,000 points .3000 distance_km x 3000 base_fidel"):
            rows = iter_sweep(*two_node_network(), "A", "B", 0.9, 20.0, 1, grid, seed=1)
            assert next(rows)["distance_km"] == 1.0
        assert tracemalloc.get_traced_memory()[1] < 20 * 2**20
    finally:
        tracemalloc.stop()
    with ctrl_c_after(0.3), pytest.raises(KeyboardInterrupt):
        sweep(*two_node_network(), "A", "B", 0.9, 20.0, 1, grid, seed=1)


def test_node_names_that_become_the_same_id_are_refused():
    nx = pytest.importorskip("networkx")
    from vorn.nx import from_networkx

    graph = nx.Graph()
    graph.add_nodes_from([1, "1"], memory_lifetime_t2=1.0)
    with pytest.raises(ValueError, match="^nodes 1 and '1' would both become the node id '1'$"):
        from_networkx(graph)  # both used to become one node "1"


class Faking(ThreadPoolExecutor):
    """An executor that hands back a doctored result for every shard."""

    def __init__(self, doctor):
        super().__init__(1)
        self.doctor = doctor

    def submit(self, function, *args):
        future = Future()
        future.set_result(self.doctor(list(function(*args))))
        return future


def doctored(index, value):
    def doctor(piece):
        piece[index] = value(piece) if callable(value) else value
        return tuple(piece)

    return doctor


@pytest.mark.parametrize(
    "doctor, reason",
    [
        (doctored(1, 2.0), "success rate 2.0 for"),  # a success rate of 2.0 used to come through
        (doctored(6, lambda piece: piece[0] + 1), "successes"),
        (doctored(0, 3), "it counts 3 trials"),
        (doctored(8, math.inf), "the fidelity sum is inf"),
        (doctored(5, {"A->B": -1}), "its utilisation is not a dict of non-negative counts"),
        (lambda piece: tuple(piece[:8]), "it is not the 9-tuple of an ensemble"),
    ],
)
def test_impossible_results_from_an_executor_are_refused(doctor, reason):
    with Faking(doctor) as executor, pytest.raises(RuntimeError) as raised:
        parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 40, seed=3, executor=executor, shards=2)
    assert str(raised.value).startswith("impossible result for 20 trials from seed 3: ")
    assert reason in str(raised.value)


def test_a_grid_that_is_no_mapping_is_a_type_error():
    with pytest.raises(
        TypeError, match="^argument 'grid': expected a mapping from parameter key to its values, got list"
    ):
        sweep(*two_node_network(), "A", "B", 0.9, 20.0, 10, [("distance_km", [1.0])])


def test_statistics_whose_rate_is_no_count_are_not_merged_as_rounded_counts():
    with pytest.raises(ValueError) as raised:  # was silently merged as 3 successes
        merge([vc.MonteCarloStats(10, 0.333, 1.0, 0.9, 0, {})])
    assert str(raised.value) == "statistics with success rate 0.333 are no whole number of successes out of 10 runs"
