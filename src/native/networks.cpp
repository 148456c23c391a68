// Networks and configurations that the companion takes from vorn_core's own sources (the reference
// topologies, .vorn files, the engine's defaults) as the plain data its other functions take, by the
// rules vorn_core itself uses.
#include "core/topology/catalog.hpp"
#include "files/vorn_bridge.hpp"
#include "native/functions.hpp"
#include "python/toolkit/callables.hpp"
#include "python/toolkit/errors.hpp"

namespace vorn::native {

namespace {

// The plain data that vorn_core's records are taken from (network_data.hpp), given back: the fields
// of each record in order.
using NodeTuple = std::tuple<std::string, double>;
using LinkTuple = std::tuple<std::string, std::string, double, double, double, std::string,
                             std::optional<std::tuple<double, double>>>;
using ConfigTuple = std::tuple<std::tuple<double, double>, double, double>;
using Network = std::tuple<std::vector<NodeTuple>, std::vector<LinkTuple>>;

NodeTuple node_tuple(const NodeDefinition& node) { return {node.id, node.memory_lifetime_t2}; }

LinkTuple link_tuple(const LinkDefinition& link) {
    std::optional<std::tuple<double, double>> conditions;
    if (link.satellite_conditions)
        conditions = std::tuple(link.satellite_conditions->visibility, link.satellite_conditions->weather_factor);
    return {link.from,
            link.to,
            link.distance_km,
            link.base_fidelity,
            link.generation_rate_hz,
            link.link_type == LinkType::Satellite ? "Satellite" : "Fiber",
            conditions};
}

ConfigTuple config_tuple(const SimulationConfig& config) {
    return {{config.physical.baseline_purify_factor, config.physical.speed_of_light_in_fiber_km_ms},
            config.total_time_cutoff_ms,
            config.step_resolution_ms};
}

Network plain(const NetworkTopologyPayload& payload) {
    Network network;
    for (const NodeDefinition& node : payload.nodes) std::get<0>(network).push_back(node_tuple(node));
    for (const LinkDefinition& link : payload.links) std::get<1>(network).push_back(link_tuple(link));
    return network;
}

Network reference_network(std::string name) { return plain(build_named_topology(name)); }

// A file's node: (id, memory_lifetime_ms or None).
using FileNodeTuple = std::tuple<std::string, std::optional<double>>;
// A file's link: (from, to, distance_km, base_fidelity, generation_rate_hz, "fiber", "satellite" or
// None, (visibility, weather_factor) or None).
using FileLinkTuple = std::tuple<std::string, std::string, double, double, double, std::optional<std::string>,
                                 std::optional<std::tuple<double, double>>>;
// A file's config section: (alpha_loss or None, max_attempts or None).
using FileConfigTuple = std::tuple<std::optional<double>, std::optional<std::uint32_t>>;

files::VornFile file_of(std::vector<FileNodeTuple> nodes, std::vector<FileLinkTuple> links,
                        std::optional<FileConfigTuple> config) {
    files::VornFile file;
    for (auto& [id, lifetime] : nodes) file.nodes.push_back({std::move(id), lifetime, std::nullopt, std::nullopt});
    for (auto& [from, to, distance_km, base_fidelity, generation_rate_hz, type_name, satellite] : links) {
        files::VornLink link;
        link.figures = {std::move(from), std::move(to), distance_km, base_fidelity, generation_rate_hz};
        if (type_name == "satellite")
            link.link_type = files::VornLinkType::Satellite;
        else if (type_name == "fiber")
            link.link_type = files::VornLinkType::Fiber;
        else if (type_name)
            throw py::ValueFailure("file link type must be 'fiber' or 'satellite', got '" + *type_name + "'");
        if (satellite)
            link.satellite = files::VornSatelliteExtension{{std::get<0>(*satellite), std::get<1>(*satellite)}};
        file.links.push_back(std::move(link));
    }
    if (config) {
        files::VornConfig section;
        std::tie(section.alpha_loss, section.max_attempts) = *config;
        file.config = section;
    }
    return file;
}

std::tuple<std::vector<NodeTuple>, std::vector<LinkTuple>, ConfigTuple> vorn_network(
    std::vector<FileNodeTuple> nodes, std::vector<FileLinkTuple> links, std::optional<FileConfigTuple> config) {
    const files::VornFile file = file_of(std::move(nodes), std::move(links), std::move(config));
    auto [plain_nodes, plain_links] = plain(files::network_definitions_from_vorn(file));
    return {std::move(plain_nodes), std::move(plain_links), config_tuple(files::simulation_config_from_vorn(file))};
}

ConfigTuple engine_default_config() { return config_tuple(SimulationConfig::engine_default()); }

}  // namespace

PyMethodDef engine_default_config_function() {
    return py::module_function<&engine_default_config>(
        "engine_default_config", {},
        "((baseline_purify_factor, speed_of_light_in_fiber_km_ms), total_time_cutoff_ms, step_resolution_ms) "
        "of an engine built without a configuration.");
}

PyMethodDef reference_network_function() {
    return py::module_function<&reference_network>(
        "reference_network", {"name"},
        "(nodes, links) of a reference topology, by any name that compare_topologies accepts.");
}

PyMethodDef vorn_network_function() {
    return py::module_function<&vorn_network>(
        "vorn_network", {"nodes", "links", "config"},
        "(nodes, links, config) that an engine defines from a .vorn file's nodes, links and config section.");
}

}  // namespace vorn::native
