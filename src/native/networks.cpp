// Networks and configurations that the companion takes from vorn_core's own sources (the reference
// topologies, .vorn files, the engine's defaults) and .vorn files it makes of networks, as vorn_core's
// records, by the rules vorn_core itself uses.
#include "core/figure_rules.hpp"
#include "core/topology/catalog.hpp"
#include "files/vorn_bridge.hpp"
#include "files/vorn_io.hpp"
#include "native/functions.hpp"
#include "native/network_data.hpp"
#include "python/toolkit/callables.hpp"
#include "python/toolkit/errors.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::native {

namespace {

using Constraints = std::optional<py::Loose<files::VornConstraints>>;
using Network = std::tuple<std::vector<NodeData>, std::vector<LinkData>, ConfigData>;

Network network_of(const files::VornFile& file) {
    NetworkTopologyPayload payload = files::network_definitions_from_vorn(file);
    return {
        loose(std::move(payload.nodes)), loose(std::move(payload.links)), {files::simulation_config_from_vorn(file)}};
}

py::Loose<NetworkTopologyPayload> reference_network(std::string name) { return {build_named_topology(name)}; }

ConfigData engine_default_config() { return {SimulationConfig::engine_default()}; }

std::tuple<std::vector<NodeData>, std::vector<LinkData>, ConfigData, Constraints> load_network(std::string path) {
    py::SignalCheck signals;
    files::Result<files::VornFile> loaded = files::load_vorn_file(path, &signals);
    if (!loaded) throw py::RuntimeFailure(files::load_failure_text(path, loaded.error(), &signals));
    const files::VornFile& file = loaded.value();
    auto [nodes, links, config] = network_of(file);
    Constraints constraints;
    if (file.constraints) constraints = py::Loose<files::VornConstraints>{*file.constraints};
    return {std::move(nodes), std::move(links), std::move(config), std::move(constraints)};
}

Network file_network(std::vector<py::Loose<files::VornNode>> nodes, std::vector<py::Loose<files::VornLink>> links,
                     std::optional<py::Loose<files::VornConfig>> config) {
    files::VornFile file;
    for (auto& node : nodes) file.nodes.push_back(std::move(node.value));
    for (auto& link : links) file.links.push_back(std::move(link.value));
    if (config) file.config = std::move(config->value);
    return network_of(file);
}

// vorn_core's VornFile of a file record (its constructor takes the name alone; the rest are attributes).
py::Ref python_file(const files::VornFile& file) {
    PyObject* type = py::core_class<py::VornFileValue>();
    if (!type) throw py::ErrorAlreadySet{};
    py::Ref name = py::Ref::steal(py::Convert<std::string>::to(file.metadata.name));
    py::Ref made = name ? py::Ref::steal(PyObject_CallFunctionObjArgs(type, name.get(), nullptr)) : py::Ref();
    if (!made) throw py::ErrorAlreadySet{};
    const py::VornFileValue value{file, {}};
    describe::for_each_field<py::VornFileValue>([&](const auto& field) {
        using F = std::decay_t<decltype(field)>;
        if constexpr (!std::is_same_v<typename F::Type, py::Ref>) {
            py::Ref item = py::Ref::steal(py::loose_field_to<py::VornFileValue, F>(F::get(value)));
            if (!item || PyObject_SetAttrString(made.get(), std::string(field.name).c_str(), item.get()) < 0)
                throw py::ErrorAlreadySet{};
        }
    });
    return made;
}

py::Ref vorn_file(std::vector<NodeData> nodes, std::vector<LinkData> links, std::string name,
                  std::optional<ConfigData> config,
                  std::optional<std::tuple<std::optional<double>, std::optional<double>>> constraints,
                  std::optional<std::string> description, std::optional<std::string> author) {
    NetworkTopologyPayload network{nodes_of(std::move(nodes)), links_of(std::move(links))};
    check_definitions(network.nodes, network.links);
    std::optional<files::VornConstraints> kept;
    if (constraints) {
        kept = files::VornConstraints{std::get<0>(*constraints), std::get<1>(*constraints)};
        for_each_broken_figure(*kept, [](const BrokenFigure& figure) {
            throw InvalidValue(broken_rule_text("constraints " + figure.path, *figure.rule, figure.value));
        });
    }
    std::optional<SimulationConfig> settings;
    if (config) settings = checked_config(std::move(config));
    const files::VornFile file = files::vorn_file_from_network(
        network, settings, std::move(kept), {std::move(name), std::move(description), std::move(author), std::nullopt});
    return python_file(file);
}

// The fields of a record that are numbers, in the order of its description.
template <class R>
std::vector<std::string> figures_of() {
    std::vector<std::string> names;
    describe::for_each_field<R>([&](const auto& field) {
        if constexpr (std::is_same_v<typename std::decay_t<decltype(field)>::Type, double>)
            names.emplace_back(field.name);
    });
    return names;
}

std::tuple<std::vector<std::string>, std::vector<std::string>> definition_figures() {
    return {figures_of<NodeDefinition>(), figures_of<LinkDefinition>()};
}

void check_figure(std::string figure, double value) {
    const FigureRule* rule = figure_rule(figure);
    if (!rule) throw py::ValueFailure("no rule for the figure '" + figure + "'");
    if (!rule->holds(value)) throw InvalidValue(broken_rule_text(figure, *rule, value));
}

}  // namespace

PyMethodDef engine_default_config_function() {
    return py::module_function<&engine_default_config>(
        "engine_default_config", {}, "The SimulationConfig of an engine built without a configuration.");
}

PyMethodDef reference_network_function() {
    return py::module_function<&reference_network>(
        "reference_network", {"name"},
        "The NetworkTopologyPayload of a reference topology, by any name that compare_topologies accepts.");
}

PyMethodDef load_network_function() {
    return py::module_function<&load_network, py::Lock::released>(
        "load_network", {"path"},
        "(nodes, links, config, constraints) that an engine takes from the .vorn file at path: lists of\n"
        "NodeDefinition and LinkDefinition, the SimulationConfig of from_vorn_file, and the file's\n"
        "VornConstraints or None. Loaded and validated as load_vorn_file does, with its RuntimeError.");
}

PyMethodDef file_network_function() {
    return py::module_function<&file_network>(
        "file_network", {"nodes", "links", "config"},
        "(nodes, links, config) that an engine defines from a .vorn file's nodes, links and config section\n"
        "(VornNode, VornLink and VornConfig records or None), as from_vorn_file does.");
}

PyMethodDef vorn_file_function() {
    return py::module_function<&vorn_file>(
        "vorn_file", {"nodes", "links", "name", "config", "constraints", "description", "author"},
        "A VornFile of node and link definitions from which from_vorn_file builds an engine with the same\n"
        "network and configuration (None: an engine's default), with the constraints (fidelity_target,\n"
        "max_latency_ms), either None, and the metadata's name, description and author. T2 (s) becomes\n"
        "memory_lifetime_ms that gives it back exactly; links get the ids \"A->B\", \"A->B#2\", ...; a\n"
        "configuration other than the default is written as alpha_loss and max_attempts. A figure out of\n"
        "its range, or a configuration that a file cannot hold, is a ValueError naming it.");
}

PyMethodDef definition_figures_function() {
    return py::module_function<&definition_figures>(
        "definition_figures", {},
        "(node figures, link figures): the names of the fields of NodeDefinition and LinkDefinition that are\n"
        "numbers, in the order of their descriptions.");
}

PyMethodDef check_figure_function() {
    return py::module_function<&check_figure>(
        "check_figure", {"figure", "value"},
        "A ValueError \"<figure> must be <rule>, got <value>\" unless value lies in the range of the\n"
        "figure (a field name: distance_km, base_fidelity, generation_rate_hz, memory_lifetime_t2,\n"
        "fidelity_target, max_latency_ms, alpha_loss_db_km, ...), by the rules every entry point uses.");
}

}  // namespace vorn::native
