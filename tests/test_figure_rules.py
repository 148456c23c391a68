"""The ranges of the figures of nodes, links and requests, as every entry point of the companion takes them
(the physical model's refusals are in test_physics.py, the file findings in test_files_findings.py)."""

import math

import pytest
import vorn_core as vc

import vorn._native as native
from vorn import parallel


def setup(node=None, link=None, request=None, nodes=None):
    nodes = nodes or [vc.NodeDefinition("A", 1.0), vc.NodeDefinition("B", 2.0)]
    links = [vc.LinkDefinition("A", "B", 50.0, 0.95, 1000.0)]
    for record, changes in ((nodes[0], node), (links[0], link)):
        for name, value in (changes or {}).items():
            setattr(record, name, value)
    figures = {"fidelity_target": 0.9, "max_latency_ms": 20.0} | (request or {})
    return nodes, links, vc.EntanglementRequest("A", "B", figures["fidelity_target"], figures["max_latency_ms"])


@pytest.mark.parametrize(
    "changes, refusal",
    [
        ({"node": {"memory_lifetime_t2": math.inf}}, None),  # a perfect memory
        ({"node": {"memory_lifetime_t2": 0.0}}, None),
        (
            {"node": {"memory_lifetime_t2": -1.0}},
            "nodes: memory_lifetime_t2 of node 'A' must be non-negative, got -1.0",
        ),
        (
            {"node": {"memory_lifetime_t2": math.nan}},
            "nodes: memory_lifetime_t2 of node 'A' must be non-negative, got NaN",
        ),
        ({"link": {"distance_km": 0.0}}, None),
        (
            {"link": {"distance_km": math.nan}},
            "links: distance_km of link 'A'-'B' must be finite and non-negative, got NaN",
        ),
        (
            {"link": {"distance_km": math.inf}},
            "links: distance_km of link 'A'-'B' must be finite and non-negative, got inf",
        ),
        ({"link": {"base_fidelity": 0.0}}, None),
        ({"link": {"base_fidelity": 1.5}}, "links: base_fidelity of link 'A'-'B' must be within [0, 1], got 1.5"),
        (
            {"link": {"generation_rate_hz": 0.0}},
            "links: generation_rate_hz of link 'A'-'B' must be finite and positive, got 0.0",
        ),
        (
            {"link": {"generation_rate_hz": math.inf}},
            "links: generation_rate_hz of link 'A'-'B' must be finite and positive, got inf",
        ),
        (
            {"link": {"satellite_conditions": vc.SatelliteConditions(1.2)}},
            "links: visibility of link 'A'-'B' must be within [0, 1], got 1.2",
        ),
        (
            {"link": {"satellite_conditions": vc.SatelliteConditions(1.0, -0.5)}},
            "links: weather_factor of link 'A'-'B' must be within [0, 1], got -0.5",
        ),
        ({"request": {"fidelity_target": 85}}, "fidelity_target: must be within [0, 1], got 85.0"),
        ({"request": {"max_latency_ms": math.inf}}, None),  # no bound
        ({"request": {"max_latency_ms": -1.0}}, "max_latency_ms: must be non-negative, got -1.0"),
        ({"request": {"max_latency_ms": math.nan}}, "max_latency_ms: must be non-negative, got NaN"),
        ({"nodes": [vc.NodeDefinition(name, 1.0) for name in "ABA"]}, "nodes: the id 'A' is defined twice"),
    ],
)
def test_every_entry_point_refuses_a_figure_out_of_its_range_naming_it(changes, refusal):
    nodes, links, request = setup(**changes)
    calls = [
        lambda: native.route_search_estimate(nodes, links, request),
        lambda: native.simulate(nodes, links, None, request, 1, 1),
        lambda: parallel.simulate(nodes, links, "A", "B", request.fidelity_target, request.max_latency_ms, 1, seed=1),
    ]
    if "request" not in changes:
        calls.append(lambda: native.vorn_file(nodes, links, "n", None, None, None, None))
    for call in calls:
        if refusal is None:
            call()
            continue
        with pytest.raises(ValueError) as refused:
            call()
        assert str(refused.value) == refusal
