#include "core/routing.hpp"

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <span>
#include <utility>

#include "core/interruption_poll.hpp"

namespace vorn {
namespace {

constexpr std::uint32_t kArcsPerPoll = 1u << 16;
constexpr std::uint32_t kNoLink = ~std::uint32_t{0};
constexpr double kInfinity = std::numeric_limits<double>::infinity();

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
    bool offer(double candidate, std::span<const Frame> frames, std::uint32_t target, std::uint32_t last_link) {
        ++candidates;
        if (found && !Rule::replaces(score, candidate)) return false;
        found = true;
        score = candidate;
        nodes.clear();
        links.clear();
        for (const Frame& frame : frames) nodes.push_back(frame.node);
        for (std::size_t i = 1; i < frames.size(); ++i) links.push_back(frames[i].via);
        nodes.push_back(target);
        links.push_back(last_link);
        return true;
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

// What the enumeration can touch: the nodes reachable from the source without passing through the
// target (which is never expanded), the target included if it is among them.
struct Reach {
    std::vector<std::uint8_t> in;
    std::uint32_t count = 0;
};

Reach reach_of(const RouteGraph& graph, std::span<const ScoredArc> arcs, std::uint32_t source, std::uint32_t target) {
    Reach reach;
    reach.in.assign(graph.node_count(), 0);
    std::vector<std::uint32_t> pending{source};
    reach.in[source] = 1;
    while (!pending.empty()) {
        const std::uint32_t node = pending.back();
        pending.pop_back();
        ++reach.count;
        if (node == target) continue;
        for (std::uint32_t a = graph.first_arc[node]; a < graph.first_arc[node + 1]; ++a) {
            if (reach.in[arcs[a].neighbour]) continue;
            reach.in[arcs[a].neighbour] = 1;
            pending.push_back(arcs[a].neighbour);
        }
    }
    return reach;
}

// A best-first sweep from the target over the reachable nodes: `bound[v]` ends as the best that
// `relax(bound[x], term)` achieves over the arcs v-x, chained to the target, and `next`/`step` keep
// the tree it was found along. `Better` orders the heap; `relax` must never beat its input, so a
// node's value is final when it leaves the heap, and every arc is relaxed from that final value.
struct Tree {
    std::vector<double> bound;
    std::vector<std::uint32_t> next;
    std::vector<double> step;
};

template <class Better, class Relax>
Tree sweep_from_target(const RouteGraph& graph, std::span<const ScoredArc> arcs, const Reach& reach,
                       std::uint32_t target, double unreached, double at_target, Better better, Relax relax) {
    Tree tree{std::vector<double>(graph.node_count(), unreached), std::vector<std::uint32_t>(graph.node_count()),
              std::vector<double>(graph.node_count())};
    using Entry = std::pair<double, std::uint32_t>;
    auto heap_order = [better](const Entry& a, const Entry& b) { return better(b.first, a.first); };
    std::priority_queue<Entry, std::vector<Entry>, decltype(heap_order)> heap(heap_order);
    std::vector<std::uint8_t> done(graph.node_count(), 0);
    tree.bound[target] = at_target;
    heap.push({at_target, target});
    while (!heap.empty()) {
        const auto [value, node] = heap.top();
        heap.pop();
        if (done[node]) continue;
        done[node] = 1;
        for (std::uint32_t a = graph.first_arc[node]; a < graph.first_arc[node + 1]; ++a) {
            const std::uint32_t other = arcs[a].neighbour;
            if (!reach.in[other] || done[other]) continue;
            const double candidate = relax(value, arcs[a].term);
            if (!better(candidate, tree.bound[other])) continue;
            tree.bound[other] = candidate;
            tree.next[other] = node;
            tree.step[other] = arcs[a].term;
            heap.push({candidate, other});
        }
    }
    return tree;
}

// The score, in path order, of the tree's path from the source: a genuine candidate.
template <class Rule>
double tree_path_score(const Tree& tree, std::uint32_t source, std::uint32_t target) {
    double score = Rule::kStart;
    for (std::uint32_t node = source; node != target; node = tree.next[node]) score = Rule::extend(score, tree.step[node]);
    return score;
}

struct NoCut {
    static constexpr bool skips(double, std::uint32_t) { return false; }
    static constexpr void met(double) {}
};

// LowestLatency with every reachable distance finite and >= 0, so that no comparison meets a NaN
// and the winner is the first candidate of least score. `remaining[v]` is the computed shortest
// distance from v to the target, `seed` the score of a candidate met later or earlier, `best` that
// of the current winner. A prefix with rounded running sum g at node v is skipped when no completion
// can score below `best` (ties keep the earlier) nor at or below `seed` (the winner scores at most
// that). Why that holds, with u = 2^-53 and N >= any hop count:
// - appending d >= 0 never lowers a rounded sum (rounding is monotone), so a completion scores >= g;
// - exact mode (every distance a multiple of 2^e, all distances together below 2^(53+e)): every
//   sum the search and the sweep form is exact, so a completion scores >= g + remaining[v];
// - otherwise a completion of exact length r scores >= (1-u)^N (g + r); the sweep's value along a
//   shortest path is at most (1+u)^N times its length, so r >= (1-u)^N remaining[v]; with the
//   rounding of the sum and of the product by `shrink` = 1 - (2N+3) 2^-52, a completion scores
//   >= fl(fl(g + remaining[v]) * shrink). Distances are kept within [2^-960, 2^960] (or 0) so that
//   no product is subnormal and nothing overflows.
struct LatencyCut {
    const double* remaining;
    double shrink;
    double seed;
    double best = kInfinity;

    bool skips(double score, std::uint32_t node) const {
        if (score >= best) return true;
        const double bound = (score + remaining[node]) * shrink;
        return bound >= best || bound > seed;
    }
    void met(double score) { best = score; }
};

// HighestFidelity with every reachable fidelity in [0, 1]: no NaN, and the winner is the last
// candidate of greatest score, so only prefixes whose every completion scores strictly below
// `level` (the greatest of the seed and the current winner's score) may go. `reach[v]` bounds the
// exact product of every walk from v to the target from above (the sweep rounds each product up).
// - multiplying by a fidelity in [0, 1] never raises a rounded product, so a completion scores <= p;
// - a completion of k <= N hops scores <= (1+u)^N (p * reach[v] + N eta), eta = 2^-1075 covering
//   underflow; with A = fl(p * reach[v]) and c = (N+2) 2^-52 that is <= (1+c)(A + 2^-1000), which is
//   below `level` whenever A < fl(level * (1-2c)) and level >= 2^-900.
struct FidelityCut {
    const double* reach;
    double factor;
    double level;
    double threshold = 0.0;

    bool skips(double score, std::uint32_t node) const { return score < level || score * reach[node] < threshold; }
    void met(double score) {
        if (score <= level) return;
        level = score;
        threshold = level >= 0x1p-900 ? level * factor : 0.0;
    }
};

// The smallest power-of-two exponent e such that d is a multiple of 2^e (d > 0, finite).
int lowest_bit_exponent(double d) {
    int exponent = 0;
    const double mantissa = std::frexp(d, &exponent);
    const auto bits = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
    return exponent - 53 + std::countr_zero(bits);
}

struct Bounds {
    Tree tree;
    double seed = 0.0;
    double margin = 0.0;  // shrink (latency) or 1 - 2c (fidelity)
};

std::optional<Bounds> latency_bounds(const RouteGraph& graph, std::span<const ScoredArc> arcs, const Reach& reach,
                                     std::uint32_t source, std::uint32_t target) {
    double total = 0.0;
    double smallest = kInfinity;
    int exponent = std::numeric_limits<int>::max();
    for (std::uint32_t node = 0; node < graph.node_count(); ++node) {
        if (!reach.in[node] || node == target) continue;
        for (std::uint32_t a = graph.first_arc[node]; a < graph.first_arc[node + 1]; ++a) {
            const double d = arcs[a].term;
            if (!(d >= 0.0 && d <= 0x1p960)) return std::nullopt;
            if (d == 0.0) continue;
            total += d;
            smallest = std::min(smallest, d);
            exponent = std::min(exponent, lowest_bit_exponent(d));
        }
    }
    if (!(total <= 0x1p960)) return std::nullopt;
    const bool exact = total == 0.0 || total < std::ldexp(1.0, 53 + exponent);
    if (!exact && smallest < 0x1p-960) return std::nullopt;

    Bounds bounds;
    bounds.tree = sweep_from_target(graph, arcs, reach, target, kInfinity, 0.0, std::less<double>(),
                                    [](double value, double term) { return value + term; });
    bounds.seed = tree_path_score<LatencyRule>(bounds.tree, source, target);
    bounds.margin = exact ? 1.0 : 1.0 - (2.0 * reach.count + 3.0) * 0x1p-52;
    return bounds;
}

std::optional<Bounds> fidelity_bounds(const RouteGraph& graph, std::span<const ScoredArc> arcs, const Reach& reach,
                                      std::uint32_t source, std::uint32_t target) {
    for (std::uint32_t node = 0; node < graph.node_count(); ++node) {
        if (!reach.in[node] || node == target) continue;
        for (std::uint32_t a = graph.first_arc[node]; a < graph.first_arc[node + 1]; ++a)
            if (!(arcs[a].term >= 0.0 && arcs[a].term <= 1.0)) return std::nullopt;
    }
    Bounds bounds;
    // Rounded up, and never above the value it extends (the factor is at most 1).
    bounds.tree = sweep_from_target(graph, arcs, reach, target, -1.0, 1.0, std::greater<double>(),
                                    [](double value, double term) {
                                        return std::min(value, std::nextafter(value * term, kInfinity));
                                    });
    bounds.seed = tree_path_score<FidelityRule>(bounds.tree, source, target);
    bounds.margin = 1.0 - (2.0 * reach.count + 4.0) * 0x1p-52;
    return bounds;
}

// One path and its on-path marks, extended and retracted in place; each frame remembers where
// in its node's arc list the search resumes.
template <class Rule, class Cut>
void depth_first(const RouteGraph& graph, std::span<const ScoredArc> arcs, std::uint32_t source,
                 std::uint32_t target, Cut& cut, Winner& winner, InterruptionPoll& poll) {
    std::vector<Frame> frames(graph.node_count());
    std::vector<std::uint8_t> on_path(graph.node_count(), 0);
    const std::uint32_t* first = graph.first_arc.data();
    std::size_t depth = 0;
    frames[0] = {source, first[source], first[source + 1], kNoLink, Rule::kStart};
    on_path[source] = 1;
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
            if (winner.offer<Rule>(score, std::span<const Frame>(frames.data(), depth + 1), target, arc.joining))
                cut.met(score);
            continue;
        }
        if (cut.skips(score, arc.neighbour)) continue;
        frames[++depth] = {arc.neighbour, first[arc.neighbour], first[arc.neighbour + 1], arc.joining, score};
        on_path[arc.neighbour] = 1;
    }
}

template <class Rule>
void enumerate(const RouteGraph& graph, std::span<const ScoredArc> arcs, std::uint32_t source, std::uint32_t target,
               Winner& winner, InterruptionPoll& poll) {
    NoCut cut;
    depth_first<Rule>(graph, arcs, source, target, cut, winner, poll);
}

// Returns whether bounds were in force.
bool search(const RouteGraph& graph, std::span<const ScoredArc> arcs, std::uint32_t source, std::uint32_t target,
            StrategyType strategy, RouteCuts cuts, Winner& winner, InterruptionPoll& poll) {
    if (cuts == RouteCuts::Bounds) {
        const Reach reach = reach_of(graph, arcs, source, target);
        if (!reach.in[target]) return false;  // the enumeration would find no candidate
        if (strategy == StrategyType::LowestLatency) {
            if (auto bounds = latency_bounds(graph, arcs, reach, source, target)) {
                LatencyCut cut{bounds->tree.bound.data(), bounds->margin, bounds->seed};
                depth_first<LatencyRule>(graph, arcs, source, target, cut, winner, poll);
                return true;
            }
        } else if (strategy == StrategyType::HighestFidelity) {
            if (auto bounds = fidelity_bounds(graph, arcs, reach, source, target)) {
                FidelityCut cut{bounds->tree.bound.data(), bounds->margin, -1.0};
                cut.met(bounds->seed);
                depth_first<FidelityRule>(graph, arcs, source, target, cut, winner, poll);
                return true;
            }
        }
    }
    switch (strategy) {
        case StrategyType::LowestLatency: enumerate<LatencyRule>(graph, arcs, source, target, winner, poll); break;
        case StrategyType::HighestFidelity: enumerate<FidelityRule>(graph, arcs, source, target, winner, poll); break;
        case StrategyType::HighestSuccess: enumerate<SuccessRule>(graph, arcs, source, target, winner, poll); break;
    }
    return false;
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

RouteSearch search_routes(const QuantumNetwork& network, const RouteGraph& graph, std::string_view from_node,
                          std::string_view to_node, StrategyType strategy, Interruption* interruption, RouteCuts cuts) {
    RouteSearch result;
    if (network.empty() || !network.has_node(from_node) || !network.has_node(to_node)) return result;
    if (from_node == to_node) {
        result.candidates = 1;
        result.route = RouteInfo{{std::string(from_node)}, 1.0, {}};
        return result;
    }
    const auto source = graph.number_of(from_node), target = graph.number_of(to_node);
    if (!source || !target) return result;

    const std::vector<ScoredArc> arcs = score_arcs(graph, network.links(), strategy);
    InterruptionPoll poll(interruption, kArcsPerPoll);
    Winner winner;
    result.bounded = search(graph, arcs, *source, *target, strategy, cuts, winner, poll);
    result.candidates = winner.candidates;
    if (winner.found) result.route = route_of(winner, graph, network.links());
    return result;
}

RouteSearch search_routes(const QuantumNetwork& network, std::string_view from_node, std::string_view to_node,
                          StrategyType strategy, Interruption* interruption) {
    if (network.empty() || !network.has_node(from_node) || !network.has_node(to_node)) return {};
    return search_routes(network, build_route_graph(network), from_node, to_node, strategy, interruption);
}

}  // namespace vorn
