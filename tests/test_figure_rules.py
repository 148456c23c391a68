"""The ranges of the figures of nodes, links and requests, as every entry point of the companion takes them
(the physical model's refusals are in test_physics.py, the file findings in test_files_findings.py)."""

import math

import pytest
import vorn_core as vc

import vorn._native as native
from vorn import parallel

WHERE = {"node": "nodes: {} of node 'A'", "link": "links: {} of link 'A'-'B'", "request": "{}:", "config": "config: {}"}


@pytest.mark.parametrize(
    "record, figure, value, rule",  # the rule that the value breaks, None for a value taken
    [
        ("node", "memory_lifetime_t2", math.inf, None),  # a perfect memory
        ("node", "memory_lifetime_t2", -1.0, "non-negative"),
        ("node", "memory_lifetime_t2", math.nan, "non-negative"),
        ("link", "distance_km", 0.0, None),
        ("link", "distance_km", math.inf, "finite and non-negative"),
        ("link", "base_fidelity", 1.5, "within [0, 1]"),
        ("link", "generation_rate_hz", 0.0, "finite and positive"),
        ("link", "visibility", 1.2, "within [0, 1]"),  # of a fibre link's satellite conditions too
        ("link", "weather_factor", -0.5, "within [0, 1]"),
        ("request", "fidelity_target", 85, "within [0, 1]"),
        ("request", "max_latency_ms", math.inf, None),  # no bound
        ("request", "max_latency_ms", math.nan, "non-negative"),
        ("config", "total_time_cutoff_ms", math.nan, "non-negative"),
        ("config", "physical.speed_of_light_in_fiber_km_ms", 0.0, "finite and positive"),
        ("config", "physical.baseline_purify_factor", -0.1, None),  # purification that lowers the fidelity
    ],
)
def test_every_entry_point_refuses_a_figure_out_of_its_range_naming_it(record, figure, value, rule):
    nodes = [vc.NodeDefinition("A", 1.0), vc.NodeDefinition("B", 2.0)]
    links = [vc.LinkDefinition("A", "B", 50.0, 0.95, 1000.0)]
    request = {"fidelity_target": 0.9, "max_latency_ms": 20.0}
    config = vc.SimulationConfig()
    if record == "request":
        request[figure] = value
    elif record == "config":
        physical = config.physical
        setattr(physical if figure.startswith("physical.") else config, figure.removeprefix("physical."), value)
        config.physical = physical
    elif figure in ("visibility", "weather_factor"):
        links[0].satellite_conditions = vc.SatelliteConditions(**{figure: value})
    else:
        setattr({"node": nodes[0], "link": links[0]}[record], figure, value)
    calls = [
        lambda: native.simulate(nodes, links, config, vc.EntanglementRequest("A", "B", **request), 1, 1),
        lambda: parallel.simulate(nodes, links, "A", "B", *request.values(), 1, seed=1, config=config),
    ]
    if record in ("node", "link"):
        calls.append(lambda: native.vorn_file(nodes, links, "n", config, None, None, None))
    for call in calls:
        if rule is None:
            call()
            continue
        with pytest.raises(ValueError) as refused:
            call()
        shown = "NaN" if math.isnan(value) else repr(float(value))
        assert str(refused.value) == f"{WHERE[record].format(figure)} must be {rule}, got {shown}"


def test_a_node_id_defined_twice_is_refused():
    nodes = [vc.NodeDefinition(name, 1.0) for name in "ABA"]
    with pytest.raises(ValueError, match="^nodes: the id 'A' is defined twice$"):
        parallel.simulate(nodes, [vc.LinkDefinition("A", "B", 5.0, 0.9, 10.0)], "A", "B", 0.5, 10.0, 1, seed=1)
