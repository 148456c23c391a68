// Route finding: the best simple path between two nodes under a strategy. The result is that of the
// exhaustive enumeration; score bounds only skip subtrees that cannot hold the winner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.hpp"
#include "core/network.hpp"
#include "core/request.hpp"
#include "core/route_graph.hpp"

namespace vorn {

struct RouteInfo {
    std::vector<std::string> path;  // start node first
    double fidelity = 1.0;          // product of the hops' joining-link fidelities, in hop order
    // For each hop, the index in the link list of its joining link: the first link that joins
    // the two nodes, in either orientation. Every figure of a hop comes from it.
    std::vector<std::size_t> hop_links;
};

struct RouteSearch {
    std::optional<RouteInfo> route;
    std::uint64_t candidates = 0;  // complete paths scored, parallel links counting separately
    // Whether score bounds skipped subtrees. When false, `candidates` counts every simple path
    // between the two nodes, as the bare enumeration does.
    bool bounded = false;
};

enum class RouteCuts : std::uint8_t {
    Bounds,  // skip subtrees whose scores provably cannot win, where the figures allow a sound bound
    None,    // score every candidate (for comparisons)
};

// Both end nodes must be in the node table; intermediate nodes are whatever the links name.
// Paths are met in depth-first order, neighbours in reverse link order, each link separately
// (so parallel links repeat a path). LowestLatency keeps the earlier of equal scores, the other
// strategies take the later; a NaN comparison does the same. `interruption` (may be null) is
// polled every few milliseconds and ends the search with Interrupted.
// `graph` must have been built from `network`; it can serve any number of searches.
RouteSearch search_routes(const QuantumNetwork& network, const RouteGraph& graph, std::string_view from_node,
                          std::string_view to_node, StrategyType strategy, Interruption* interruption = nullptr,
                          RouteCuts cuts = RouteCuts::Bounds);

RouteSearch search_routes(const QuantumNetwork& network, std::string_view from_node, std::string_view to_node,
                          StrategyType strategy, Interruption* interruption = nullptr);

inline std::optional<RouteInfo> find_route(const QuantumNetwork& network, const RouteGraph& graph,
                                           std::string_view from_node, std::string_view to_node, StrategyType strategy,
                                           Interruption* interruption = nullptr) {
    return search_routes(network, graph, from_node, to_node, strategy, interruption).route;
}

inline std::optional<RouteInfo> find_route(const QuantumNetwork& network, std::string_view from_node,
                                           std::string_view to_node, StrategyType strategy,
                                           Interruption* interruption = nullptr) {
    return search_routes(network, from_node, to_node, strategy, interruption).route;
}

}  // namespace vorn
