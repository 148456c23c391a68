import json

import pytest
import vorn_core as vc

from vorn import cli


def run(capsys, *argv):
    try:
        status = cli.main(list(argv))
    except SystemExit as exit:  # argparse's own exits: --help and usage errors
        status = exit.code
    out, err = capsys.readouterr()
    assert "Traceback" not in err
    return status, out, err


def network_file(tmp_path, name="net.vorn", extra_node=False, constraints=True):
    qf = vc.VornFile("net")
    qf.add_node("A", 1000.0)
    qf.add_node("B", 2000.0)
    qf.add_link("L1", "A", "B", 50.0, 0.95, 1000.0)
    if extra_node:
        qf.add_node("C")
        qf.add_link("L2", "B", "C", 20.0, 0.9, 500.0)
    if constraints:
        qf.constraints = vc.VornConstraints(0.9, 20.0)
    qf.save(str(tmp_path / name))
    return str(tmp_path / name)


def test_validate_prints_one_line_per_problem_with_position_or_code(tmp_path, capsys):
    good, broken, invalid, missing = (
        network_file(tmp_path),
        tmp_path / "broken.vorn",
        tmp_path / "invalid.vorn",
        tmp_path / "missing.vorn",
    )
    broken.write_text('{\n  "version": "1.0",\n  "nodes": [] []\n}')
    invalid.write_text(
        json.dumps(
            {
                "version": "1.0",
                "metadata": {"name": "x"},
                "nodes": [{"id": "A"}, {"id": "A"}],
                "links": [
                    {
                        "id": "L1",
                        "from": "A",
                        "to": "Z",
                        "distance_km": -5,
                        "base_fidelity": 0.9,
                        "generation_rate_hz": 1.0,
                    }
                ],
            }
        )
    )
    status, out, err = run(capsys, "validate", good, str(broken), str(invalid), str(missing))
    assert status == 1 and err == ""
    assert out.splitlines() == [
        f"{broken}:3:15: JSON parse error: Missing a comma or '}}' after an object member",
        f"{invalid}: DuplicateNodeId: Duplicate node ID: A",
        f"{invalid}: UnknownNodeReference: Unknown node reference 'Z' in link 'L1'",
        f"{invalid}: InvalidDistance: Invalid distance -5 km for link 'L1' (must be > 0)",
        f"{invalid}: GraphDisconnected: Graph is disconnected with 2 components",
        f"{missing}: IoError: IO error: No such file or directory",
    ]
    assert run(capsys, "validate", good) == (0, "", "")
    assert run(capsys, "validate", "-v", good) == (0, f"{good}: valid\n", "")


def test_diff_exit_status_follows_the_differences(tmp_path, capsys):
    first, second = network_file(tmp_path, "a.vorn"), network_file(tmp_path, "b.vorn", extra_node=True)
    assert run(capsys, "diff", first, first) == (0, f"Diff between '{first}' and '{first}':\n", "")
    status, out, _ = run(capsys, "diff", first, second)
    assert status == 1 and "  Nodes added: 1 (C)\n" in out
    status, out, err = run(capsys, "diff", first, str(tmp_path / "none.vorn"))
    assert (status, out) == (1, "") and err.startswith(f"vorn diff: Failed to load {tmp_path / 'none.vorn'}: IO error")


def test_simulate_prints_statistics_with_interval_the_same_on_several_workers(tmp_path, capsys):
    path = network_file(tmp_path)
    status, out, err = run(capsys, "simulate", path, "A", "B", "--runs", "500", "--seed", "4")
    stats = vc.from_vorn_file(path).simulate("A", "B", 0.9, 20.0, 500, seed=4)
    won = round(stats.empirical_success_rate * 500)
    low, high = cli.wilson_interval(won, 500)
    assert status == 0 and err == ""
    assert out.splitlines()[:3] == [
        f"{path}: A -> B, fidelity target 0.9, bound 20 ms, seed 4",
        "runs               500",
        f"success rate       {won / 500:.4f}  (95% interval {low:.4f} to {high:.4f}, {won} successes)",
    ]
    assert f"  A->B  {stats.link_utilization_heatmap['A->B']:,}" in out
    assert run(capsys, "simulate", path, "A", "B", "--runs", "500", "--seed", "4", "--workers", "2") == (0, out, "")


@pytest.mark.parametrize(
    "arguments, message",
    [
        (["A", "Q", "--runs", "5"], "has no node 'Q' (nodes: A, B)"),
        (["A", "B", "--runs", "-5"], "argument --runs: must lie in 0 .. 2**64 - 1: -5"),
        (["A", "B", "--runs", "5", "--workers", "0"], "argument --workers: must be at least 1"),
        (["A", "B", "--runs", "5", "--strategy", "fast"], "argument --strategy: invalid choice: 'fast'"),
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
    status, _, err = run(capsys, "simulate", str(tmp_path / "none.vorn"), "A", "B", "--runs", "5")
    assert status == 1 and err.startswith(f"vorn simulate: Failed to load {tmp_path / 'none.vorn'}: IO error")


def test_compare_reports_each_topology_with_its_interval(capsys):
    arguments = [
        "compare",
        "--endpoint",
        "telecom_backbone",
        "A",
        "C",
        "--endpoint",
        "repeater_chain",
        "N0",
        "N3",
        "--runs",
        "200",
        "--target",
        "0.75",
        "--bound",
        "5000",
    ]
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
    assert [line.split()[0] for line in lines[1:3]] == ["telecom_backbone", "repeater_chain"]
    low, high = cli.wilson_interval(round(float(lines[1].split()[1]) * 200), 200)
    assert f"{low:.4f} to {high:.4f}" in lines[1]
    assert lines[3].startswith("recommended: ") and lines[4].startswith("Evaluated 2 topologies. Recommended: ")
    arguments[2] = "mesh"
    status, _, err = run(capsys, *arguments)
    assert status == 2 and "Unknown topology in endpoints: 'mesh'" in err
