// The link list recast for searching: dense node numbers, each node's incident links, and the
// joining link of every linked pair.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/network.hpp"

namespace vorn {

struct RouteGraph {
    struct Arc {
        std::uint32_t neighbour;
        std::uint32_t joining;  // first link in list order that joins the same two nodes
    };

    std::vector<std::string_view> names;  // views into the network's link ends and the two end ids
    // Node n's arcs are arcs[first_arc[n] .. first_arc[n + 1]), in reverse link-list order, so that
    // visiting them in order replays a last-in-first-out stack fed in list order. Self-loops are left out.
    std::vector<std::uint32_t> first_arc;
    std::vector<Arc> arcs;
    std::uint32_t source = 0;
    std::uint32_t target = 0;
};

// `from_node` and `to_node` must outlive the graph, as must the network.
RouteGraph build_route_graph(const QuantumNetwork& network, std::string_view from_node, std::string_view to_node);

}  // namespace vorn
