"""The network records as a caller builds them: defaults and derived figures."""

import pytest
import vorn_core as vc
from conftest import fields


def test_defaults():
    link = vc.LinkDefinition("A", "B", 10.0, 0.9, 1000.0)
    assert (repr(link.link_type), link.satellite_conditions) == ("LinkType.Fiber", None)
    assert vc.EntanglementRequest("A", "B", 0.8, 10.0).strategy is None
    assert vc.MonteCarloStats(10, 0.5, 1.0, 0.9, 3, {"A->B": 4})._context is None


@pytest.mark.parametrize(
    "args, expected", [((), 100.0), ((0.5, 0.8), 40.0), ((None, 0.5), 50.0), ((2.0, -1.0), -200.0)]
)
def test_effective_rate(args, expected):
    assert vc.SatelliteConditions(*args).effective_rate(100.0) == expected


def test_configurations_from_loss():
    default, config = vc.SimulationConfig(), vc.SimulationConfig(100.0, 0.5, 0.3)
    assert fields(default, "total_time_cutoff_ms step_resolution_ms") + fields(
        default.physical, "baseline_purify_factor speed_of_light_in_fiber_km_ms"
    ) == (5000.0, 0.1, 0.022, 200.0)
    assert not hasattr(default.physical, "alpha_loss_db_km")
    assert [vc.PhysicalConfig(*a).baseline_purify_factor for a in ((), (0.2,), (None,))] == [0.022, 0.02, 0.022]
    assert fields(config, "total_time_cutoff_ms step_resolution_ms") == (100.0, 0.5)
    assert config.physical.baseline_purify_factor == 0.03


def test_heatmap_values_are_counts():
    with pytest.raises(TypeError, match="^argument 'link_utilization_heatmap'"):
        vc.MonteCarloStats(10, 0.5, 1.0, 0.9, 3, {"A->B": "x"})
    with pytest.raises(OverflowError):
        vc.MonteCarloStats(10, 0.5, 1.0, 0.9, 3, {"A->B": -1})
