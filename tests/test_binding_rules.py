"""The rules every class and function follows: argument binding, conversion, attributes, enums."""

import collections
import contextlib

import pytest
import vorn_core as vc
from conftest import calling_back, result_class

N = vc.NodeDefinition


def node():
    return N("A", 1.0)


def link():
    return vc.LinkDefinition("A", "B", 10.0, 0.9, 1000.0)


# Constructors bind a tuple and a dict, everything else binds FASTCALL arguments: each message on both.
BINDING = [
    (lambda: N(), "NodeDefinition.__new__() missing 2 required positional arguments: 'id' and 'memory_lifetime_t2'"),
    (lambda: vc.LinkDefinition("a"), "LinkDefinition.__new__() missing 4 required positional arguments: "
     "'to', 'distance_km', 'base_fidelity', and 'generation_rate_hz'"),
    (lambda: N("a", 1.0, 2), "NodeDefinition.__new__() takes 2 positional arguments but 3 were given"),
    (lambda: vc.PhysicalConfig(1.0, 2.0),
     "PhysicalConfig.__new__() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda: N("a", 1.0, colour="red"), "NodeDefinition.__new__() got an unexpected keyword argument 'colour'"),
    (lambda: N("a", 1.0, id="b"), "NodeDefinition.__new__() got multiple values for argument 'id'"),
    (lambda: vc.StrategyType.LowestLatency.to_u8(1),
     "StrategyType.to_u8() takes 0 positional arguments but 1 was given"),
    (lambda: vc.SatelliteConditions().effective_rate(),
     "SatelliteConditions.effective_rate() missing 1 required positional argument: 'base_rate'"),
    (lambda: vc.CoordinationTopology.star(),
     "CoordinationTopology.star() missing 1 required positional argument: 'center_node'"),
    (lambda: vc.VornEngine().simulate("a", "b", 0.5, 1.0, 1, colour=1),
     "VornEngine.simulate() got an unexpected keyword argument 'colour'"),
    (lambda: vc.VornEngine().simulate("a", "b", 0.5, 1.0, 1, to="c"),
     "VornEngine.simulate() got multiple values for argument 'to'"),
    (lambda: vc.diff("a", file1="b"), "diff() got multiple values for argument 'file1'"),
    (lambda: vc.LinkType(), "No constructor defined"),
]  # fmt: skip


# Constructors bind a tuple and a dict, everything else binds FASTCALL arguments: each message on both.
@pytest.mark.parametrize("call, message", BINDING)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "call, callable_name",
    [
        (lambda **names: N(memory_lifetime_t2=1.0, **names), "NodeDefinition.__new__()"),
        (lambda **names: vc.VornEngine().simulate("A", "A", 0.5, 1.0, 1, **names), "VornEngine.simulate()"),
    ],
)
@pytest.mark.parametrize("name", ["id\x00junk", "seed\x00", "\udc80"])
def test_keyword_names_match_whole(call, callable_name, name):
    with pytest.raises(TypeError) as raised:
        call(**{name: "A"})
    assert str(raised.value) == f"{callable_name} got an unexpected keyword argument '{name}'"


def test_keyword_names_built_at_run_time_match():
    engine = vc.VornEngine()
    engine.define_network([node()], [])
    request = {"to": "A", "fidelity_target": 0.5, "max_latency_ms": 1.0, "runs": 1}
    stats = engine.simulate(**{"".join(["from_", "node"]): "A", **request, "".join(["se", "ed"]): 3})
    assert stats._context.seed == 3 and N(**{"".join(["i", "d"]): "A", "memory_lifetime_t2": 2.0}).id == "A"


CONVERSIONS = [
    (lambda: N(1, 1.0), "id", "'int' object cannot be converted to 'PyString'"),
    (lambda: N("a", "x"), "memory_lifetime_t2", "must be real number, not str"),
    (lambda: result_class()(1, 0.0, 0.0, []), "success", "'int' object cannot be converted to 'PyBool'"),
    (lambda: vc.NetworkTopologyPayload("ab", []), "nodes", "Can't extract `str` to `Vec`"),
    (lambda: vc.NetworkTopologyPayload(5, []), "nodes", "'int' object cannot be converted to 'Sequence'"),
    (lambda: vc.NetworkTopologyPayload([link()], []), "nodes",
     "'LinkDefinition' object cannot be converted to 'NodeDefinition'"),
    (lambda: vc.LinkDefinition("a", "b", 1.0, 1.0, 1.0, link_type=0), "link_type",
     "'int' object cannot be converted to 'LinkType'"),
    (lambda: vc.VornEngine().simulate("a", "b", 0.8, 10.0, 2.5), "runs",
     "'float' object cannot be interpreted as an integer"),
    # The type is checked before the hold: the engine, held by its own method, is simply not a file.
    (lambda: (lambda e: e.define_network_from_vorn(e))(vc.VornEngine()), "qf",
     "'VornEngine' object cannot be converted to 'VornFile'"),
]  # fmt: skip


@pytest.mark.parametrize("call, argument, message", CONVERSIONS)
def test_conversion_errors_name_the_argument(call, argument, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == f"argument '{argument}': {message}"
    assert isinstance(raised.value.__cause__, TypeError) and str(raised.value.__cause__) == message


@pytest.mark.parametrize(
    "value, message", [(-1, "can't convert negative int to unsigned"), (2**64, "int too big to convert")]
)
def test_counts_out_of_range_overflow(value, message):
    for runs, seed in ((value, None), (1, value)):  # converted before the missing network is noticed
        with pytest.raises(OverflowError, match=message):
            vc.VornEngine().simulate("A", "A", 0.5, 10.0, runs, seed=seed)


@pytest.mark.parametrize("value", [-1, -(2**64), 2**32, 2**64])
def test_32_bit_counts_out_of_range_overflow_with_one_text(value):
    with pytest.raises(OverflowError) as raised:
        vc.VornConfig(max_attempts=value)
    assert str(raised.value) == "out of range integral type conversion attempted"


def test_float_arguments_accept_anything_with_a_float_conversion():
    assert [N("a", v).memory_lifetime_t2 for v in (3, calling_back(lambda: None), True)] == [3.0, 0.5, 1.0]


class LyingSequence:
    def __init__(self, items, claimed):
        self.items, self.claimed = items, claimed

    def __len__(self):
        return self.claimed

    def __getitem__(self, index):
        return self.items[index]


class LyingList(list):
    def __init__(self, items, claimed):
        super().__init__(items)
        self.claimed = claimed

    __len__ = LyingSequence.__len__


@pytest.mark.parametrize("kind", [LyingList, LyingSequence])
@pytest.mark.parametrize("claimed", [2**62, 10**9, 0])
def test_sequences_convert_the_items_they_yield_whatever_their_length_claims(kind, claimed):
    payload = vc.NetworkTopologyPayload(kind([node()], claimed), kind([link(), link()], claimed))
    assert [n.id for n in payload.nodes] == ["A"] and len(payload.links) == 2


def test_fixed_tuple_length_is_checked():
    engine = vc.VornEngine()
    engine.define_network([node()], [])
    context = engine.simulate("A", "A", 0.5, 1.0, 0, seed=1)._context
    with pytest.raises(ValueError, match="^expected tuple of length 2, but got tuple of length 3$"):
        context.nodes = [("A", 1.0, 2.0)]
    with pytest.raises(TypeError, match="^'list' object cannot be converted to 'PyTuple'$"):
        context.nodes = [["A", 1.0]]


class TestAttributes:
    def test_reads_are_copies(self):
        payload = vc.NetworkTopologyPayload([node()], [link()])
        first = payload.links
        first.append(link())
        first[0].to = "Z"
        assert len(payload.links) == 1 and payload.links[0].to == "B"

    def test_nested_record_changes_only_by_assignment(self):
        config = vc.SimulationConfig()
        physical = config.physical
        physical.baseline_purify_factor = 0.5
        assert config.physical.baseline_purify_factor == 0.022
        config.physical = physical
        assert config.physical.baseline_purify_factor == 0.5

    @pytest.mark.parametrize("make, name", [(node, "id"), (link, "satellite_conditions")])
    def test_delete_is_refused_and_there_is_no_instance_dict(self, make, name):
        with pytest.raises(AttributeError, match="^can't delete attribute$"):
            delattr(make(), name)
        with pytest.raises(AttributeError):
            make().colour = "red"

    def test_writes_convert(self):
        n, l = node(), link()
        n.memory_lifetime_t2, l.satellite_conditions = 7, vc.SatelliteConditions(0.5)
        assert type(n.memory_lifetime_t2) is float and l.satellite_conditions.visibility == 0.5
        with pytest.raises(TypeError, match="^must be real number, not NoneType$"):
            n.memory_lifetime_t2 = None
        l.satellite_conditions = None
        assert l.satellite_conditions is None
        with pytest.raises(TypeError, match="^'NoneType' object cannot be converted to 'LinkType'$"):
            l.link_type = None


def test_enumeration_members():
    assert vc.LinkType.Satellite is vc.LinkType.Satellite
    read = vc.LinkDefinition("a", "b", 1.0, 1.0, 1.0, vc.LinkType.Satellite).link_type
    assert repr(read) == "LinkType.Satellite" and read is not vc.LinkType.Satellite and read != vc.LinkType.Satellite
    members = (vc.StrategyType.LowestLatency, vc.StrategyType.HighestFidelity, vc.StrategyType.HighestSuccess)
    assert [(repr(m), m.to_u8()) for m in members] == [
        ("StrategyType.LowestLatency", 0), ("StrategyType.HighestFidelity", 1), ("StrategyType.HighestSuccess", 2)
    ]  # fmt: skip


def test_static_methods_bind_keywords_and_are_reached_through_instances():
    assert vc.CoordinationTopology("x").star(center_node="hub").center_node == "hub"


class TestReentrantCalls:
    """Python code that a call's conversions run on the calling thread meets the objects of the call as held
    from the call's start: one held shared may be read again but not changed, one held exclusively not used."""

    @staticmethod
    def nodes_calling(hook, action):
        """The nodes [A] in a sequence whose `hook` (__iter__, __len__ or __getitem__) runs `action` first."""

        def hooked(nodes, *args):
            action()
            return getattr(collections.UserList, hook)(nodes, *args)

        return type("Nodes", (collections.UserList,), {hook: hooked})([node()])

    @pytest.mark.parametrize("hook", ["__iter__", "__len__", "__getitem__"])
    def test_redefining_from_inside_a_definition_fails_and_the_definition_goes_through(self, chain_engine, hook):
        errors = []

        def redefine():
            try:
                chain_engine.define_network([], [])
            except RuntimeError as error:
                errors.append(str(error))

        chain_engine.define_network(self.nodes_calling(hook, redefine), [])
        assert errors and set(errors) == {"Already borrowed"}
        assert [chain_engine.request_entanglement(n, n, 0.5, 1.0).execution_path for n in ("A", "N0")] == [["A"], []]

    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda e, f: e.request_entanglement("N0", "N3", calling_back(lambda: e.define_network([], [])), 1.0),
             "Already borrowed"),
            (lambda e, f: vc.qkd(e, "N0", "N3", calling_back(lambda: vc.load_topology(e, "x.json")), 1.0),
             "Already borrowed"),
            (lambda e, f: f.add_node("B", calling_back(lambda: e.define_network_from_vorn(f))),
             "Already mutably borrowed"),
            (lambda e, f: e.define_network(TestReentrantCalls.nodes_calling(
                "__iter__", lambda: e.request_entanglement("N0", "N3", 0.8, 1.0)), []), "Already mutably borrowed"),
            (lambda e, f: vc.qkd(e, "N0", "N3", calling_back(lambda: e.simulate("N0", "N3", 0.8, 1.0, 1, seed=1)), 1.0),
             None),
        ],
    )  # fmt: skip
    def test_calls_from_inside_a_conversion(self, chain_engine, call, message):
        file = vc.VornFile("net")
        file.add_node("A")
        # The error is raised inside the conversion and passed on as it is.
        with pytest.raises(RuntimeError, match=f"^{message}$") if message else contextlib.nullcontext():
            call(chain_engine, file)
        assert chain_engine.request_entanglement("N0", "N3", 0.8, 100.0).execution_path == ["N0", "N1", "N2", "N3"]
        assert [n.id for n in file.nodes] == ["A"]
