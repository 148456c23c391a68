import os
import shutil
import subprocess
import sys
import sysconfig

import pytest
from conftest import child_python

EXTRAS = ("matplotlib", "networkx", "dask", "distributed", "pandas", "tqdm", "numpy")


def run_python(code):
    return subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=60,
        **child_python(),
    )


def test_importing_vorn_and_its_modules_runs_nothing_and_imports_no_extra():
    code = (
        "import sys, vorn_core\n"
        "class Refused:\n"
        "    def __init__(self, *args): raise AssertionError('an engine was made on import')\n"
        "vorn_core.VornEngine = Refused\n"
        "import vorn\n"
        "for name in vorn.__all__[:-1]: __import__('vorn.' + name)\n"
        f"print(sorted(name for name in {EXTRAS!r} if name in sys.modules))"
    )
    result = run_python(code)
    assert (result.returncode, result.stdout) == (0, "[]\n"), result.stderr


def test_version_of_the_package_and_the_command(capsys):
    import vorn
    from vorn import cli

    assert isinstance(vorn.__version__, str) and vorn.__version__
    with pytest.raises(SystemExit) as exited:
        cli.main(["--version"])
    assert (exited.value.code, capsys.readouterr().out) == (0, f"vorn {vorn.__version__}\n")


@pytest.mark.parametrize(
    "module, call, text",
    [
        ("networkx", lambda: __import__("vorn.nx").nx.to_networkx([], []), "vorn.nx needs networkx"),
        ("matplotlib.pyplot", lambda: __import__("vorn.plot").plot.plot_sensitivity({}), "vorn.plot needs matplotlib"),
    ],
)
def test_a_missing_extra_names_what_to_install(monkeypatch, module, call, text):
    monkeypatch.setitem(sys.modules, module, None)  # what an absent package looks like to an import
    with pytest.raises(ImportError) as raised:
        call()
    assert str(raised.value) == f"{text}: pip install 'vorn_core[plot]'"


def console_script():
    script = os.path.join(sysconfig.get_path("scripts"), "vorn")
    return script if os.path.exists(script) else shutil.which("vorn")


@pytest.mark.skipif(console_script() is None, reason="vorn_core is not installed with its scripts here")
def test_console_script_and_module_entry():
    result = subprocess.run([console_script(), "compare", "--help"], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0 and result.stdout.startswith("usage: vorn compare")
    result = subprocess.run(
        [sys.executable, "-m", "vorn"],
        capture_output=True,
        text=True,
        timeout=60,
        **child_python(),
    )
    assert result.returncode == 2 and "the following arguments are required: COMMAND" in result.stderr
