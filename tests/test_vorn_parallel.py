import math
import os
import signal
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import pytest
import vorn_core as vc
from conftest import fields, two_node_network

from vorn import parallel

FIELDS = "total_runs empirical_success_rate aggregate_congestion_drops link_utilization_heatmap"
CONTEXT_FIELDS = (
    "seed links from_node to_node fidelity_target max_latency_ms total_time_cutoff_ms step_resolution_ms "
    "baseline_purify_factor"
)


def one_ensemble(runs, seed, config=None, strategy=None):
    engine = vc.VornEngine(config)
    engine.define_network(*two_node_network())
    return engine.simulate("A", "B", 0.9, 20.0, runs, strategy, seed)


def assert_same_ensemble(merged, whole):
    assert fields(merged, FIELDS) == fields(whole, FIELDS)
    assert fields(merged, "mean_latency_ms mean_fidelity") == pytest.approx(
        fields(whole, "mean_latency_ms mean_fidelity"), rel=1e-12
    )
    assert fields(merged._context, CONTEXT_FIELDS) == fields(whole._context, CONTEXT_FIELDS)
    assert sorted(merged._context.nodes) == sorted(whole._context.nodes)
    assert repr(merged._context.strategy) == repr(whole._context.strategy)


def test_shards_on_any_executor_merge_into_one_ensemble_with_its_context():
    config, strategy = vc.SimulationConfig(1000.0, 0.5, 0.3), vc.StrategyType.LowestLatency
    with ThreadPoolExecutor(2) as executor:  # the seed range wraps round
        merged = parallel.simulate(
            *two_node_network(), "A", "B", 0.9, 20.0, 3000, strategy, 2**64 - 5, config, executor=executor, shards=7
        )
    assert_same_ensemble(merged, one_ensemble(3000, 2**64 - 5, config, strategy))


@pytest.mark.parametrize("on_dask", [False, True], ids=["local pool", "dask"])
def test_shards_in_other_processes(request, on_dask):
    client = request.getfixturevalue("dask_client") if on_dask else None
    options = {"executor": client.get_executor(), "shards": 4} if on_dask else {"workers": 2}
    merged = parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 2000, seed=11, **options)
    assert_same_ensemble(merged, one_ensemble(2000, 11))


def test_unseeded_and_empty_ensembles():
    with ThreadPoolExecutor(1) as executor:
        unseeded = parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 100, executor=executor)
        empty = parallel.simulate(*two_node_network(), "A", "B", 0.9, 20.0, 0, seed=1, executor=executor)
    assert unseeded.total_runs == 100 and unseeded._context.seed is None
    assert empty.total_runs == 0 and math.isnan(empty.empirical_success_rate) and empty._context.seed == 1


ENGINE = "the engine's own message"


@pytest.mark.parametrize(
    "change, error, text",
    [
        ({"runs": -1}, OverflowError, "argument 'runs': must be a non-negative integer below 2**64, got -1"),
        ({"runs": 1.5}, TypeError, "argument 'runs': 'float' object cannot be interpreted as an integer"),
        ({"shards": 0}, ValueError, "argument 'shards': at least one shard is needed"),
        ({"workers": 0}, ValueError, "argument 'workers': at least one worker is needed"),
        ({"seed": -1}, OverflowError, ENGINE),
        ({"strategy": 1}, TypeError, ENGINE),
        ({"nodes": ["A"]}, TypeError, ENGINE),
    ],
)
def test_arguments_are_checked_before_any_shard_runs(change, error, text):
    nodes, links = two_node_network()
    arguments = {
        "nodes": nodes,
        "links": links,
        "from_node": "A",
        "to": "B",
        "fidelity_target": 0.9,
        "max_latency_ms": 20.0,
        "runs": 10,
        "seed": 1,
        "shards": 2,
        **change,
    }

    class Refusing(ThreadPoolExecutor):
        def submit(self, *args, **kwargs):
            raise AssertionError("a shard was submitted")

    with Refusing(1) as executor, pytest.raises(error) as raised:
        parallel.simulate(executor=executor, **arguments)
    if text is ENGINE:
        with pytest.raises(error) as raised_by_engine:
            engine = vc.VornEngine()
            engine.define_network(arguments["nodes"], arguments["links"])
            engine.simulate("A", "B", 0.9, 20.0, 10, arguments.get("strategy"), arguments["seed"])
        text = str(raised_by_engine.value)
    assert str(raised.value) == text


def test_interrupt_ends_the_local_pool_at_once():
    script = (
        "import vorn_core as vc\nfrom vorn import parallel\nchain = vc.generate_topology('repeater_chain')\n"
        "print('started', flush=True)\n"
        "parallel.simulate(chain.nodes, chain.links, 'N0', 'N3', 0.8, 100.0, 10**10, seed=1, workers=2, shards=2)"
    )
    process = subprocess.Popen(
        [sys.executable, "-c", script],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    assert process.stdout.readline() == "started\n"
    time.sleep(1.0)
    started = time.monotonic()
    process.send_signal(signal.SIGINT)  # to the parent alone: the shards must be stopped by it
    _, stderr = process.communicate(timeout=60)
    assert time.monotonic() - started < 10 and process.returncode != 0 and "KeyboardInterrupt" in stderr


def test_a_failing_job_cancels_the_jobs_not_yet_started():
    from vorn import _jobs

    started = []

    def job(index):
        started.append(index)
        if index == 0:
            raise KeyboardInterrupt
        time.sleep(0.2)

    with ThreadPoolExecutor(1) as executor, pytest.raises(KeyboardInterrupt):
        _jobs.run_jobs(executor, job, [(index,) for index in range(10)], "jobs", progress=False)
    assert started[0] == 0 and len(started) <= 2


def test_progress_bar_over_shards(capsys):
    pytest.importorskip("tqdm")
    with ThreadPoolExecutor(1) as executor:
        parallel.simulate(
            *two_node_network(), "A", "B", 0.9, 20.0, 30, seed=1, executor=executor, shards=3, progress=True
        )
    err = capsys.readouterr().err
    assert "shards: 100%" in err and "3/3" in err
