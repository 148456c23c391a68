"""Repeated constructions, reads and failed conversions must not leak references or memory."""
import gc
import os
import sys

import pytest

import vorn_core as vc


def resident_kib():
    with open("/proc/self/statm") as statm:
        pages = int(statm.read().split()[1])
    return pages * 4


def churn(node, link, engine):
    vc.LinkDefinition("A", "B", 1.0, 0.9, 100.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.5))
    vc.NetworkTopologyPayload([node], [link]).links
    link.satellite_conditions
    engine.simulate("A", "B", 0.5, 10.0, 1, seed=1).link_utilization_heatmap
    for bad in (lambda: vc.NodeDefinition("A", "x"), lambda: vc.NetworkTopologyPayload("ab", []),
                lambda: vc.NetworkTopologyPayload([node, 3], []), lambda: engine.simulate("A", "B", 0.5, 1.0, -1),
                lambda: vc.NodeDefinition("A", 1.0, 2), lambda: vc.NodeDefinition(id="A", colour=1)):
        try:
            bad()
        except (TypeError, OverflowError):
            pass


def test_arguments_keep_their_reference_counts():
    node = vc.NodeDefinition("A", 1.0)
    link = vc.LinkDefinition("A", "B", 1.0, 0.9, 100.0)
    engine = vc.VornEngine()
    engine.define_network([node], [link])
    before = (sys.getrefcount(node), sys.getrefcount(link), sys.getrefcount(engine))
    for _ in range(1000):
        churn(node, link, engine)
    assert (sys.getrefcount(node), sys.getrefcount(link), sys.getrefcount(engine)) == before


@pytest.mark.skipif(bool(os.environ.get("VORN_SANITIZED")),
                    reason="the address sanitizer keeps freed memory in quarantine, so RSS grows by design")
@pytest.mark.parametrize("rounds", [200_000])
def test_memory_stays_flat(rounds):
    node = vc.NodeDefinition("A", 1.0)
    link = vc.LinkDefinition("A", "B", 1.0, 0.9, 100.0)
    engine = vc.VornEngine()
    engine.define_network([node], [link])
    for _ in range(20_000):
        churn(node, link, engine)
    gc.collect()
    before = resident_kib()
    for _ in range(rounds):
        churn(node, link, engine)
    gc.collect()
    # Each round allocates a few hundred bytes; a leak of even one object a round shows as megabytes.
    assert resident_kib() - before < 2048
