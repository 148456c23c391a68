"""The physical model's examples run and draw, with few trials."""

import os
import subprocess
import sys

import pytest

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples")


@pytest.mark.parametrize("name", ["physics_key_rate", "physics_memory", "physics_waiting_time"])
def test_example_draws_its_figure(name, tmp_path):
    output = tmp_path / f"{name}.png"
    script = os.path.join(EXAMPLES, f"{name}.py")
    done = subprocess.run(
        [sys.executable, script, "--runs", "300", "--output", str(output)], capture_output=True, text=True, timeout=300
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout == f"wrote {output}\n"
    assert output.read_bytes().startswith(b"\x89PNG")
