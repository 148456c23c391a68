// Route finding: the best simple path between two nodes under a strategy, found by exhaustive search.
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
};

// Both end nodes must be in the node table; intermediate nodes are whatever the links name.
// Paths are met in depth-first order, neighbours in reverse link order, each link separately
// (so parallel links repeat a path). LowestLatency keeps the earlier of equal scores, the other
// strategies take the later; a NaN comparison does the same. `interruption` (may be null) is
// polled every few milliseconds and ends the search with Interrupted.
RouteSearch search_routes(const QuantumNetwork& network, std::string_view from_node, std::string_view to_node,
                          StrategyType strategy, Interruption* interruption = nullptr);

inline std::optional<RouteInfo> find_route(const QuantumNetwork& network, std::string_view from_node,
                                           std::string_view to_node, StrategyType strategy,
                                           Interruption* interruption = nullptr) {
    return search_routes(network, from_node, to_node, strategy, interruption).route;
}

}  // namespace vorn
