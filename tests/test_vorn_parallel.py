import contextlib
import math
import os
import signal
import subprocess
import sys
import time
import types
import warnings
from concurrent.futures import ThreadPoolExecutor

import pytest
import vorn_core as vc
from conftest import child_python, two_node_network

import vorn._native as native
from vorn import _jobs, parallel, physics
from vorn.stats import EnsembleStats, SeedOverlapWarning, merge, replicate_seeds


def chain():
    """Four nodes, three 100 km links: losses decide many trials."""
    nodes = [vc.NodeDefinition(f"N{i}", 150.0) for i in range(4)]
    links = [vc.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(3)]
    return nodes, links


REQUEST = ("N0", "N3", 0.8, 100.0)


def one_call(nodes, links, runs, seed, config=None, strategy=None, request=REQUEST):
    """The ensemble as one call of the native function: what every split must reproduce."""
    piece = native.simulate(nodes, links, config, vc.EntanglementRequest(*request, strategy), runs, seed)
    return EnsembleStats.from_piece(piece, runs, seed)


def test_a_seed_gives_the_same_statistics_bit_for_bit_however_the_trials_are_split(request):
    whole = one_call(*chain(), 4000, 2**64 - 7)  # the seed range wraps round
    splits = [
        {"workers": 1},
        {"workers": 1, "shards": 7},
        {"executor": "threads", "shards": 5},
        {"workers": 2, "shards": 3},
        {"executor": "dask", "shards": 4},
    ]
    with ThreadPoolExecutor(2) as threads:
        for options in splits:
            if options.get("executor") == "dask":
                options["executor"] = request.getfixturevalue("dask_client").get_executor()
            elif options.get("executor") == "threads":
                options["executor"] = threads
            stats = parallel.simulate(*chain(), *REQUEST, 4000, seed=2**64 - 7, **options)
            assert stats == whole, options
            assert (stats.mean_latency_ms, stats.mean_fidelity) == (whole.mean_latency_ms, whole.mean_fidelity)


def test_configuration_and_strategy_reach_the_trials():
    config, strategy = vc.SimulationConfig(1000.0, 0.5, 0.3), vc.StrategyType.LowestLatency
    stats = parallel.simulate(*chain(), *REQUEST, 500, strategy, 3, config, workers=1)
    assert stats == one_call(*chain(), 500, 3, config, strategy)
    assert stats != parallel.simulate(*chain(), *REQUEST, 500, None, 3, None, workers=1)


def test_an_unseeded_run_records_the_seed_that_repeats_it():
    first = parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 300, workers=1)
    assert (
        isinstance(first.seed, int)
        and parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 300, seed=first.seed, workers=1) == first
    )
    empty = parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 0, seed=1)
    assert (empty.total_runs, empty.seed, empty.mean_fidelity) == (0, 1, 0.0)
    assert math.isnan(empty.empirical_success_rate)


def test_replicates_run_disjoint_seed_ranges_and_report_their_spread():
    stats = parallel.simulate(*chain(), *REQUEST, 400, seed=8, workers=1, replicates=4)
    seeds = replicate_seeds(8, 4, 400)
    assert [replicate.seed for replicate in stats.replicates] == seeds
    assert list(stats.replicates) == [one_call(*chain(), 400, seed) for seed in seeds]
    pooled = merge(stats.replicates)
    assert (stats.total_runs, stats.successes, stats.seed) == (1600, pooled.successes, 8)
    rates = [replicate.empirical_success_rate for replicate in stats.replicates]
    spread = stats.spread()
    assert spread.replicates == 4 and spread.sd == pytest.approx(
        math.sqrt(sum((rate - sum(rates) / 4) ** 2 for rate in rates) / 3)
    )
    assert spread.se == spread.sd / 2
    low, high = stats.interval()
    assert f"[{low:.4f} to {high:.4f}]" in repr(stats)
    with pytest.warns(SeedOverlapWarning, match="^replicates: seeds 1 and 2 share 399 of their 400 trials"):
        parallel.simulate(*chain(), *REQUEST, 400, seed=8, workers=1, replicates=[1, 2, 3])


class Refusing(ThreadPoolExecutor):
    def submit(self, *args, **kwargs):
        raise AssertionError("a shard was submitted")


@pytest.mark.parametrize(
    "change, error, text",
    [
        ({"runs": -1}, ValueError, "argument 'runs': must be a whole number from 0 to 2**64 - 1, got -1"),
        ({"runs": 1.5}, TypeError, "argument 'runs': expected a whole number, got float"),
        ({"to": "bob"}, ValueError, "to: no node 'bob' in the network"),
        ({"fidelity_target": 85}, ValueError, "fidelity_target: must be within [0, 1], got 85.0"),
        ({"shards": 0}, ValueError, "argument 'shards': at least one shard is needed, got 0"),
        ({"seed": -1}, ValueError, "argument 'seed': must be a whole number from 0 to 2**64 - 1, got -1"),
        ({"strategy": 1}, TypeError, "argument 'strategy': expected StrategyType or None, got int"),
        ({"nodes": ["A"]}, TypeError, "argument 'nodes': expected NodeDefinition, got str (it has no attribute 'id')"),
        ({"replicates": 0}, ValueError, "argument 'replicates': at least one replicate is needed, got 0"),
    ],
)
def test_arguments_are_checked_before_any_shard_runs(change, error, text):
    nodes, links = two_node_network()
    arguments = {"nodes": nodes, "links": links, "from_node": "A", "to": "B", "fidelity_target": 0.9}
    arguments |= {"max_latency_ms": 20.0, "runs": 10, "seed": 1, "shards": 2} | change
    with Refusing(1) as executor, pytest.raises(error) as raised:
        parallel.simulate(executor=executor, **arguments)
    assert str(raised.value) == text


def test_interrupt_ends_the_local_pool_at_once():
    # Ctrl-C as a terminal gives it, whatever this process inherited (a job started in the background of a
    # script ignores SIGINT, and so would the child)
    script = (
        "import signal\nsignal.signal(signal.SIGINT, signal.default_int_handler)\n"
        "import vorn_core as vc\nfrom vorn import parallel\nchain = vc.generate_topology('repeater_chain')\n"
        "print('started', flush=True)\n"
        "parallel.simulate(chain.nodes, chain.links, 'N0', 'N3', 0.8, 100.0, 10**12, seed=1, workers=2)"
    )
    process = subprocess.Popen(
        [sys.executable, "-c", script],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        start_new_session=True,  # a group of its own, with its pool, to be ended whole if it fails
        **child_python(),
    )
    try:
        assert process.stdout.readline() == "started\n"
        time.sleep(1.0)
        started = time.monotonic()
        process.send_signal(signal.SIGINT)  # to the parent alone: the shards must be stopped by it
        _, stderr = process.communicate(timeout=60)
    finally:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, signal.SIGKILL)
        process.wait()
    assert time.monotonic() - started < 10 and process.returncode != 0 and "KeyboardInterrupt" in stderr


def test_a_failing_shard_cancels_the_shards_not_yet_started():
    started = []

    def job(runs, seed):
        started.append(seed)
        if seed == 0:
            raise KeyboardInterrupt
        time.sleep(0.2)

    tasks = [_jobs.Task(job, (), 1, seed) for seed in range(10)]
    with ThreadPoolExecutor(1) as executor, pytest.raises(KeyboardInterrupt):
        list(_jobs.run_tasks(tasks, 10, lambda piece, runs, seed: piece, executor=executor, shards=1, progress=False))
    assert started[0] == 0 and len(started) <= 2


@pytest.mark.parametrize(
    "run",
    [
        lambda: parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 3000, seed=1, workers=1, progress=True),
        lambda: physics.simulate(*two_node_network(), "A", "B", 3000, seed=1, progress=True),
    ],
)
def test_the_progress_bar_counts_trials_in_one_process_too(capsys, run):
    pytest.importorskip("tqdm")
    run()
    err = capsys.readouterr().err
    assert "trials: 100%" in err and "3.00k/3.00k" in err


def test_the_bar_shows_the_time_passing_while_a_shard_runs_elsewhere(monkeypatch):
    ticks = []
    monkeypatch.setattr(_jobs, "progress_bar", lambda *args: types.SimpleNamespace(update=ticks.append, close=list))
    tasks = [_jobs.Task(lambda runs, seed: time.sleep(1.0), (), 1, 0)]
    with ThreadPoolExecutor(1) as executor:
        list(_jobs.run_tasks(tasks, 1, lambda piece, runs, seed: piece, executor=executor, shards=1, progress=True))
    assert ticks[:3] == [0, 0, 0] and ticks[-1] == 1


class Counting(ThreadPoolExecutor):
    def __init__(self):
        super().__init__(2)
        self.submitted = 0

    def submit(self, *args, **kwargs):
        self.submitted += 1
        return super().submit(*args, **kwargs)


def test_work_too_small_to_send_runs_here_and_the_rest_in_shards(monkeypatch):
    with Counting() as executor:
        small = parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 300, seed=1, executor=executor)
        assert executor.submitted == 0 and small == one_call(*two_node_network(), 300, 1, request=("A", "B", 0.9, 20.0))
        monkeypatch.setattr(_jobs, "SECONDS_PER_SHARD", 1e-9)  # as if every trial took long
        monkeypatch.setattr(_jobs, "SECONDS_PER_CALL", 1e-9)
        sent = parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 5000, seed=1, executor=executor)
        assert executor.submitted > 1 and sent == one_call(*two_node_network(), 5000, 1, request=("A", "B", 0.9, 20.0))


def test_a_search_that_will_be_long_is_announced_before_it_starts():
    nodes = [vc.NodeDefinition(f"N{i}", 1.0) for i in range(40)]
    links = [vc.LinkDefinition(f"N{i}", f"N{j}", 10.0, 0.9, 100.0) for i in range(40) for j in range(i + 1, 40)]
    long = "^the route search from 'N0' to 'N39' under HighestSuccess will likely take more than a second: 40 nodes"
    with pytest.warns(parallel.LongSearchWarning, match=long) as caught:
        parallel.simulate(nodes, links, "N0", "N39", 0.5, 10.0, 0, vc.StrategyType.HighestSuccess, seed=1)
    assert [warning.filename for warning in caught] == [__file__]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        parallel.simulate(nodes, links, "N0", "N39", 0.5, 10.0, 0, vc.StrategyType.LowestLatency, seed=1)
        parallel.simulate(*chain(), *REQUEST, 0, vc.StrategyType.HighestSuccess, seed=1)
