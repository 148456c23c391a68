"""How every benchmark measures: medians of wall-clock runs in this process, and instructions counted by
callgrind in a child process (stable on a noisy machine)."""

import gc
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def median_seconds(call, repeats):
    times = []
    for _ in range(repeats):
        gc.collect()
        start = time.perf_counter()
        result = call()
        times.append(time.perf_counter() - start)
        del result
    return statistics.median(times)


def callgrind_present():
    if shutil.which("valgrind"):
        return True
    print("callgrind: valgrind not found, skipped")
    return False


def instructions(script, *args):
    """The instructions of `python -c script args...` as callgrind counts them."""
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "callgrind.out")
        subprocess.run(
            [
                "valgrind",
                "--tool=callgrind",
                f"--callgrind-out-file={out}",
                sys.executable,
                "-c",
                script,
                *map(str, args),
            ],
            check=True,
            capture_output=True,
        )
        with open(out) as profile:
            for line in profile:
                if line.startswith(("summary:", "totals:")):
                    return int(line.split()[1])
    raise RuntimeError("no totals in callgrind output")


def instructions_per_unit(script, what, low, high):
    """Instructions per unit of work: the difference between `script what high` and `script what low`,
    which leaves out the start of the interpreter."""
    return (instructions(script, what, high) - instructions(script, what, low)) / (high - low)
