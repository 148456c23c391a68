#include "native/network_data.hpp"

#include "core/figure_rules.hpp"
#include "python/toolkit/errors.hpp"

namespace vorn::native {

std::vector<NodeDefinition> nodes_of(std::vector<NodeData> nodes) {
    std::vector<NodeDefinition> records;
    records.reserve(nodes.size());
    for (NodeData& node : nodes) records.push_back(std::move(node.value));
    return records;
}

std::vector<LinkDefinition> links_of(std::vector<LinkData> links) {
    std::vector<LinkDefinition> records;
    records.reserve(links.size());
    for (LinkData& link : links) records.push_back(std::move(link.value));
    return records;
}

SimulationConfig config_of(std::optional<ConfigData> config) {
    return config ? std::move(config->value) : SimulationConfig::engine_default();
}

SimulationConfig checked_config(std::optional<ConfigData> config) {
    if (config) check_figures(config->value);
    return config_of(std::move(config));
}

std::optional<StrategyType> strategy_of(std::optional<std::uint64_t> value) {
    if (!value) return std::nullopt;
    for (const auto& member : describe::description_of<StrategyType>().members)
        if (static_cast<std::uint64_t>(member.value) == *value) return member.value;
    throw py::ValueFailure("unknown strategy value " + std::to_string(*value));
}

void require_node(const QuantumNetwork& network, const char* argument, const std::string& id) {
    if (!network.has_node(id)) throw py::ValueFailure(std::string(argument) + ": no node '" + id + "' in the network");
}

QuantumNetwork checked_network(std::vector<NodeData> nodes, std::vector<LinkData> links) {
    std::vector<NodeDefinition> node_records = nodes_of(std::move(nodes));
    const std::vector<LinkDefinition> link_records = links_of(std::move(links));
    check_definitions(node_records, link_records);
    return QuantumNetwork::from_definitions(std::move(node_records), link_records);
}

EntanglementRequest checked_request(const QuantumNetwork& network, RequestData request) {
    require_node(network, "from_node", request.value.from_node);
    require_node(network, "to", request.value.to);
    check_distinct_ends(request.value.from_node, request.value.to);
    check_figures(request.value);
    return std::move(request.value);
}

}  // namespace vorn::native
