import json
import os

import pytest
import vorn_core as vc

from vorn import cli, parallel, physics
from vorn.compare import compare


def run(capsys, *argv):
    try:
        status = cli.main(list(argv))
    except SystemExit as exit:  # argparse's own exits: --help and usage errors
        status = exit.code
    out, err = capsys.readouterr()
    assert "Traceback" not in err
    return status, out, err


def network_file(tmp_path, name="net.vorn", extra_node=False, constraints=True, node_id="B"):
    qf = vc.VornFile("net")
    qf.add_node("A", 1000.0)
    qf.add_node(node_id, 2000.0)
    qf.add_link("L1", "A", node_id, 50.0, 0.95, 1000.0)
    if extra_node:
        qf.add_node("C")
        qf.add_link("L2", node_id, "C", 20.0, 0.9, 500.0)
    if constraints:
        qf.constraints = vc.VornConstraints(0.9, 20.0)
    path = os.path.join(os.fsencode(tmp_path), os.fsencode(name))
    with open(path, "w", encoding="utf-8") as file:  # any name the system takes, UTF-8 or not
        qf.save(str(tmp_path / "staged.vorn"))
        file.write((tmp_path / "staged.vorn").read_text())
    return os.fsdecode(path)


def test_validate_prints_one_line_per_problem_with_position_and_code(tmp_path, capsys):
    good, broken, invalid, missing = (
        network_file(tmp_path),
        tmp_path / "broken.vorn",
        tmp_path / "invalid.vorn",
        tmp_path / "missing.vorn",
    )
    broken.write_text('{\n  "version": "1.0",\n  "nodes": [] []\n}')
    link = {"id": "L1", "from": "A", "to": "Z", "distance_km": -5, "base_fidelity": 0.9, "generation_rate_hz": 1.0}
    document = {"version": "1.0", "metadata": {"name": "x"}, "nodes": [{"id": "A"}, {"id": "A"}], "links": [link]}
    invalid.write_text(json.dumps(document, indent=2))
    status, out, err = run(capsys, "validate", good, str(broken), str(invalid), str(missing))
    assert status == 1 and err == ""
    assert out.splitlines() == [
        f"{broken}:3:15: Syntax: JSON parse error: Missing a comma or '}}' after an object member",
        f"{invalid}:11:13: DuplicateNodeId: Duplicate node ID: A [nodes[1].id]",
        f"{invalid}:18:13: UnknownNodeReference: Unknown node reference 'Z' in link 'L1' [links[0].to]",
        f"{invalid}:19:22: InvalidDistance: Invalid distance -5 km for link 'L1' (must be > 0) [links[0].distance_km]",
        f"{invalid}: GraphDisconnected: Graph is disconnected with 2 components",
        f"{missing}: ENOENT: IO error: No such file or directory",
    ]
    assert run(capsys, "validate", good) == (0, "", "")
    assert run(capsys, "validate", "-v", good) == (0, f"{good}: valid\n", "")


def test_validate_hints_at_a_snapshot(tmp_path, capsys):
    engine = vc.from_vorn_file(network_file(tmp_path))
    vc.save_topology(engine, str(tmp_path / "snapshot.json"))
    status, out, _ = run(capsys, "validate", str(tmp_path / "snapshot.json"))
    assert status == 1 and out.splitlines()[-1] == (
        f"{tmp_path / 'snapshot.json'}: hint: this looks like an engine snapshot (save_topology): "
        "load it with vorn_core.load_topology(engine, path)"
    )


def test_diff_exits_like_diff_and_shows_old_and_new_values(tmp_path, capsys):
    first, second = network_file(tmp_path, "a.vorn"), network_file(tmp_path, "b.vorn", extra_node=True)
    assert run(capsys, "diff", first, first) == (0, f"Diff between '{first}' and '{first}':\n", "")
    fiber = vc.VornLinkType.Fiber  # members read from two files are two objects, the same member
    qf = vc.load_vorn_file(first)
    qf.links = [vc.VornLink("L1", "A", "B", 50.0, 0.95, 1000.0, fiber)]
    qf.save(first)
    qf = vc.load_vorn_file(second)
    qf.nodes = [vc.VornNode("A", 1500.0, None, vc.VornNodeType.Repeater)] + qf.nodes[1:]
    qf.links = [vc.VornLink("L1", "A", "B", 60.0, 0.95, 1000.0, fiber)] + qf.links[1:]
    qf.config = vc.VornConfig(max_attempts=20)
    qf.save(second)
    status, out, err = run(capsys, "diff", first, second)
    assert (status, err) == (1, "")
    assert out.splitlines() == [
        f"Diff between '{first}' and '{second}':",
        "  Nodes added: 1 (C)",
        "  Nodes modified: 1 (A)",
        "     - A: memory_lifetime_ms 1000.0 → 1500.0; node_type absent → Repeater",
        "  Links added: 1 (B->C)",
        "  Links modified: 1 (A->B)",
        "     - A->B: distance_km 50.0 → 60.0",
        "  Config changes:",
        "     - max_attempts: absent → 20",
    ]
    status, out, err = run(capsys, "diff", first, str(tmp_path / "none.vorn"))
    assert (status, out) == (2, "")
    assert err.splitlines() == [
        f"{tmp_path / 'none.vorn'}: ENOENT: IO error: No such file or directory",
        f"vorn diff: cannot compare {tmp_path / 'none.vorn'}",
    ]


def test_simulate_prints_reproducible_statistics_with_interval(tmp_path, capsys):
    path = network_file(tmp_path)
    status, out, err = run(capsys, "simulate", path, "A", "B", "--runs", "500", "--seed", "4")
    loaded = cli.load_network(path)
    stats = parallel.simulate(loaded.nodes, loaded.links, "A", "B", 0.9, 20.0, 500, seed=4, workers=1)
    low, high = stats.interval()
    assert status == 0 and err == ""
    assert out.splitlines()[:3] == [
        f"{path}: A -> B, fidelity target 0.9, bound 20 ms, seed 4",
        "runs               500",
        f"success rate       {stats.empirical_success_rate:.4f}  (95% interval {low:.4f} to {high:.4f}, "
        f"{stats.successes} successes)",
    ]
    assert f"  A->B  {stats.link_utilization_heatmap['A->B']:,}" in out
    assert run(capsys, "simulate", path, "A", "B", "--runs", "500", "--seed", "4", "--workers", "2") == (0, out, "")
    status, out, _ = run(capsys, "simulate", path, "A", "B", "--runs", "100", "--seed", "4", "--replicates", "3")
    assert status == 0 and "runs               300\n" in out and "replicates         3: success rates scatter" in out
    status, out, _ = run(capsys, "simulate", path, "A", "B", "--runs", "10")
    seed = out.split("seed ")[1].split(" ")[0]
    assert f"(from the clock; pass --seed {seed} to repeat)" in out


@pytest.mark.parametrize(
    "arguments, message",
    [
        (["A", "Q", "--runs", "5"], "net.vorn: to: no node 'Q' in the network"),
        (["A", "A", "--runs", "5"], "net.vorn: to: the same node as from_node ('A')"),
        (["A", "B", "--runs", "-5"], "argument --runs: must lie in 0 .. 2**64 - 1: -5"),
        (["A", "B", "--runs", "5", "--workers", "0"], "argument --workers: must be at least 1"),
        (["A", "B", "--runs", "5", "--strategy", "fast"], "argument --strategy: invalid choice: 'fast'"),
        (["A", "B", "--runs", "5", "--target", "85"], "fidelity_target: must be within [0, 1], got 85.0"),
        (["A", "B", "--runs", "5", "--replicates", "1"], "argument --replicates: a spread needs at least 2"),
        (["A", "B"], "the following arguments are required: --runs"),
    ],
)
def test_simulate_usage_errors(tmp_path, capsys, arguments, message):
    status, out, err = run(capsys, "simulate", network_file(tmp_path), *arguments)
    assert (status, out) == (2, "") and err.startswith("usage: vorn simulate") and message in err


def test_simulate_needs_a_target_when_the_file_sets_none(tmp_path, capsys):
    path = network_file(tmp_path, constraints=False)
    status, _, err = run(capsys, "simulate", path, "A", "B", "--runs", "5", "--bound", "20")
    assert status == 2 and f"--target is needed: {path} sets no fidelity_target in its constraints" in err
    broken = tmp_path / "twice.vorn"
    broken.write_text('{"version": "1.0", "metadata": {"name": "x"}, "nodes": [{"id": "A"}, {"id": "A"}], "links": []}')
    status, _, err = run(capsys, "simulate", str(broken), "A", "B", "--runs", "5")
    assert status == 1 and err.splitlines() == [
        f"{broken}:1:77: DuplicateNodeId: Duplicate node ID: A [nodes[1].id]",
        f"{broken}: GraphDisconnected: Graph is disconnected with 2 components",
        f"vorn simulate: cannot simulate {broken}",
    ]


def test_physics_prints_the_figures_of_vorn_physics_for_the_same_seed(tmp_path, capsys):
    path = network_file(tmp_path, extra_node=True)
    argv = ["physics", path, "A", "C", "--runs", "2000", "--seed", "3", "--cutoff-ms", "40"]
    loaded = cli.load_network(path)
    model = physics.PhysicalModel(cutoff_ms=40.0)
    stats = physics.simulate(loaded.nodes, loaded.links, "A", "C", 2000, model, seed=3)
    status, out, err = run(capsys, *argv, "--json")
    expected = {"file": path, "from": "A", "to": "C", **stats.to_dict()}
    assert (status, err) == (0, "") and json.loads(out) == json.loads(json.dumps(cli._finite(expected)))
    status, out, _ = run(capsys, *argv, "--replicates", "3")
    assert status == 0 and out.splitlines()[2].startswith("  mean waiting time") and "bit/s  (95% interval " in out
    assert "3 independent replicates of 2,000 trials" in out and "6,000 trials from seed 3" in out
    status, _, err = run(capsys, *argv, "--efficiency", "2")
    assert status == 2 and "efficiency: must be within (0, 1], got 2.0" in err


def test_network_serves_demands_with_the_files_memories(tmp_path, capsys):
    qf = vc.VornFile("net")
    for node, capacity in (("A", 1), ("B", 4), ("C", None)):
        qf.add_node(node, 1000.0, capacity)
    qf.add_link("L1", "A", "B", 20.0, 0.95, 1000.0)
    qf.add_link("L2", "B", "C", 20.0, 0.95, 1000.0)
    path = str(tmp_path / "net.vorn")
    qf.save(path)
    argv = ["network", path, "--demand", "A:C", "--demand", "B:C@30", "--duration-ms", "200", "--seed", "5"]
    status, out, err = run(capsys, *argv, "--runs", "3", "--json")
    document = json.loads(out)
    assert (status, err) == (0, "") and [node["memories"] for node in document["nodes"]] == [1, 4, 1]
    assert document["generated"] == sum(document[fate] for fate in ("used", "discarded", "lost", "held")) > 0
    assert [demand["to"] for demand in document["demands"]] == ["C", "C"] and document["replicates"] == 3
    status, out, err = run(capsys, *argv, "--runs", "3", "--sweep-rates", "10,40", "--json")
    points = json.loads(out)["points"]
    assert (status, err) == (0, "") and [(p["arrival_rate_hz"], p["demands"]) for p in points] == [(10, 2), (40, 2)]
    status, _, err = run(capsys, "network", path, "--demand", "A-C", "--duration-ms", "10")
    assert status == 2 and "expected FROM:TO or FROM:TO@RATE, got 'A-C'" in err
    status, _, err = run(capsys, *argv, "--sweep-rates", "10,-1")
    assert status == 2 and "arrival_rate_hz: must be positive" in err


def test_compare_repeats_with_a_seed_and_takes_files(tmp_path, capsys):
    path = network_file(tmp_path)
    arguments = ["compare", "--endpoint", "telecom_backbone", "A", "C", "--endpoint", path, "A", "B"]
    arguments += ["--runs", "200", "--target", "0.75", "--bound", "5000", "--seed", "3"]
    status, out, _ = run(capsys, *arguments)
    lines = out.splitlines()
    assert status == 0 and lines[0].split() == [
        "topology",
        "success",
        "rate",
        "95%",
        "interval",
        "mean",
        "latency",
        "mean",
        "fidelity",
    ]
    assert [line.split()[0] for line in lines[1:3]] == ["telecom_backbone", path]
    assert len(lines) == 4 and lines[3].startswith("Recommended: ")
    assert run(capsys, *arguments) == (0, out, "")
    arguments[arguments.index("--runs") + 1] = "0"
    status, _, err = run(capsys, *arguments)
    assert status == 2 and "argument --runs: must be at least 1" in err
    arguments[2] = "mesh"
    arguments[arguments.index("--runs") + 1] = "10"
    status, _, err = run(capsys, *arguments)
    assert status == 2 and "Unknown topology in endpoints: 'mesh'" in err


def test_compare_on_the_physical_model_ranks_by_key_rate(tmp_path, capsys):
    path = network_file(tmp_path, extra_node=True)
    networks = ["compare", "--endpoint", "repeater_chain", "N0", "N3", "--endpoint", path, "A", "C"]
    status, out, _ = run(capsys, *networks, "--runs", "500", "--seed", "3", "--physics", "--cutoff-ms", "40")
    model = physics.PhysicalModel(cutoff_ms=40.0)
    report = compare([("repeater_chain", "N0", "N3"), (path, "A", "C")], runs=500, seed=3, model=model)
    assert status == 0 and out.splitlines()[-1] == report.summary and "bit/s" in out.splitlines()[2]
    for extra, message in (
        (["--physics", "--target", "0.9"], "--target and --bound are read by the engine's timeline only"),
        (["--target", "0.9", "--bound", "20", "--cutoff-ms", "40"], "the physical model's parameters need --physics"),
        ([], "--target and --bound are needed (or --physics for the physical model)"),
    ):
        status, _, err = run(capsys, *networks, "--runs", "5", *extra)
        assert status == 2 and message in err
