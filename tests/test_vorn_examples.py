"""The companion's examples run, small, and write their figures."""

import os
import subprocess
import sys

import pytest

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples")


@pytest.mark.parametrize(
    "script, arguments, needs",
    [
        ("compare_topologies.py", ["--runs", "300"], []),
        ("sweep_link_length.py", ["--runs", "100"], ["matplotlib", "networkx"]),
        ("sensitivity_tornado.py", ["--runs", "100"], ["matplotlib", "networkx"]),
        ("topology_comparison.py", ["--runs", "200"], ["matplotlib", "networkx"]),
        ("dask_ensemble.py", ["--runs", "20000"], ["matplotlib", "networkx", "distributed"]),
    ],
)
def test_example_runs(tmp_path, script, arguments, needs):
    for module in needs:
        pytest.importorskip(module)
    figure = tmp_path / "figure.png"
    if needs:
        arguments = [*arguments, "--output", str(figure)]
    result = subprocess.run(
        [sys.executable, os.path.join(EXAMPLES, script), *arguments],
        capture_output=True,
        text=True,
        timeout=300,
        cwd=tmp_path,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    assert result.returncode == 0, result.stderr
    assert not needs or figure.stat().st_size > 10_000


def test_first_example_and_its_file_give_the_same_figures_on_the_command_line(capsys):
    from vorn import cli

    example = subprocess.run(
        [sys.executable, os.path.join(EXAMPLES, "quickstart.py"), "--runs", "3000"],
        capture_output=True,
        text=True,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    path = os.path.join(EXAMPLES, "repeater_chain.vorn")
    argv = ["physics", path, "N0", "N4", "--runs", "3000", "--seed", "2026", "--efficiency", "0.8"]
    assert cli.main(argv) == 0
    assert capsys.readouterr().out.splitlines()[1:] == example.stdout.splitlines()[:-1]
