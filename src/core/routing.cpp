#include "core/routing.hpp"

#include <span>

#include "core/interruption_poll.hpp"
#include "core/route_graph.hpp"

namespace vorn {
namespace {

constexpr std::uint32_t kArcsPerPoll = 1u << 16;
constexpr std::uint32_t kNoLink = ~std::uint32_t{0};

// Scores grow hop by hop from the start value in path order, which is exactly how a complete
// path's score would be computed from scratch.
struct LatencyRule {
    static constexpr double kStart = 0.0;
    static double extend(double score, double term) { return score + term; }
    static bool replaces(double best, double candidate) { return best > candidate; }
};
struct FidelityRule {
    static constexpr double kStart = 1.0;
    static double extend(double score, double term) { return score * term; }
    static bool replaces(double best, double candidate) { return !(best > candidate); }
};
struct SuccessRule {
    static constexpr double kStart = 0.0;
    static double extend(double score, double term) { return score + term; }
    static bool replaces(double best, double candidate) { return !(best > candidate); }
};

struct ScoredArc {
    std::uint32_t neighbour;
    std::uint32_t joining;
    double term;
};

struct Frame {
    std::uint32_t node;
    std::uint32_t next_arc;
    std::uint32_t end_arc;
    std::uint32_t via;  // joining link of the hop into this node
    double score;
};

struct Winner {
    bool found = false;
    double score = 0.0;
    std::vector<std::uint32_t> nodes;
    std::vector<std::uint32_t> links;
    std::uint64_t candidates = 0;

    template <class Rule>
    void offer(double candidate, std::span<const Frame> frames, std::uint32_t target, std::uint32_t last_link) {
        ++candidates;
        if (found && !Rule::replaces(score, candidate)) return;
        found = true;
        score = candidate;
        nodes.clear();
        links.clear();
        for (const Frame& frame : frames) nodes.push_back(frame.node);
        for (std::size_t i = 1; i < frames.size(); ++i) links.push_back(frames[i].via);
        nodes.push_back(target);
        links.push_back(last_link);
    }
};

std::vector<ScoredArc> score_arcs(const RouteGraph& graph, const std::vector<InternalLink>& links,
                                  StrategyType strategy) {
    std::vector<ScoredArc> scored(graph.arcs.size());
    for (std::size_t i = 0; i < scored.size(); ++i) {
        const InternalLink& link = links[graph.arcs[i].joining];
        double term = link.base_fidelity;
        if (strategy == StrategyType::LowestLatency) term = link.distance_km;
        if (strategy == StrategyType::HighestSuccess) term = link.base_fidelity * link.generation_rate_hz;
        scored[i] = {graph.arcs[i].neighbour, graph.arcs[i].joining, term};
    }
    return scored;
}

// One path and its on-path marks, extended and retracted in place; each frame remembers where
// in its node's arc list the search resumes.
template <class Rule>
void depth_first(const RouteGraph& graph, std::span<const ScoredArc> arcs, Winner& winner, InterruptionPoll& poll) {
    std::vector<Frame> frames(graph.names.size());
    std::vector<std::uint8_t> on_path(graph.names.size(), 0);
    const std::uint32_t* first = graph.first_arc.data();
    const std::uint32_t target = graph.target;
    std::size_t depth = 0;
    frames[0] = {graph.source, first[graph.source], first[graph.source + 1], kNoLink, Rule::kStart};
    on_path[graph.source] = 1;
    std::uint32_t budget = kArcsPerPoll;
    for (;;) {
        Frame& frame = frames[depth];
        if (frame.next_arc == frame.end_arc) {
            on_path[frame.node] = 0;
            if (depth == 0) return;
            --depth;
            continue;
        }
        const ScoredArc& arc = arcs[frame.next_arc++];
        if (--budget == 0) {
            poll.advance(kArcsPerPoll);
            budget = kArcsPerPoll;
        }
        if (on_path[arc.neighbour]) continue;
        const double score = Rule::extend(frame.score, arc.term);
        if (arc.neighbour == target) {
            winner.offer<Rule>(score, std::span<const Frame>(frames.data(), depth + 1), target, arc.joining);
            continue;
        }
        frames[++depth] = {arc.neighbour, first[arc.neighbour], first[arc.neighbour + 1], arc.joining, score};
        on_path[arc.neighbour] = 1;
    }
}

RouteInfo route_of(const Winner& winner, const RouteGraph& graph, const std::vector<InternalLink>& links) {
    RouteInfo route;
    route.path.reserve(winner.nodes.size());
    for (std::uint32_t node : winner.nodes) route.path.emplace_back(graph.names[node]);
    for (std::uint32_t link : winner.links) {
        route.fidelity *= links[link].base_fidelity;
        route.hop_links.push_back(link);
    }
    return route;
}

}  // namespace

RouteSearch search_routes(const QuantumNetwork& network, std::string_view from_node, std::string_view to_node,
                          StrategyType strategy, Interruption* interruption) {
    RouteSearch search;
    if (network.empty() || !network.has_node(from_node) || !network.has_node(to_node)) return search;
    if (from_node == to_node) {
        search.candidates = 1;
        search.route = RouteInfo{{std::string(from_node)}, 1.0, {}};
        return search;
    }

    const RouteGraph graph = build_route_graph(network, from_node, to_node);
    const std::vector<ScoredArc> arcs = score_arcs(graph, network.links(), strategy);
    InterruptionPoll poll(interruption, kArcsPerPoll);
    Winner winner;
    switch (strategy) {
        case StrategyType::LowestLatency: depth_first<LatencyRule>(graph, arcs, winner, poll); break;
        case StrategyType::HighestFidelity: depth_first<FidelityRule>(graph, arcs, winner, poll); break;
        case StrategyType::HighestSuccess: depth_first<SuccessRule>(graph, arcs, winner, poll); break;
    }
    search.candidates = winner.candidates;
    if (winner.found) search.route = route_of(winner, graph, network.links());
    return search;
}

}  // namespace vorn
