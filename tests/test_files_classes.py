"""The Python classes of .vorn files: constructors, defaults, reprs, attributes, equality, argument errors."""
import gc
import math
import pathlib
import weakref

import pytest

import vorn_core as vc

NodeType = vc.VornNodeType
LinkType = vc.VornLinkType


def link(**fields):
    values = dict(id="L1", src="A", to="B", distance_km=10.0, base_fidelity=0.9, generation_rate_hz=1000.0)
    values.update(fields)
    return vc.VornLink(**values)


class TestNewFile:
    def test_defaults(self):
        f = vc.VornFile("net")
        assert f.version == "1.0"
        assert repr(f.metadata) == "VornMetadata(name='net', description=None, author=None)"
        assert f.metadata.created_at is None
        assert (f.nodes, f.links, f.config, f.constraints, f.extensions) == ([], [], None, None, None)

    def test_add_node_and_add_link_append_without_checks(self):
        f = vc.VornFile("net")
        assert f.add_node("A") is None
        f.add_node("A", 1500.0, 4, NodeType.Satellite)
        f.add_node(id="B", node_type=NodeType.Repeater, memory_capacity=0)
        assert f.add_link("", "A", "A", -5, 2.0, 0) is None
        f.add_link("L2", "A", "Z", 1.5, 0.5, 7, LinkType.Satellite, vc.VornSatelliteExtension(0.5, 0.25))
        assert [repr(n) for n in f.nodes] == [
            "VornNode(id='A', memory=None, capacity=None, type=None)",
            "VornNode(id='A', memory=Some(1500.0), capacity=Some(4), type=Some(PyVornNodeType(Satellite)))",
            "VornNode(id='B', memory=None, capacity=Some(0), type=Some(PyVornNodeType(Repeater)))",
        ]
        assert [repr(l) for l in f.links] == [
            "VornLink(id=\"\", src='A', to='A', dist=-5km, fid=2.00, rate=0Hz)",
            "VornLink(id=\"L2\", src='A', to='Z', dist=1.5km, fid=0.50, rate=7Hz)",
        ]
        second = f.links[1]
        assert repr(second.link_type) == "VornLinkType.Satellite"
        assert (second.satellite.visibility, second.satellite.weather_factor) == (0.5, 0.25)
        assert repr(f) == "VornFile(version='1.0', metadata={name:'net'}, nodes=3, links=2)"

    def test_text_signatures_and_docstrings(self):
        assert vc.VornFile.__text_signature__ == "(name)"
        assert vc.VornFile.add_node.__text_signature__ == (
            "($self, id, memory_lifetime_ms=None, memory_capacity=None, node_type=None)")
        assert vc.VornFile.add_link.__text_signature__ == (
            "($self, id, src, to, distance_km, base_fidelity, generation_rate_hz, link_type=None, satellite=None)")
        assert vc.VornFile.save.__text_signature__ == "($self, filepath)"
        assert vc.VornFile.add_node.__doc__.splitlines()[0] == "Add a node with optional fields."
        assert vc.VornFile.add_link.__doc__.splitlines()[0] == "Add a link with optional fields."
        assert vc.VornFile.save.__doc__ == "Save this .vorn file to disk as pretty-printed JSON."
        assert vc.VornLink.src.__doc__ == (
            'Link source node (Python kwarg is "src" to avoid Python keyword conflict with "from")')
        assert vc.VornSatelliteExtension.__text_signature__ is None
        assert vc.VornSatelliteExtension.effective_rate.__doc__ == (
            "Calculate effective generation rate based on conditions")


@pytest.mark.parametrize(
    "value, text",
    [
        (vc.VornFile("ring"), "VornFile(version='1.0', metadata={name:'ring'}, nodes=0, links=0)"),
        (vc.VornNode("N1"), "VornNode(id='N1', memory=None, capacity=None, type=None)"),
        (vc.VornNode("N1", 1000, 4, NodeType.Ground),
         "VornNode(id='N1', memory=Some(1000.0), capacity=Some(4), type=Some(PyVornNodeType(Ground)))"),
        (vc.VornNode("N1", 0.25, 4294967295), "VornNode(id='N1', memory=Some(0.25), capacity=Some(4294967295), type=None)"),
        (vc.VornNode("N1", 1e16), "VornNode(id='N1', memory=Some(1e16), capacity=None, type=None)"),
        (vc.VornNode("N1", 1e-5), "VornNode(id='N1', memory=Some(1e-5), capacity=None, type=None)"),
        (vc.VornNode("N1", 0.0001), "VornNode(id='N1', memory=Some(0.0001), capacity=None, type=None)"),
        (vc.VornNode("N1", 1e15), "VornNode(id='N1', memory=Some(1000000000000000.0), capacity=None, type=None)"),
        (vc.VornNode("N1", math.nan), "VornNode(id='N1', memory=Some(NaN), capacity=None, type=None)"),
        (vc.VornNode("N1", -math.inf), "VornNode(id='N1', memory=Some(-inf), capacity=None, type=None)"),
        (link(), "VornLink(id=\"L1\", src='A', to='B', dist=10km, fid=0.90, rate=1000Hz)"),
        (link(id="", distance_km=0.5, base_fidelity=0.876, generation_rate_hz=2.25),
         "VornLink(id=\"\", src='A', to='B', dist=0.5km, fid=0.88, rate=2.25Hz)"),
        (link(distance_km=1e20, base_fidelity=1, generation_rate_hz=1e-7),
         "VornLink(id=\"L1\", src='A', to='B', dist=100000000000000000000km, fid=1.00, rate=0.0000001Hz)"),
        (link(distance_km=-0.0, base_fidelity=math.nan, generation_rate_hz=math.inf),
         "VornLink(id=\"L1\", src='A', to='B', dist=-0km, fid=NaN, rate=infHz)"),
        (link(id='say "hi"\\\n\t\x01'),
         "VornLink(id=\"say \\\"hi\\\"\\\\\\n\\t\\u{1}\", src='A', to='B', dist=10km, fid=0.90, rate=1000Hz)"),
        (link(id="é€", src="Ä"), "VornLink(id=\"é€\", src='Ä', to='B', dist=10km, fid=0.90, rate=1000Hz)"),
        (vc.VornConfig(),
         "VornConfig(alpha_loss=None, beta_fidelity_decay=None, gamma_swapping=None, max_attempts=None)"),
        (vc.VornConfig(0.2, 1, 1e-5, 20),
         "VornConfig(alpha_loss=Some(0.2), beta_fidelity_decay=Some(1.0), gamma_swapping=Some(1e-5), "
         "max_attempts=Some(20))"),
        (vc.VornConstraints(), "VornConstraints(fidelity_target=None, max_latency_ms=None)"),
        (vc.VornConstraints(0.9, 100), "VornConstraints(fidelity_target=Some(0.9), max_latency_ms=Some(100.0))"),
        (vc.VornMetadata("net"), "VornMetadata(name='net', description=None, author=None)"),
        (vc.VornMetadata("it's", 'a "b"\\', "Ann\n", "2024-01-01"),
         "VornMetadata(name='it's', description=Some(\"a \\\"b\\\"\\\\\"), author=Some(\"Ann\\n\"))"),
        (NodeType.Ground, "VornNodeType.Ground"),
        (NodeType.Satellite, "VornNodeType.Satellite"),
        (NodeType.Repeater, "VornNodeType.Repeater"),
        (LinkType.Fiber, "VornLinkType.Fiber"),
        (LinkType.Satellite, "VornLinkType.Satellite"),
    ],
)
def test_reprs(value, text):
    assert repr(value) == text


def test_satellite_extension_has_the_default_repr_and_defaults():
    satellite = vc.VornSatelliteExtension()
    assert repr(satellite).startswith("<vorn_core.VornSatelliteExtension object at 0x")
    assert (satellite.visibility, satellite.weather_factor) == (1.0, 1.0)


@pytest.mark.parametrize(
    "args, kwargs, visibility, weather",
    [((0.5,), {}, 0.5, 1.0), ((None, 0.25), {}, 1.0, 0.25), ((), {"weather_factor": 0.25}, 1.0, 0.25),
     ((0.5, None), {}, 0.5, 1.0), ((1,), {"weather_factor": 2}, 1.0, 2.0)],
)
def test_satellite_extension_arguments(args, kwargs, visibility, weather):
    satellite = vc.VornSatelliteExtension(*args, **kwargs)
    assert (satellite.visibility, satellite.weather_factor) == (visibility, weather)
    assert type(satellite.visibility) is float
    assert satellite.effective_rate(1000) == 1000 * visibility * weather


class TestConstraintsEquality:
    @pytest.mark.parametrize(
        "a, b, equal",
        [((0.9,), (0.9,), True), ((), (), True), ((0.9, None), (0.9, 10.0), False), ((None, 5.0), (None, 5.0), True),
         ((0.9,), (0.91,), False), ((math.nan,), (math.nan,), False), ((None, math.nan), (None, math.nan), False)],
    )
    def test_compares_both_fields(self, a, b, equal):
        first, second = vc.VornConstraints(*a), vc.VornConstraints(*b)
        assert (first == second) is equal
        assert (first != second) is (not equal)

    def test_other_types_and_ordering(self):
        c = vc.VornConstraints(0.9)
        assert c.__eq__(0.9) is NotImplemented
        assert c.__lt__(c) is NotImplemented
        assert (c == 0.9) is False and (c != (0.9, None)) is True
        with pytest.raises(TypeError, match="^'<' not supported between instances of 'vorn_core.VornConstraints' "
                                            "and 'vorn_core.VornConstraints'$"):
            c < vc.VornConstraints(0.9)

    def test_other_file_classes_compare_by_identity(self):
        config = vc.VornConfig(0.2)
        assert config == config
        assert vc.VornConfig(0.2) != vc.VornConfig(0.2)
        assert vc.VornNode("A") != vc.VornNode("A")
        assert vc.VornMetadata("n") != vc.VornMetadata("n")


class TestAttributes:
    def test_list_reads_are_copies(self):
        f = vc.VornFile("net")
        f.add_node("A")
        nodes = f.nodes
        assert nodes is not f.nodes
        nodes.append(vc.VornNode("B"))
        nodes[0].id = "Z"
        f.metadata.name = "other"
        f.links.append(link())
        assert [n.id for n in f.nodes] == ["A"] and f.links == [] and f.metadata.name == "net"

    def test_lists_and_sections_are_replaced_by_assignment(self):
        f = vc.VornFile("net")
        f.nodes = (vc.VornNode("A"), vc.VornNode("B"))
        f.links = [link(), link(id="L2")]
        f.config = vc.VornConfig(max_attempts=3)
        f.constraints = vc.VornConstraints(0.8)
        f.metadata = vc.VornMetadata("renamed", author="Ann")
        f.version = "2.0"
        assert repr(f) == "VornFile(version='2.0', metadata={name:'renamed'}, nodes=2, links=2)"
        assert f.config.max_attempts == 3 and f.constraints == vc.VornConstraints(0.8)
        assert f.metadata.author == "Ann"
        f.config = None
        f.constraints = None
        assert (f.config, f.constraints) == (None, None)

    @pytest.mark.parametrize(
        "make, name, value",
        [(vc.VornNode("A"), "memory_lifetime_ms", None), (vc.VornNode("A", 1.0, 2, NodeType.Ground), "node_type", None),
         (vc.VornNode("A", 1.0, 2), "memory_capacity", None), (link(link_type=LinkType.Fiber), "link_type", None),
         (link(satellite=vc.VornSatelliteExtension()), "satellite", None), (vc.VornConfig(1.0), "alpha_loss", None),
         (vc.VornConstraints(1.0), "fidelity_target", None), (vc.VornMetadata("n", "d"), "description", None)],
    )
    def test_optional_attributes_accept_none(self, make, name, value):
        setattr(make, name, value)
        assert getattr(make, name) is None

    def test_numbers_convert_on_write(self):
        n = vc.VornNode("A", 2)
        assert type(n.memory_lifetime_ms) is float
        l = link(distance_km=3)
        l.generation_rate_hz = True
        assert (l.distance_km, l.generation_rate_hz) == (3.0, 1.0) and type(l.distance_km) is float

    @pytest.mark.parametrize(
        "target, name, value, error, message",
        [
            (link(), "id", None, TypeError, "'NoneType' object cannot be converted to 'PyString'"),
            (link(), "distance_km", None, TypeError, "must be real number, not NoneType"),
            (link(), "link_type", NodeType.Satellite, TypeError,
             "'VornNodeType' object cannot be converted to 'VornLinkType'"),
            (vc.VornFile("n"), "metadata", None, TypeError, "'NoneType' object cannot be converted to 'VornMetadata'"),
            (vc.VornFile("n"), "config", vc.VornConstraints(), TypeError,
             "'VornConstraints' object cannot be converted to 'VornConfig'"),
            (vc.VornFile("n"), "nodes", "AB", TypeError, "Can't extract `str` to `Vec`"),
            (vc.VornFile("n"), "links", [vc.VornNode("A")], TypeError,
             "'VornNode' object cannot be converted to 'VornLink'"),
            (vc.VornFile("n"), "version", 1.0, TypeError, "'float' object cannot be converted to 'PyString'"),
            (vc.VornNode("A"), "memory_capacity", 4.0, TypeError, "'float' object cannot be interpreted as an integer"),
            (vc.VornNode("A"), "memory_capacity", -1, OverflowError, "out of range integral type conversion attempted"),
            (vc.VornConfig(), "max_attempts", 2**32, OverflowError, "out of range integral type conversion attempted"),
        ],
    )
    def test_writes_refuse_wrong_types(self, target, name, value, error, message):
        with pytest.raises(error) as raised:
            setattr(target, name, value)
        assert str(raised.value) == message

    @pytest.mark.parametrize(
        "target, name",
        [(vc.VornFile("n"), "extensions"), (vc.VornFile("n"), "nodes"), (vc.VornNode("A"), "id"), (link(), "src"),
         (link(), "id"), (vc.VornConfig(), "max_attempts"), (vc.VornConstraints(), "max_latency_ms"),
         (vc.VornMetadata("n"), "created_at"), (vc.VornSatelliteExtension(), "visibility")],
    )
    def test_delete_is_refused(self, target, name):
        with pytest.raises(AttributeError, match="^can't delete attribute$"):
            delattr(target, name)

    def test_no_other_attributes(self):
        with pytest.raises(AttributeError):
            vc.VornFile("n").colour = "red"
        with pytest.raises(AttributeError):
            link().from_node = "A"

    def test_extensions_hold_any_object(self):
        f = vc.VornFile("n")
        payload = {"custom": [1, 2]}
        f.extensions = payload
        assert f.extensions == {"custom": [1, 2]}
        f.extensions = None
        assert f.extensions is None

    def test_a_cycle_through_extensions_is_collected(self):
        class Holder(list):
            pass

        f = vc.VornFile("n")
        holder = Holder([f])
        f.extensions = holder
        gone = weakref.ref(holder)
        del f, holder
        gc.collect()
        assert gone() is None


class TestEnumerations:
    def test_members_are_created_once_and_reads_are_new_objects(self):
        assert NodeType.Ground is NodeType.Ground
        read = vc.VornNode("A", node_type=NodeType.Ground).node_type
        assert read is not NodeType.Ground and read != NodeType.Ground
        assert repr(read) == "VornNodeType.Ground"

    @pytest.mark.parametrize("cls", [NodeType, LinkType])
    def test_no_constructor(self, cls):
        with pytest.raises(TypeError, match="^No constructor defined$"):
            cls()


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: vc.VornFile(), TypeError, "VornFile.__new__() missing 1 required positional argument: 'name'"),
        (lambda: vc.VornFile(name=None), TypeError,
         "argument 'name': 'NoneType' object cannot be converted to 'PyString'"),
        (lambda: vc.VornFile("n").add_link("L"), TypeError,
         "VornFile.add_link() missing 5 required positional arguments: "
         "'src', 'to', 'distance_km', 'base_fidelity', and 'generation_rate_hz'"),
        (lambda: vc.VornFile("n").add_node("A", 1.0, 2, NodeType.Ground, 5), TypeError,
         "VornFile.add_node() takes from 1 to 4 positional arguments but 5 were given"),
        (lambda: vc.VornFile("n").add_node("A", node_type=LinkType.Fiber), TypeError,
         "argument 'node_type': 'VornLinkType' object cannot be converted to 'VornNodeType'"),
        (lambda: vc.VornFile("n").add_node("A", memory_capacity="4"), TypeError,
         "argument 'memory_capacity': 'str' object cannot be interpreted as an integer"),
        (lambda: vc.VornFile("n").add_node("A", memory_capacity=-1), OverflowError,
         "out of range integral type conversion attempted"),
        (lambda: vc.VornFile("n").add_link("L", "A", "B", 1, 1, 1, satellite=vc.SatelliteConditions()), TypeError,
         "argument 'satellite': 'SatelliteConditions' object cannot be converted to 'VornSatelliteExtension'"),
        (lambda: vc.VornFile("n").save(), TypeError, "VornFile.save() missing 1 required positional argument: 'filepath'"),
        (lambda: vc.VornFile("n").save(pathlib.Path("x.vorn")), TypeError,
         "argument 'filepath': 'PosixPath' object cannot be converted to 'PyString'"),
        (lambda: vc.VornLink("L", "A", "B", 1, 1), TypeError,
         "VornLink.__new__() missing 1 required positional argument: 'generation_rate_hz'"),
        (lambda: vc.VornLink("L", from_="A", to="B"), TypeError,
         "VornLink.__new__() got an unexpected keyword argument 'from_'"),
        (lambda: vc.VornNode("A", id="B"), TypeError, "VornNode.__new__() got multiple values for argument 'id'"),
        (lambda: vc.VornSatelliteExtension(1, 2, 3), TypeError,
         "VornSatelliteExtension.__new__() takes from 0 to 2 positional arguments but 3 were given"),
        (lambda: vc.VornSatelliteExtension().effective_rate(), TypeError,
         "VornSatelliteExtension.effective_rate() missing 1 required positional argument: 'base_rate'"),
        (lambda: vc.save_vorn_file_wrapper(1, "x.vorn"), TypeError,
         "argument 'qf': 'int' object cannot be converted to 'VornFile'"),
        (lambda: vc.save(vc.VornNode("A"), "x.vorn"), TypeError,
         "argument 'qf': 'VornNode' object cannot be converted to 'VornFile'"),
        (lambda: vc.save_vorn_file_wrapper(vc.VornFile("n")), TypeError,
         "save_vorn_file_wrapper() missing 1 required positional argument: 'filepath'"),
        (lambda: vc.load_vorn_file(5), TypeError, "argument 'filepath': 'int' object cannot be converted to 'PyString'"),
        (lambda: vc.load(b"x.vorn"), TypeError,
         "argument 'filepath': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: vc.load_vorn_file(path="x"), TypeError,
         "load_vorn_file() got an unexpected keyword argument 'path'"),
        (lambda: vc.validate(), TypeError, "validate() missing 1 required positional argument: 'filepath'"),
        (lambda: vc.diff("a.vorn"), TypeError, "diff() missing 1 required positional argument: 'file2'"),
        (lambda: vc.diff("a.vorn", "b.vorn", "c.vorn"), TypeError,
         "diff() takes 2 positional arguments but 3 were given"),
        (lambda: vc.diff("a.vorn", None), TypeError,
         "argument 'file2': 'NoneType' object cannot be converted to 'PyString'"),
        (lambda: vc.from_vorn_file(pathlib.Path("x")), TypeError,
         "argument 'filepath': 'PosixPath' object cannot be converted to 'PyString'"),
        (lambda: vc.VornEngine().define_network_from_vorn(1), TypeError,
         "argument 'qf': 'int' object cannot be converted to 'VornFile'"),
        (lambda: vc.VornEngine().define_network_from_vorn(), TypeError,
         "VornEngine.define_network_from_vorn() missing 1 required positional argument: 'qf'"),
    ],
)
def test_argument_errors(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value) == message


def test_conversion_error_keeps_its_cause():
    with pytest.raises(TypeError) as raised:
        vc.save_vorn_file_wrapper(1, "x.vorn")
    assert type(raised.value.__cause__) is TypeError
    assert str(raised.value.__cause__) == "'int' object cannot be converted to 'VornFile'"


def test_file_class_is_final():
    with pytest.raises(TypeError, match="^type 'vorn_core.VornFile' is not an acceptable base type$"):
        type("Sub", (vc.VornFile,), {})


@pytest.mark.parametrize(
    "name, signature",
    [("load_vorn_file", "(filepath)"), ("load", "(filepath)"), ("validate", "(filepath)"),
     ("save_vorn_file_wrapper", "(qf, filepath)"), ("save", "(qf, filepath)"), ("from_vorn_file", "(filepath)"),
     ("diff", "(file1, file2)")],
)
def test_module_function_signatures(name, signature):
    assert getattr(vc, name).__text_signature__ == signature


def test_module_function_docstrings():
    assert vc.load_vorn_file.__doc__ == (
        "Load a .vorn file from disk and return it as a VornFile object.\n\n"
        'Validates version (must be "1.0") and graph connectivity before returning.\n'
        "Raises RuntimeError on IO errors, parse errors, or validation failures.")
    assert vc.save_vorn_file_wrapper.__doc__ == (
        "Save a PyVornFile to disk (module-level save alias for PyVornFile.save())")
    assert vc.load.__name__ == "load_vorn_file"
    assert vc.save.__name__ == "save_vorn_file_wrapper"
    assert vc.VornEngine.define_network_from_vorn.__doc__.startswith(
        "Load a topology from a loaded .vorn file directly into the engine.")
