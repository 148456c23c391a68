#include "core/route_graph.hpp"

#include "core/network.hpp"

namespace vorn {
namespace {

std::uint64_t pair_key(std::uint32_t a, std::uint32_t b) {
    return a < b ? (std::uint64_t{a} << 32 | b) : (std::uint64_t{b} << 32 | a);
}

}  // namespace

RouteGraph build_route_graph(const QuantumNetwork& network) {
    RouteGraph graph;
    const auto& links = network.links();
    auto number = [&graph](std::string_view id) {
        auto [found, inserted] = graph.numbers.emplace(id, static_cast<std::uint32_t>(graph.names.size()));
        if (inserted) graph.names.push_back(id);
        return found->second;
    };

    std::vector<std::uint32_t> ends(2 * links.size());
    std::vector<std::uint32_t> joining(links.size());
    std::unordered_map<std::uint64_t, std::uint32_t> first_join;
    for (std::size_t l = 0; l < links.size(); ++l) {
        ends[2 * l] = number(links[l].from);
        ends[2 * l + 1] = number(links[l].to);
        joining[l] =
            first_join.emplace(pair_key(ends[2 * l], ends[2 * l + 1]), static_cast<std::uint32_t>(l)).first->second;
    }

    const std::size_t nodes = graph.names.size();
    graph.first_arc.assign(nodes + 1, 0);
    for (std::size_t l = 0; l < links.size(); ++l) {
        if (ends[2 * l] == ends[2 * l + 1]) continue;
        ++graph.first_arc[ends[2 * l] + 1];
        ++graph.first_arc[ends[2 * l + 1] + 1];
    }
    for (std::size_t n = 0; n < nodes; ++n) graph.first_arc[n + 1] += graph.first_arc[n];

    graph.arcs.resize(graph.first_arc[nodes]);
    std::vector<std::uint32_t> cursor(graph.first_arc.begin(), graph.first_arc.end() - 1);
    for (std::size_t l = links.size(); l-- > 0;) {
        const std::uint32_t a = ends[2 * l], b = ends[2 * l + 1];
        if (a == b) continue;
        graph.arcs[cursor[a]++] = {b, joining[l]};
        graph.arcs[cursor[b]++] = {a, joining[l]};
    }
    return graph;
}

}  // namespace vorn
