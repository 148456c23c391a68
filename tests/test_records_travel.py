"""Records travel to other processes: pickle and copy give back equal records, field by field and bit for
bit; enumeration members come back as themselves; what Python cannot construct keeps refusing."""

import copy
import math
import pickle
import struct
import types

import pytest
import vorn_core as vc
from conftest import having, result_class

import vorn

vorn.enable_result_pickling()  # results of single requests travel by pickle

PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


def plain(value):
    """Records by their fields, floats by their bits (NaN, infinities and -0.0 included), members by repr."""
    if isinstance(value, float):
        return ("float", struct.pack("<d", value))
    if isinstance(value, (list, tuple)):
        return [plain(item) for item in value]
    if isinstance(value, dict):
        return {key: plain(item) for key, item in value.items()}
    if type(value).__module__ == "vorn_core" and not isinstance(value, BaseException):
        members = [
            name for name, attribute in vars(type(value)).items() if isinstance(attribute, types.GetSetDescriptorType)
        ]
        if not members:  # an enumeration member
            return repr(value)
        return (type(value).__name__, {name: plain(getattr(value, name)) for name in members})
    return value


def physical():  # no argument of the constructor gives this purification factor
    return having(vc.PhysicalConfig(0.3), baseline_purify_factor=0.1 + 0.2, speed_of_light_in_fiber_km_ms=-0.0)


def link():
    return vc.LinkDefinition("A", "B", 12.5, 0.93, 750.0, vc.LinkType.Satellite, vc.SatelliteConditions(0.5, 0.25))


def plain_state():
    return link().__reduce__()[2]


def simulation_config():
    return having(vc.SimulationConfig(1234.5, 0.25, 0.7), physical=physical())


def stats_with_context():
    engine = vc.VornEngine(simulation_config())
    engine.define_network([vc.NodeDefinition("A", 2.5), vc.NodeDefinition("B", 3.0)], [link()])
    return engine.simulate("A", "B", 0.9, 40.0, 50, vc.StrategyType.HighestSuccess, 7)


def vorn_file():
    qf = having(
        vc.VornFile("net"),
        version="1.1",
        metadata=vc.VornMetadata("net", "two nodes", "me", "today"),
        config=vc.VornConfig(0.2, None, 0.85, 20),
        constraints=vc.VornConstraints(0.8),
        extensions={"custom": [1, "two", 3.0]},
    )
    qf.add_node("A", 1500.0, 4, vc.VornNodeType.Repeater)
    qf.add_node("B")
    qf.add_link("", "A", "B", 10.0, 0.9, 100.0, vc.VornLinkType.Satellite, vc.VornSatelliteExtension(0.5, 0.75))
    return qf


RECORDS = {
    "NodeDefinition": lambda: vc.NodeDefinition("A", 2.5),
    "SatelliteConditions": lambda: vc.SatelliteConditions(math.inf, -math.inf),
    "LinkDefinition": link,
    "PhysicalConfig": physical,
    "SimulationConfig": simulation_config,
    "NetworkTopologyPayload": lambda: vc.NetworkTopologyPayload([vc.NodeDefinition("A", 1.0)], [link(), link()]),
    "EntanglementRequest": lambda: vc.EntanglementRequest("A", "B", math.nan, -0.0, vc.StrategyType.LowestLatency),
    "SimulationResult": lambda: result_class()(True, 0.25, 0.9, ("A", "B")),
    "MonteCarloStats": stats_with_context,
    "VornFile": vorn_file,
    "VornNode": lambda: vc.VornNode("A", 1500.0, 4, vc.VornNodeType.Satellite),
    "VornLink": lambda: vc.VornLink("L1", "A", "B", 10.0, 0.9, 100.0, vc.VornLinkType.Fiber,
                                    vc.VornSatelliteExtension(0.5)),
    "VornConfig": lambda: vc.VornConfig(0.2, 0.01, None, 7),
    "VornConstraints": lambda: vc.VornConstraints(None, 12.0),
    "VornMetadata": lambda: vc.VornMetadata("net", None, "me"),
    "VornSatelliteExtension": lambda: vc.VornSatelliteExtension(0.5, 0.75),
    "TopologyEndpoints": lambda: vc.TopologyEndpoints("repeater_chain", "N0", "N3"),
    "QKDParameters": lambda: vc.QKDParameters("A", "B", 0.8, 100.0, 7, 0.2, 0.25, 0.5),
    "QKDResult": lambda: vc.QKDResult(True, 40, 0.4, 0.025, 100.0, ("A", "B"), 100, 1),
    "QKDStats": lambda: vc.QKDStats(5, 0.8, 40.5, 0.4, 0.03),
    "TeleportationParameters": lambda: having(vc.TeleportationParameters("A", "B", 0.9, 50.0), relay_nodes=["R", "S"]),
    "TeleportationOutcome": lambda: vc.TeleportationOutcome(True, 0.855, 0.9, 12.5, ["A", "R", "B"], 2),
    "TeleportationStats": lambda: vc.TeleportationStats(5, 0.8, 0.85, 0.01, 12.0),
    "CoordinationTopology": lambda: vc.CoordinationTopology("custom", "A", [("A", "B"), ("B", "C")]),
    "MeasurementBasis": lambda: vc.MeasurementBasis(vc.BasisType.GraphGraph, 0.7),
    "DistributedComputingParameters": lambda: vc.DistributedComputingParameters(
        ["A", "B"], vc.CoordinationTopology.star("A"), vc.MeasurementBasis(vc.BasisType.Cluster, 0.6), 2.5),
    "PartyOutcome": lambda: vc.PartyOutcome("A", True, 0.75),
    "DistributedComputingResult": lambda: vc.DistributedComputingResult(
        True, 0.5, [vc.PartyOutcome("A", True, 0.75), vc.PartyOutcome("B", False, 0.25)], ["A->B"], 4.0, 5.0),
    "DistributedComputingStats": lambda: vc.DistributedComputingStats(5, 0.8, 0.5, 0.9),
}  # fmt: skip


TRAVELS = [pytest.param(lambda record, p=p: pickle.loads(pickle.dumps(record, p)), id=f"pickle-{p}") for p in PROTOCOLS]
TRAVELS += [pytest.param(copy.copy, id="copy"), pytest.param(copy.deepcopy, id="deepcopy")]


def test_every_class_with_a_constructor_has_a_case():
    constructed = set()
    for name in vc.__all__:
        cls = getattr(vc, name)
        if isinstance(cls, type) and cls is not vc.VornEngine:
            try:
                cls()
            except TypeError as error:
                if str(error) == "No constructor defined":
                    continue
            constructed.add(name)
    assert constructed | {"SimulationResult"} == set(RECORDS)


@pytest.mark.parametrize("travel", TRAVELS)
@pytest.mark.parametrize("name", RECORDS)
def test_records_come_back_equal_field_by_field(name, travel):
    record = RECORDS[name]()
    back = travel(record)
    assert type(back) is type(record) and back is not record and plain(back) == plain(record)


def test_copies_share_what_a_copy_shares():
    qf = vorn_file()
    assert copy.copy(qf).extensions is qf.extensions
    deep = copy.deepcopy(qf)
    assert deep.extensions == qf.extensions and deep.extensions is not qf.extensions


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_enumeration_members_come_back_as_themselves(protocol):
    for cls in (vc.LinkType, vc.StrategyType, vc.BasisType, vc.VornNodeType, vc.VornLinkType):
        for member in vars(cls).values():
            if isinstance(member, cls):
                assert pickle.loads(pickle.dumps(member, protocol)) is member
                assert copy.copy(member) is member and copy.deepcopy(member) is member
    # A member read from an attribute is a new object; it comes back as the class attribute.
    assert pickle.loads(pickle.dumps(link().link_type, protocol)) is vc.LinkType.Satellite


def test_statistics_keep_their_context_and_can_still_be_analysed():
    stats = stats_with_context()
    # One link: no pair loss decides anything, so the seeded analysis repeats exactly.
    assert pickle.loads(pickle.dumps(stats)).sensitivity_analysis(11) == stats.sensitivity_analysis(11)
    stats._context = None
    assert pickle.loads(pickle.dumps(stats))._context is None


@pytest.mark.parametrize(
    "make, state, error, message",
    [
        (link, {**plain_state(), "distance_km": "far"}, TypeError,
         "^field 'distance_km': must be real number, not str$"),
        (link, [], TypeError, "^'list' object cannot be converted to 'PyDict'$"),
        (link, {"to": "C"}, ValueError, "^LinkDefinition state: missing fields 'from_node', 'distance_km', "),
        (link, {**plain_state(), "unknown": 1}, ValueError, "^LinkDefinition state: unknown field 'unknown'$"),
        (link, {k: v for k, v in plain_state().items() if k != "to"} | {"too": "B", 1: 2}, ValueError,
         "^LinkDefinition state: missing field 'to'; unknown fields 'too', 1$"),
        (RECORDS["QKDParameters"], {}, ValueError, "^QKDParameters state: missing fields 'from_node', "),
        (RECORDS["NodeDefinition"], {"id": "A", "memory_lifetime_t2_typo": 150.0}, ValueError,
         "^NodeDefinition state: missing field 'memory_lifetime_t2'; unknown field "),
    ],
)  # fmt: skip
def test_state_that_does_not_fit_is_refused_and_leaves_the_record_unchanged(make, state, error, message):
    record = make()
    before = plain(record)
    with pytest.raises(error, match=message):
        record.__setstate__(state)
    assert plain(record) == before


def comparison():
    return vc.compare_topologies([vc.TopologyEndpoints("repeater_chain", "N0", "N3")], 0.8, 100.0, 2)


def snapshot():
    engine = vc.VornEngine()
    engine.define_network([vc.NodeDefinition("A", 1.0)], [])
    return engine.snapshot()


@pytest.mark.parametrize(
    "make",
    [
        vc.VornEngine,
        lambda: stats_with_context()._context,
        comparison,
        lambda: comparison().results[0],
        snapshot,
        lambda: snapshot().config,
        lambda: snapshot().metadata,
        lambda: vc.diff_topologies(snapshot(), snapshot()),
    ],
)
def test_what_python_cannot_construct_does_not_travel(make):
    value = make()
    for travel in (pickle.dumps, copy.copy, copy.deepcopy):
        with pytest.raises(TypeError, match="cannot pickle"):
            travel(value)
    if not isinstance(value, vc.VornEngine):
        with pytest.raises(TypeError, match="^No constructor defined$"):
            type(value)()
