#include "core/network.hpp"

#include "core/route_graph.hpp"

namespace vorn {

QuantumNetwork QuantumNetwork::from_definitions(std::vector<NodeDefinition> nodes,
                                                const std::vector<LinkDefinition>& links) {
    QuantumNetwork network;
    network.nodes_.reserve(nodes.size());
    for (auto& node : nodes) network.add_node(std::move(node.id), node.memory_lifetime_t2);
    network.links_.assign(links.begin(), links.end());  // each definition less its satellite conditions
    return network;
}

void QuantumNetwork::add_node(std::string id, double memory_lifetime_t2) {
    if (auto found = index_.find(id); found != index_.end()) {
        nodes_[found->second].memory_lifetime_t2 = memory_lifetime_t2;
        return;
    }
    index_.emplace(id, nodes_.size());
    nodes_.push_back({std::move(id), memory_lifetime_t2});
}

void QuantumNetwork::add_link(std::string from, std::string to, LinkType link_type, double distance_km,
                              double base_fidelity, double generation_rate_hz) {
    links_.push_back({{std::move(from), std::move(to), distance_km, base_fidelity, generation_rate_hz}, link_type});
    route_graph_.graph.reset();
}

bool QuantumNetwork::has_node(std::string_view id) const { return index_.find(id) != index_.end(); }

const RouteGraph& QuantumNetwork::route_graph() const {
    if (!route_graph_.graph) route_graph_.graph = std::make_shared<const RouteGraph>(build_route_graph(*this));
    return *route_graph_.graph;
}

}  // namespace vorn
