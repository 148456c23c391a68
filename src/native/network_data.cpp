#include "native/network_data.hpp"

#include "python/toolkit/errors.hpp"

namespace vorn::native {

NodeDefinition node_of(NodeTuple node) { return {std::move(std::get<0>(node)), std::get<1>(node)}; }

LinkDefinition link_of(LinkTuple link) {
    auto& [from, to, distance_km, base_fidelity, generation_rate_hz, type_name, conditions] = link;
    LinkType type = LinkType::Fiber;
    if (type_name == "Satellite")
        type = LinkType::Satellite;
    else if (type_name != "Fiber")
        throw py::ValueFailure("link type must be 'Fiber' or 'Satellite', got '" + type_name + "'");
    LinkDefinition definition;
    definition.from = std::move(from);
    definition.to = std::move(to);
    definition.distance_km = distance_km;
    definition.base_fidelity = base_fidelity;
    definition.generation_rate_hz = generation_rate_hz;
    definition.link_type = type;
    if (conditions)
        definition.satellite_conditions = SatelliteConditions{std::get<0>(*conditions), std::get<1>(*conditions)};
    return definition;
}

std::vector<NodeDefinition> nodes_of(std::vector<NodeTuple> nodes) {
    std::vector<NodeDefinition> records;
    records.reserve(nodes.size());
    for (NodeTuple& node : nodes) records.push_back(node_of(std::move(node)));
    return records;
}

std::vector<LinkDefinition> links_of(std::vector<LinkTuple> links) {
    std::vector<LinkDefinition> records;
    records.reserve(links.size());
    for (LinkTuple& link : links) records.push_back(link_of(std::move(link)));
    return records;
}

SimulationConfig config_of(const std::optional<ConfigTuple>& config) {
    if (!config) return SimulationConfig::engine_default();
    SimulationConfig built;
    std::tie(built.total_time_cutoff_ms, built.step_resolution_ms, built.physical.baseline_purify_factor,
             built.physical.speed_of_light_in_fiber_km_ms) = *config;
    return built;
}

std::optional<StrategyType> strategy_of(std::optional<std::uint64_t> value) {
    if (!value) return std::nullopt;
    if (*value > static_cast<std::uint64_t>(StrategyType::HighestSuccess))
        throw py::ValueFailure("unknown strategy value " + std::to_string(*value));
    return static_cast<StrategyType>(*value);
}

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
    return {config.total_time_cutoff_ms, config.step_resolution_ms, config.physical.baseline_purify_factor,
            config.physical.speed_of_light_in_fiber_km_ms};
}

void require_node(const QuantumNetwork& network, const char* argument, const std::string& id) {
    if (!network.has_node(id)) throw py::ValueFailure(std::string(argument) + ": no node '" + id + "' in the network");
}

}  // namespace vorn::native
