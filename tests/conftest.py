import contextlib
import os
import signal

import pytest

import vorn_core


def pytest_report_header(config):
    return f"vorn_core from {vorn_core.__file__}"


def pytest_sessionstart(session):
    expected = os.environ.get("VORN_EXPECT_MODULE_DIR")
    if expected and os.path.dirname(os.path.abspath(vorn_core.__file__)) != os.path.abspath(expected):
        raise pytest.UsageError(f"testing {vorn_core.__file__}, expected the build in {expected}")


@pytest.fixture
def chain_engine():
    """The four-node repeater chain N0-N1-N2-N3 with 100 km links, on the default engine."""
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
def ctrl_c_after(seconds):
    """Raises KeyboardInterrupt from a signal handler, as Ctrl-C does, while the body runs."""
    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
