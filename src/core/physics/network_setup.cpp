#include "core/physics/network_setup.hpp"

#include <unordered_map>

#include "core/figure_rules.hpp"
#include "core/network.hpp"
#include "core/physics/best_routes.hpp"
#include "core/physics/link_generation.hpp"
#include "core/routing.hpp"

namespace vorn::physics {

NetworkSetup network_setup(const QuantumNetwork& network, const std::vector<LinkDefinition>& links,
                           const std::vector<DemandPair>& demands, std::uint64_t paths,
                           const std::vector<std::optional<std::uint64_t>>& memories,
                           std::uint64_t memories_per_link_end, std::optional<StrategyType> strategy,
                           const PhysicalModel& model, Interruption* interruption) {
    check_model(model);
    if (paths == 0) throw InvalidValue("paths: must be at least 1, got 0");
    const std::vector<NodeDefinition>& nodes = network.nodes();
    if (memories.size() != nodes.size()) throw Panic("a network model needs the memories of every node, or none");
    const auto require_count = [](std::uint64_t count, const std::string& what) {
        if (count > kMaxMemories)
            throw InvalidValue(what + ": must be within [0, " + std::to_string(kMaxMemories) + "], got " +
                               std::to_string(count));
    };
    require_count(memories_per_link_end, "memories_per_link_end");
    for (std::size_t node = 0; node < nodes.size(); ++node)
        if (memories[node]) require_count(*memories[node], "memory_capacity of node '" + nodes[node].id + "'");
    NetworkSetup setup;
    std::unordered_map<std::string, std::uint32_t> index;
    for (std::uint32_t node = 0; node < nodes.size(); ++node) {
        index.emplace(nodes[node].id, node);
        check_figures(nodes[node]);
        setup.figures.decay_per_ms.push_back(1.0 / (kMsPerSecond * nodes[node].memory_lifetime_t2));
    }
    std::vector<std::int64_t> ends(nodes.size(), 0);
    for (const LinkDefinition& link : links)
        for (const std::string& end : {link.from, link.to})
            if (const auto found = index.find(end); found != index.end())
                ends[found->second] += static_cast<std::int64_t>(memories_per_link_end);
    for (std::size_t node = 0; node < nodes.size(); ++node)
        setup.figures.memories.push_back(memories[node] ? static_cast<std::int64_t>(*memories[node]) : ends[node]);

    std::unordered_map<std::size_t, std::uint32_t> taken;  // definition index → link of the figures
    // A route by its nodes' ids and its hops' links in the definitions, as the model takes it.
    const auto route_of = [&](const std::vector<std::string>& path, const std::vector<std::size_t>& hop_links) {
        Route route;
        for (const std::string& id : path) {
            const auto found = index.find(id);
            if (found == index.end())
                throw InvalidValue("nodes: no node '" + id + "', which a link on the route names");
            route.nodes.push_back(found->second);
        }
        for (std::size_t definition : hop_links) {
            auto [place, added] = taken.emplace(definition, static_cast<std::uint32_t>(setup.figures.links.size()));
            if (added) {
                const LinkDefinition& link = links[definition];
                const Hop hop = hop_of(link, model);
                setup.figures.links.push_back({index.at(link.from), index.at(link.to), hop.success_probability,
                                               link.distance_km, kMsPerSecond / link.generation_rate_hz,
                                               link.base_fidelity});
                setup.link_definitions.push_back(definition);
            }
            route.links.push_back(place->second);
        }
        return route;
    };
    std::optional<RouteGraph> graph;  // for routes beyond the engine's
    const auto cost = [&](std::uint32_t definition) {
        const double success = hop_of(links[definition], model).success_probability;
        return hop_cost(slot_success_of(success, static_cast<double>(model.modes)), model.swap_success_probability);
    };
    for (std::size_t d = 0; d < demands.size(); ++d) {
        const DemandPair& pair = demands[d];
        const std::string which = "demands[" + std::to_string(d) + "]: ";
        for (const std::string& end : {pair.from_node, pair.to})
            if (!index.contains(end)) throw InvalidValue(which + "no node '" + end + "' in the network");
        if (pair.from_node == pair.to) throw InvalidValue(which + "both ends are '" + pair.to + "'");
        const std::optional<RouteInfo> route = find_route(
            network, pair.from_node, pair.to, strategy.value_or(StrategyType::HighestFidelity), interruption);
        if (!route) throw InvalidValue(which + "no route from '" + pair.from_node + "' to '" + pair.to + "'");
        Route first = route_of(route->path, route->hop_links);
        Demand demand{
            std::move(first.nodes), std::move(first.links), pair.arrival_rate_per_ms, pair.max_outstanding, {}};
        setup.paths.push_back({route->path});
        if (paths > 1) {
            if (!graph) graph = build_route_graph(network);
            std::vector<std::uint32_t> engine;
            for (const std::string& id : route->path) engine.push_back(*graph->number_of(id));
            const std::vector<std::vector<std::uint32_t>> ranked =
                best_routes(*graph, engine.front(), engine.back(), paths, cost, interruption);
            for (const std::vector<std::uint32_t>& numbers : ranked) {
                if (numbers == engine || setup.paths.back().size() == paths) continue;
                std::vector<std::string> path;
                std::vector<std::size_t> hop_links;
                for (std::size_t k = 0; k < numbers.size(); ++k) {
                    path.emplace_back(graph->names[numbers[k]]);
                    if (k > 0)
                        hop_links.push_back(graph->arcs[arc_between(*graph, numbers[k - 1], numbers[k])].joining);
                }
                demand.more_routes.push_back(route_of(path, hop_links));
                setup.paths.back().push_back(std::move(path));
            }
        }
        setup.demands.push_back(std::move(demand));
    }
    return setup;
}

}  // namespace vorn::physics
