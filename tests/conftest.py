import contextlib
import importlib.util
import os
import signal
import sys

import pytest
import vorn_core


def child_python():
    """Options for a child interpreter that imports what this one does, started in the tests folder."""
    return {"env": {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}, "cwd": os.path.dirname(__file__)}


def pytest_report_header(config):
    return f"vorn_core from {vorn_core.__file__}"


def pytest_sessionstart(session):
    expected = os.environ.get("VORN_EXPECT_MODULE_DIR")
    if expected and os.path.dirname(os.path.abspath(vorn_core.__file__)) != os.path.abspath(expected):
        raise pytest.UsageError(f"testing {vorn_core.__file__}, expected the build in {expected}")
    native = importlib.util.find_spec("vorn._native")
    if native is None or (expected and not os.path.abspath(native.origin).startswith(os.path.abspath(expected))):
        raise pytest.UsageError(f"vorn._native from {native and native.origin}, expected the build in {expected}")


@pytest.fixture
def chain_engine():
    engine = vorn_core.VornEngine()
    nodes = [vorn_core.NodeDefinition(f"N{i}", 150.0) for i in range(4)]
    links = [vorn_core.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(3)]
    engine.define_network(nodes, links)
    return engine


def result_class():
    """SimulationResult is not a module attribute; its class is reached through a result."""
    engine = vorn_core.VornEngine()
    engine.define_network([vorn_core.NodeDefinition("A", 1.0)], [])
    return type(engine.request_entanglement("A", "A", 0.5, 1.0))


@contextlib.contextmanager
def ctrl_c_after(seconds):  # raises KeyboardInterrupt from a signal handler, as Ctrl-C does
    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def fields(record, names):
    return tuple(getattr(record, name) for name in names.split())


def having(record, **values):
    for name, value in values.items():
        setattr(record, name, value)
    return record


def network_figures(nodes, links):
    def conditions(c):
        return None if c is None else (c.visibility, c.weather_factor)

    figures = "from_node to distance_km base_fidelity generation_rate_hz"
    links = [fields(l, figures) + (repr(l.link_type), conditions(l.satellite_conditions)) for l in links]
    return [(n.id, n.memory_lifetime_t2) for n in nodes], links


class calling_back:
    """A float argument whose conversion runs `action` first (one class for all: no cycles for gc to break)."""

    def __init__(self, action, value=0.5):
        self.action, self.value = action, value

    def __float__(self):
        self.action()
        return self.value


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4


def two_node_network():
    """A single 50 km link: every trial's outcome follows from its seeded generation draws alone."""
    nodes = [vorn_core.NodeDefinition("A", 1.0), vorn_core.NodeDefinition("B", 2.0)]
    links = [vorn_core.LinkDefinition("A", "B", 50.0, 0.95, 1000.0)]
    return nodes, links


@pytest.fixture(scope="session")
def dask_client():
    distributed = pytest.importorskip("distributed")
    with (
        distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster,
        distributed.Client(cluster) as client,
    ):
        yield client
