"""Faults found from the outside, kept as cases: threads whose arguments run Python code, interrupts raised
where a conversion asks Python for something."""

import collections
import sys
import threading

import pytest
import vorn_core as vc


def test_requests_on_one_thread_never_meet_a_definition_converting_on_another(chain_engine):
    nodes = collections.UserList([vc.NodeDefinition(f"N{i}", 150.0) for i in range(4)])
    links = collections.UserList([vc.LinkDefinition(f"N{i}", f"N{i + 1}", 100.0, 0.92, 800.0) for i in range(3)])
    stop, errors = threading.Event(), []

    def define():
        while not stop.is_set():
            chain_engine.define_network(nodes, links)

    definer = threading.Thread(target=define)
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # threads take turns as often as they can
    definer.start()
    try:
        for _ in range(3000):
            try:
                chain_engine.request_entanglement("N0", "N3", 0.8, 100.0)
            except RuntimeError as error:
                errors.append(str(error))
    finally:
        stop.set()
        definer.join()
        sys.setswitchinterval(interval)
    assert errors == []


def test_an_interrupt_raised_by_len_reaches_the_caller():
    class Interrupting(list):
        def __len__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        vc.VornEngine().define_network(Interrupting([vc.NodeDefinition("A", 1.0)]), [])

    # A __len__ that cannot answer is only no length hint, as for list().
    class Lengthless(list):
        def __len__(self):
            raise TypeError("no length")

    engine = vc.VornEngine()
    engine.define_network(Lengthless([vc.NodeDefinition("A", 1.0)]), [])
    assert engine.request_entanglement("A", "A", 0.5, 1.0).execution_path == ["A"]
