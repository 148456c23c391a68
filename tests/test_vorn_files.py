import json
import math
import os

import pytest
import vorn_core as vc
from conftest import network_figures

import vorn._native as native
from vorn import parallel
from vorn.files import load_network, load_snapshot, load_vorn_file, to_vorn_file


def settings(config):
    physical = config.physical
    return (
        physical.baseline_purify_factor,
        physical.speed_of_light_in_fiber_km_ms,
        config.total_time_cutoff_ms,
        config.step_resolution_ms,
    )


def network():
    nodes = [vc.NodeDefinition("A", 0.1234567), vc.NodeDefinition("B", 150.0), vc.NodeDefinition("C", 2.5e-3)]
    links = [
        vc.LinkDefinition("A", "B", 50.0, 0.95, 1000.0),
        vc.LinkDefinition("B", "C", 800.0, 0.9, 50.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.8)),
        vc.LinkDefinition("A", "B", 70.0, 0.93, 400.0),
    ]
    return nodes, links


@pytest.mark.parametrize(
    "config, section",
    [
        (None, None),
        (vc.SimulationConfig(5000.0, 0.1, 1.2), None),  # VornEngine()'s own
        (vc.SimulationConfig(1000.0, 0.1, 3.0), {"alpha_loss": 3.0, "max_attempts": 20}),
        (vc.SimulationConfig(), {"alpha_loss": 0.22, "max_attempts": 100}),
    ],
)
def test_a_file_from_definitions_gives_an_engine_the_same_network_and_configuration(tmp_path, config, section):
    path = str(tmp_path / "net.vorn")
    to_vorn_file(*network(), "net", config, constraints=(0.8, None), author="me").save(path)
    written = json.loads((tmp_path / "net.vorn").read_text())
    assert written.get("config") == section and written["constraints"] == {"fidelity_target": 0.8}
    assert [link["id"] for link in written["links"]] == ["A->B", "B->C", "A->B#2"]
    assert written["metadata"] == {"name": "net", "author": "me"}
    loaded = load_network(path)
    assert network_figures(loaded.nodes, loaded.links) == network_figures(*network())  # every T2 exactly
    expected = config or native.engine_default_config()
    assert settings(loaded.config) == settings(expected)
    assert (loaded.fidelity_target, loaded.max_latency_ms) == (0.8, None)
    # the engine that vorn_core itself makes of the file serves the request alike
    engine = vc.from_vorn_file(path)
    assert engine.simulate("A", "B", 0.9, 20.0, 500, seed=3).empirical_success_rate == (
        parallel.simulate(
            loaded.nodes, loaded.links, "A", "B", 0.9, 20.0, 500, seed=3, config=loaded.config, workers=1
        ).empirical_success_rate
    )


@pytest.mark.parametrize(
    "config, error, text",
    [
        (vc.SimulationConfig(5000.0, 0.5), ValueError, "config.step_resolution_ms 0.5 cannot be written to a .vorn"),
        (vc.SimulationConfig(1234.0, 0.1), ValueError, "config.total_time_cutoff_ms 1234.0 cannot be written to a"),
        (vc.SimulationConfig(alpha_loss_db_km=-1.0), ValueError, "config.physical.baseline_purify_factor -0.1 cannot"),
        (3, TypeError, "argument 'config': expected SimulationConfig, got int (it has no attribute 'physical')"),
    ],
)
def test_a_configuration_a_file_cannot_hold_is_refused(config, error, text):
    with pytest.raises(error) as raised:
        to_vorn_file(*network(), "net", config)
    assert str(raised.value).startswith(text)


def test_file_conversion_follows_the_engine_rules():
    nodes, links, config = native.file_network(
        [vc.VornNode("A", 1500.0), vc.VornNode("B")],
        [
            vc.VornLink("", "A", "B", 1.0, 0.9, 10.0, vc.VornLinkType.Satellite, vc.VornSatelliteExtension(0.5, 0.8)),
            vc.VornLink("", "B", "A", 2.0, 0.8, 5.0),
        ],
        vc.VornConfig(max_attempts=20),
    )
    assert network_figures(nodes, links) == network_figures(
        [vc.NodeDefinition("A", 1.5), vc.NodeDefinition("B", 1.0)],
        [
            vc.LinkDefinition("A", "B", 1.0, 0.9, 10.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.8)),
            vc.LinkDefinition("B", "A", 2.0, 0.8, 5.0),
        ],
    )
    assert settings(config) == (0.22, 200.0, 1000.0, 0.1)  # a config without alpha_loss takes 0.22 itself
    for name in ("telecom_backbone", "repeater_chain", "hybrid_satellite_fiber", "hybrid"):
        reference = vc.generate_topology(name.replace("hybrid", "hybrid_satellite_fiber", name == "hybrid"))
        ours = native.reference_network(name)
        assert network_figures(ours.nodes, ours.links) == network_figures(reference.nodes, reference.links)


def test_a_snapshot_given_to_the_file_loader_gets_a_hint(tmp_path):
    engine = vc.VornEngine()
    engine.define_network(*network())
    vc.save_topology(engine, str(tmp_path / "snapshot.json"))
    with pytest.raises(RuntimeError) as raised:
        load_vorn_file(tmp_path / "snapshot.json")
    assert str(raised.value).startswith(f"Failed to load {tmp_path / 'snapshot.json'}: ")
    assert str(raised.value).endswith(
        "\nhint: this looks like an engine snapshot (save_topology): load it with vorn_core.load_topology(engine, path)"
    )


def test_a_vorn_file_given_to_the_snapshot_loader_gets_a_hint(tmp_path):
    to_vorn_file(*network(), "net").save(str(tmp_path / "net.vorn"))
    engine = vc.VornEngine()
    with pytest.raises(RuntimeError) as raised:
        load_snapshot(engine, tmp_path / "net.vorn")
    assert str(raised.value).startswith("Failed to parse topology JSON: ")
    assert str(raised.value).endswith(
        "\nhint: this looks like a .vorn file: load it with vorn_core.load_vorn_file or vorn_core.from_vorn_file"
    )


def test_any_path_the_system_accepts(tmp_path):
    name = os.path.join(os.fsencode(tmp_path), b"net\xff.vorn")  # no valid UTF-8
    path = os.fsdecode(name)
    with open(name, "w") as file:
        file.write(json.dumps({"version": "1.0", "metadata": {"name": "n"}, "nodes": [{"id": "A"}], "links": []}))
    loaded = load_network(path)
    assert network_figures(loaded.nodes, loaded.links) == network_figures([vc.NodeDefinition("A", 1.0)], [])
    with pytest.raises(FileNotFoundError):
        load_network(path[:-5] + "-missing.vorn")


def test_a_lifetime_that_no_number_of_ms_gives_back_comes_back_closest(tmp_path):
    assert all(m / 1000 != 1e-9 for m in (1e-6, math.nextafter(1e-6, 0), math.nextafter(1e-6, 1)))
    to_vorn_file([vc.NodeDefinition("A", 1e-9)], [], "n").save(str(tmp_path / "n.vorn"))
    (node,) = load_network(tmp_path / "n.vorn").nodes
    assert abs(node.memory_lifetime_t2 - 1e-9) <= math.ulp(1e-9)
