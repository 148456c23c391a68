// The network an engine holds, built from the records a caller describes it with.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/network_records.hpp"

namespace vorn {

struct RouteGraph;

// Nodes are kept in the order their ids were first defined, so that everything listing them
// is reproducible; a repeated id replaces the stored record in place.
class QuantumNetwork {
public:
    static QuantumNetwork from_definitions(std::vector<NodeDefinition> nodes, const std::vector<LinkDefinition>& links);

    void add_node(std::string id, double memory_lifetime_t2);
    void add_link(std::string from, std::string to, LinkType link_type, double distance_km, double base_fidelity,
                  double generation_rate_hz);

    bool has_node(std::string_view id) const;
    bool empty() const { return nodes_.empty(); }
    const std::vector<NodeDefinition>& nodes() const { return nodes_; }
    const std::vector<InternalLink>& links() const { return links_; }

    // The links recast for route search: built by the first search and kept until a link is added,
    // so that every request on an unchanged network searches the same graph.
    const RouteGraph& route_graph() const;

private:
    // The graph views the link ends of the network it was built from, so a copied or moved network
    // starts without one and builds its own.
    class RouteGraphCache {
    public:
        RouteGraphCache() = default;
        RouteGraphCache(const RouteGraphCache&) noexcept {}
        RouteGraphCache& operator=(const RouteGraphCache&) noexcept {
            graph.reset();
            return *this;
        }
        std::shared_ptr<const RouteGraph> graph;
    };

    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::vector<NodeDefinition> nodes_;
    std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
    std::vector<InternalLink> links_;
    mutable RouteGraphCache route_graph_;
};

}  // namespace vorn
