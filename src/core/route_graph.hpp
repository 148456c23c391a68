// The link list recast for searching: dense node numbers, each node's incident links, and the
// joining link of every linked pair. It depends on the network only, not on a request, so one
// graph serves every search on the same network.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/network_records.hpp"

namespace vorn {

class QuantumNetwork;

struct RouteGraph {
    struct Arc {
        std::uint32_t neighbour;
        std::uint32_t joining;  // first link in list order that joins the same two nodes
    };

    // Views into the network's link ends: the network must stay in place while the graph lives.
    std::vector<std::string_view> names;
    std::unordered_map<std::string_view, std::uint32_t> numbers;
    // Node n's arcs are arcs[first_arc[n] .. first_arc[n + 1]), in reverse link-list order, so that
    // visiting them in order replays a last-in-first-out stack fed in list order. Self-loops are left out.
    std::vector<std::uint32_t> first_arc;
    std::vector<Arc> arcs;

    // Nodes that no link names have no number.
    std::optional<std::uint32_t> number_of(std::string_view id) const {
        const auto found = numbers.find(id);
        if (found == numbers.end()) return std::nullopt;
        return found->second;
    }
    std::size_t node_count() const { return names.size(); }
};

RouteGraph build_route_graph(const QuantumNetwork& network);

}  // namespace vorn
