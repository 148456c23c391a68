#include "core/physics/best_routes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <queue>
#include <set>
#include <utility>

#include "core/interruption_poll.hpp"

namespace vorn::physics {
namespace {

constexpr double kUnreached = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kNodesPerPoll = 1 << 12;

using Path = std::vector<std::uint32_t>;
using Step = std::pair<std::uint32_t, std::uint32_t>;  // a hop, by its two nodes

class Cheapest {
public:
    Cheapest(const RouteGraph& graph, std::vector<double> arc_costs, Interruption* interruption)
        : graph_(graph), arc_costs_(std::move(arc_costs)), poll_(interruption, kNodesPerPoll) {}

    double cost(const Path& path) const {
        double total = 0.0;
        for (std::size_t k = 0; k + 1 < path.size(); ++k)
            total += arc_costs_[arc_between(graph_, path[k], path[k + 1])];
        return total;
    }

    // The cheapest path from `from` to `to` that avoids the nodes marked in `avoided` and the hops in
    // `cut` (either way); nullopt when there is none.
    std::optional<Path> path(std::uint32_t from, std::uint32_t to, const std::vector<char>& avoided,
                             const std::vector<Step>& cut) {
        const std::size_t nodes = graph_.node_count();
        distance_.assign(nodes, kUnreached);
        previous_.assign(nodes, 0);
        using Entry = std::pair<double, std::uint32_t>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<>> open;
        distance_[from] = 0.0;
        open.emplace(0.0, from);
        while (!open.empty()) {
            const auto [reached, node] = open.top();
            open.pop();
            if (reached != distance_[node]) continue;
            if (node == to) break;
            poll_.advance();
            for (std::uint32_t arc = graph_.first_arc[node]; arc < graph_.first_arc[node + 1]; ++arc) {
                const std::uint32_t next = graph_.arcs[arc].neighbour;
                if (avoided[next] || std::find_if(cut.begin(), cut.end(), [&](const Step& hop) {
                                         return (hop.first == node && hop.second == next) ||
                                                (hop.first == next && hop.second == node);
                                     }) != cut.end())
                    continue;
                if (const double through = reached + arc_costs_[arc]; through < distance_[next]) {
                    distance_[next] = through;
                    previous_[next] = node;
                    open.emplace(through, next);
                }
            }
        }
        if (distance_[to] == kUnreached) return std::nullopt;
        Path found{to};
        while (found.back() != from) found.push_back(previous_[found.back()]);
        std::reverse(found.begin(), found.end());
        return found;
    }

private:
    const RouteGraph& graph_;
    std::vector<double> arc_costs_;
    InterruptionPoll poll_;
    std::vector<double> distance_;
    std::vector<std::uint32_t> previous_;
};

}  // namespace

std::uint32_t arc_between(const RouteGraph& graph, std::uint32_t a, std::uint32_t b) {
    for (std::uint32_t arc = graph.first_arc[a]; arc < graph.first_arc[a + 1]; ++arc)
        if (graph.arcs[arc].neighbour == b) return arc;
    throw Panic("a route's hop joins nodes that no link joins");
}

double expected_rate(std::span<const double> slot_successes, double swap_success) {
    double rate = 1.0;
    for (double success : slot_successes) rate *= success;
    return slot_successes.empty() ? rate
                                  : rate * std::pow(swap_success, static_cast<double>(slot_successes.size() - 1));
}

double hop_cost(double slot_success, double swap_success) { return -std::log(slot_success * swap_success); }

std::vector<Path> best_routes(const RouteGraph& graph, std::uint32_t from, std::uint32_t to, std::size_t count,
                              const std::function<double(std::uint32_t link)>& cost, Interruption* interruption) {
    std::vector<Path> best;
    if (count == 0 || from == to) return best;
    std::vector<double> arc_costs;
    arc_costs.reserve(graph.arcs.size());
    for (const RouteGraph::Arc& arc : graph.arcs) arc_costs.push_back(std::max(0.0, cost(arc.joining)));
    Cheapest cheapest(graph, std::move(arc_costs), interruption);
    std::vector<char> avoided(graph.node_count(), 0);
    std::optional<Path> first = cheapest.path(from, to, avoided, {});
    if (!first) return best;
    best.push_back(std::move(*first));
    std::set<std::pair<double, Path>> candidates;
    std::vector<Step> cut;
    while (best.size() < count) {
        const Path previous = best.back();
        // Each route that leaves the last one found at one of its nodes, the cheapest way from there that
        // no route found so far takes from the same beginning.
        for (std::size_t spur = 0; spur + 1 < previous.size(); ++spur) {
            cut.clear();
            for (const Path& found : best)
                if (found.size() > spur + 1 && std::equal(previous.begin(), previous.begin() + spur + 1, found.begin()))
                    cut.emplace_back(found[spur], found[spur + 1]);
            std::fill(avoided.begin(), avoided.end(), 0);
            for (std::size_t k = 0; k < spur; ++k) avoided[previous[k]] = 1;
            std::optional<Path> tail = cheapest.path(previous[spur], to, avoided, cut);
            if (!tail) continue;
            Path route(previous.begin(), previous.begin() + spur);
            route.insert(route.end(), tail->begin(), tail->end());
            if (std::find(best.begin(), best.end(), route) == best.end()) {
                const double total = cheapest.cost(route);
                candidates.emplace(total, std::move(route));
            }
        }
        if (candidates.empty()) break;
        best.push_back(candidates.begin()->second);
        candidates.erase(candidates.begin());
    }
    return best;
}

}  // namespace vorn::physics
