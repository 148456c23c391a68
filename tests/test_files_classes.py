"""The Python classes of .vorn files: constructors, defaults, reprs, equality, and what the file classes register.
Rules every class shares (copies on read, conversions, deleting, enum members) are tested in test_binding_rules.py."""

import gc
import math
import weakref

import pytest
import vorn_core as vc

NodeType = vc.VornNodeType
LinkType = vc.VornLinkType


def test_a_new_file_and_appending_without_checks():
    f = vc.VornFile("net")
    assert f.version == "1.0" and f.metadata.name == "net" and f.metadata.created_at is None
    assert (f.nodes, f.links, f.config, f.constraints, f.extensions) == ([], [], None, None, None)
    assert f.add_node("A") is None
    f.add_node(id="A", node_type=NodeType.Repeater, memory_capacity=0)
    assert f.add_link("", "A", "A", -5, 2.0, 0) is None
    f.add_link("L2", "A", "Z", 1.5, 0.5, 7, LinkType.Satellite, vc.VornSatelliteExtension(0.5, 0.25))
    assert [repr(n) for n in f.nodes] == [
        "VornNode(id='A', memory=None, capacity=None, type=None)",
        "VornNode(id='A', memory=None, capacity=Some(0), type=Some(PyVornNodeType(Repeater)))",
    ]
    assert [repr(l) for l in f.links] == [
        "VornLink(id=\"\", src='A', to='A', dist=-5km, fid=2.00, rate=0Hz)",
        "VornLink(id=\"L2\", src='A', to='Z', dist=1.5km, fid=0.50, rate=7Hz)",
    ]
    assert repr(f.links[1].link_type) == "VornLinkType.Satellite"
    assert (f.links[1].satellite.visibility, f.links[1].satellite.weather_factor) == (0.5, 0.25)
    assert repr(f) == "VornFile(version='1.0', metadata={name:'net'}, nodes=2, links=2)"


@pytest.mark.parametrize(
    "value, text",
    [
        (vc.VornNode("N1", 1000, 4294967295, NodeType.Ground),
         "VornNode(id='N1', memory=Some(1000.0), capacity=Some(4294967295), type=Some(PyVornNodeType(Ground)))"),
        (vc.VornLink(id='say "hi"\\\n\r\t\0\x01\x7fé€', src="Ä", to="B", distance_km=10.0, base_fidelity=0.9,
                     generation_rate_hz=1000.0),
         "VornLink(id=\"say \\\"hi\\\"\\\\\\n\\r\\t\\0\\u{1}\\u{7f}é€\", src='Ä', to='B', dist=10km, fid=0.90, "
         "rate=1000Hz)"),
        (vc.VornConfig(0.2, 1, 1e-5, 20), "VornConfig(alpha_loss=Some(0.2), beta_fidelity_decay=Some(1.0), "
         "gamma_swapping=Some(1e-5), max_attempts=Some(20))"),
        (vc.VornConstraints(None, 100), "VornConstraints(fidelity_target=None, max_latency_ms=Some(100.0))"),
        (vc.VornMetadata("it's", 'a "b"\\', "Ann\n", "2024-01-01"),
         'VornMetadata(name=\'it\'s\', description=Some("a \\"b\\"\\\\"), author=Some("Ann\\n"))'),
    ],
)  # fmt: skip
def test_reprs(value, text):
    assert repr(value) == text


@pytest.mark.parametrize(
    "args, kwargs, visibility, weather, rate",
    [((), {}, 1.0, 1.0, 1000.0), ((None, 0.25), {}, 1.0, 0.25, 250.0),
     ((0.5,), {"weather_factor": 2}, 0.5, 2.0, 1000.0)],
)  # fmt: skip
def test_satellite_extension(args, kwargs, visibility, weather, rate):
    satellite = vc.VornSatelliteExtension(*args, **kwargs)
    assert (satellite.visibility, satellite.weather_factor) == (visibility, weather)
    assert type(satellite.visibility) is float
    assert satellite.effective_rate(1000) == rate
    assert repr(satellite).startswith("<vorn_core.VornSatelliteExtension object at 0x")


@pytest.mark.parametrize(
    "a, b, equal",
    [((0.9,), (0.9,), True), ((None, 5.0), (None, 5.0), True), ((0.9, None), (0.9, 10.0), False),
     ((0.9,), (0.91,), False), ((math.nan,), (math.nan,), False)],
)  # fmt: skip
def test_constraints_compare_both_fields(a, b, equal):
    first, second = vc.VornConstraints(*a), vc.VornConstraints(*b)
    assert (first == second) is equal
    assert (first != second) is (not equal)


def test_constraints_compare_with_nothing_else_and_other_file_classes_by_identity():
    c = vc.VornConstraints(0.9)
    assert c.__eq__(0.9) is NotImplemented and c.__lt__(c) is NotImplemented
    assert (c == 0.9) is False and (c != (0.9, None)) is True
    with pytest.raises(
        TypeError,
        match="^'<' not supported between instances of 'vorn_core.VornConstraints' and 'vorn_core.VornConstraints'$",
    ):
        c < vc.VornConstraints(0.9)
    config = vc.VornConfig(0.2)
    assert config == config and config != vc.VornConfig(0.2) and vc.VornNode("A") != vc.VornNode("A")


def test_extensions_hold_any_object_and_a_cycle_through_them_is_collected():
    class Holder(list):
        pass

    f = vc.VornFile("n")
    f.extensions = {"custom": [1, 2]}
    assert f.extensions == {"custom": [1, 2]}
    holder = Holder([f])
    f.extensions = holder
    gone = weakref.ref(holder)
    del f, holder
    gc.collect()
    assert gone() is None


def test_file_class_is_final():
    with pytest.raises(TypeError, match="^type 'vorn_core.VornFile' is not an acceptable base type$"):
        type("Sub", (vc.VornFile,), {})
