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
#include "core/network_records.hpp"
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
// (so parallel links repeat a path), and scored as the strategy's entry says (strategies.hpp). `interruption` (may be
// null) is polled every few milliseconds and ends the search with Interrupted. `graph` must have been built from
// `network`; it can serve any number of searches.
RouteSearch search_routes(const QuantumNetwork& network, const RouteGraph& graph, std::string_view from_node,
                          std::string_view to_node, StrategyType strategy, Interruption* interruption = nullptr,
                          RouteCuts cuts = RouteCuts::Bounds);

RouteSearch search_routes(const QuantumNetwork& network, std::string_view from_node, std::string_view to_node,
                          StrategyType strategy, Interruption* interruption = nullptr);

// What a route search will have to go through, worked out without searching (in time about linear in
// the network): for a warning before a search that may take long.
struct RouteSearchEstimate {
    std::size_t nodes = 0;    // nodes on some simple path between the two ends, the ends included
    std::size_t links = 0;    // links between two such nodes, parallel ones each
    double log2_paths = 0.0;  // log2 of a rough upper estimate of the simple paths between the ends
    bool bounded = false;     // whether the figures allow the search's bounds (else every path is scored)
    // Whether the search's work may grow exponentially with `nodes`: always for greatest sums (a
    // longest-path problem, as HighestSuccess's), and wherever the bounds are off.
    bool exponential = false;
    // Whether it will likely take more than about a second on a current machine: an exponential bounded
    // search over more than kLongBoundedNodes nodes (random networks of 30 nodes take well under a
    // second, of 45 over a minute), or every path scored where there may be more than 2^kLongLog2Paths.
    bool likely_long = false;

    static constexpr std::size_t kLongBoundedNodes = 36;
    static constexpr double kLongLog2Paths = 25.0;
};

// No route gives a zero estimate; nothing is searched.
RouteSearchEstimate estimate_route_search(const QuantumNetwork& network, std::string_view from_node,
                                          std::string_view to_node, StrategyType strategy);

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
