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
    for (std::uint32_t node = source; node != target; node = tree.next[node])
        score = Rule::extend(score, tree.step[node]);
    return score;
}

struct NoCut {
    static constexpr bool skips(double, std::uint32_t, std::size_t) { return false; }
    static constexpr void met(double) {}
};

// Each cut below skips a prefix (running score g at node v, path P) only when no completion of it
// can become the winner, where a completion's score is g extended hop by hop in path order with
// rounding to nearest. Every cut requires figures that rule out NaN, so that the winner is the
// first candidate of least score (LowestLatency) or the last of greatest score (the others):
// candidates that lose to the winner (or tie it, for LowestLatency) are never missed. u = 2^-53,
// N = the number of reachable nodes, at least the hop count of any path.

// LowestLatency, every reachable distance finite and >= 0. `remaining[v]` is the shortest distance
// from v to the target as the sweep computes it, `seed` the score of the sweep tree's path (a
// candidate, so the winner scores at most that), `best` the current winner's. A prefix goes when
// every completion scores >= best or > seed:
// - a rounded sum never decreases as terms >= 0 are appended, so a completion scores >= g;
// - exact case (every distance a multiple of 2^e, and the sum of all below 2^(53+e)): every sum the
//   search and the sweep form is exact, so a completion scores >= g + remaining[v];
// - otherwise a completion of exact length r scores >= (1-u)^N (g + r), the sweep's value is at most
//   (1+u)^N times the true shortest distance, so r >= (1-u)^N remaining[v], and a completion scores
//   >= (1-u)^(2N+1) fl(g + remaining[v]) >= fl(fl(g + remaining[v]) * shrink) with
//   shrink = 1 - (2N+3) 2^-52. Distances are 0 or within [2^-960, 2^960]: nothing is subnormal
//   or overflows, so these relative error bounds hold.
struct LatencyCut {
    const double* remaining;
    double shrink;
    double seed;
    double best = kInfinity;

    bool skips(double score, std::uint32_t node, std::size_t) const {
        if (score >= best) return true;
        const double bound = (score + remaining[node]) * shrink;
        return bound >= best || bound > seed;
    }
    void met(double score) { best = score; }
};

// The smallest power-of-two exponent e such that d is a multiple of 2^e (d > 0, finite).
int lowest_bit_exponent(double d) {
    int exponent = 0;
    const double mantissa = std::frexp(d, &exponent);
    const auto bits = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
    return exponent - 53 + std::countr_zero(bits);
}

std::optional<LatencyCut> latency_cut(const RouteGraph& graph, std::span<const ScoredArc> arcs, const Reach& reach,
                                      std::uint32_t source, std::uint32_t target, Tree& tree) {
    double total = 0.0, smallest = kInfinity;
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
    // The arcs' total bounds every sum formed: a prefix plus a sweep path uses each link at most twice.
    if (!(total <= 0x1p960)) return std::nullopt;
    const bool exact = total == 0.0 || total < std::ldexp(1.0, 53 + exponent);
    if (!exact && smallest < 0x1p-960) return std::nullopt;
    tree = sweep_from_target(graph, arcs, reach, target, kInfinity, 0.0, std::less<double>(),
                             [](double value, double term) { return value + term; });
    const double shrink = exact ? 1.0 : 1.0 - (2.0 * reach.count + 3.0) * 0x1p-52;
    return LatencyCut{tree.bound.data(), shrink, tree_path_score<LatencyRule>(tree, source, target)};
}

// HighestFidelity, every reachable fidelity in [0, 1]. `bound[v]` is at least the exact product of
// any walk from v to the target (the sweep rounds every product up); `level` is the greater of the
// seed (the sweep tree's path) and the current winner's score. A prefix goes when every completion
// scores < level (ties go to the later candidate, so they must stay):
// - multiplying by a factor in [0, 1] never raises a rounded product, so a completion scores <= g;
// - a completion of k hops scores <= (1+u)^k (g * bound[v] + k eta), eta = 2^-1075 covering
//   underflow; with A = fl(g * bound[v]) and c = (N+2) 2^-52 that is <= (1+c)(A + 2^-1000), which
//   is < level whenever A < fl(level * (1-2c)) and level >= 2^-900.
struct FidelityCut {
    const double* bound;
    double factor;
    double level = -1.0;
    double threshold = 0.0;

    bool skips(double score, std::uint32_t node, std::size_t) const {
        return score < level || score * bound[node] < threshold;
    }
    void met(double score) {
        if (score <= level) return;
        level = score;
        threshold = level >= 0x1p-900 ? level * factor : 0.0;
    }
};

std::optional<FidelityCut> fidelity_cut(const RouteGraph& graph, std::span<const ScoredArc> arcs, const Reach& reach,
                                        std::uint32_t source, std::uint32_t target, Tree& tree) {
    for (std::uint32_t node = 0; node < graph.node_count(); ++node) {
        if (!reach.in[node] || node == target) continue;
        for (std::uint32_t a = graph.first_arc[node]; a < graph.first_arc[node + 1]; ++a)
            if (!(arcs[a].term >= 0.0 && arcs[a].term <= 1.0)) return std::nullopt;
    }
    // Rounded up, and never above the value extended (the factor is at most 1).
    tree = sweep_from_target(
        graph, arcs, reach, target, -1.0, 1.0, std::greater<double>(),
        [](double value, double term) { return std::min(value, std::nextafter(value * term, kInfinity)); });
    FidelityCut cut{tree.bound.data(), 1.0 - (2.0 * reach.count + 4.0) * 0x1p-52};
    cut.met(tree_path_score<FidelityRule>(tree, source, target));
    return cut;
}

// HighestSuccess, every reachable term (fidelity x rate) finite, >= 0 and 0 or within
// [2^-960, 2^960]. A completion enters distinct nodes off the path, each over one of its own links,
// so its exact remainder is at most the sum, over the reachable nodes off the path, of each node's
// best link term. `room[depth]` keeps that sum for the current path by subtraction; it lies at most
// `slack` = (4N+4) u total below the exact value (N roundings of the first summation, N of the
// subtractions, each at most u total). A prefix goes when every completion scores < best (ties go
// to the later candidate): a completion scores <= (1+u)^N (g + left + slack), which is < best
// whenever fl(g + left) < fl(fl(best * shrink) - 2 slack) with shrink = 1 - (2N+6) u.
struct SuccessCut {
    const double* entering;
    double* room;
    double slack;
    double shrink;
    double limit = -kInfinity;

    bool skips(double score, std::uint32_t node, std::size_t depth) const {
        const double left = std::max(0.0, room[depth] - entering[node]);
        if (score + left < limit) return true;
        room[depth + 1] = left;
        return false;
    }
    void met(double score) { limit = score * shrink - 2.0 * slack; }
};

// `storage` receives each node's best link term, then the room by depth.
std::optional<SuccessCut> success_cut(const RouteGraph& graph, std::span<const ScoredArc> arcs, const Reach& reach,
                                      std::uint32_t source, std::vector<double>& storage) {
    const std::size_t nodes = graph.node_count();
    storage.assign(2 * nodes + 1, 0.0);
    double total = 0.0;
    for (std::uint32_t node = 0; node < nodes; ++node) {
        if (!reach.in[node]) continue;
        double& best = storage[node];
        for (std::uint32_t a = graph.first_arc[node]; a < graph.first_arc[node + 1]; ++a) {
            if (!reach.in[arcs[a].neighbour]) continue;  // beyond the target
            const double term = arcs[a].term;
            if (!(term >= 0.0 && term <= 0x1p960) || (term > 0.0 && term < 0x1p-960)) return std::nullopt;
            best = std::max(best, term);
        }
        if (node != source) total += best;
    }
    storage[nodes] = total;
    return SuccessCut{storage.data(), storage.data() + nodes, (4.0 * reach.count + 4.0) * 0x1p-53 * total,
                      1.0 - (2.0 * reach.count + 6.0) * 0x1p-53};
}

// One path and its on-path marks, extended and retracted in place; each frame remembers where
// in its node's arc list the search resumes.
template <class Rule, class Cut>
void depth_first(const RouteGraph& graph, std::span<const ScoredArc> arcs, std::uint32_t source, std::uint32_t target,
                 Cut& cut, Winner& winner, InterruptionPoll& poll) {
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
        if (cut.skips(score, arc.neighbour, depth)) continue;
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
        Tree tree;
        std::vector<double> storage;
        switch (strategy) {
            case StrategyType::LowestLatency:
                if (auto cut = latency_cut(graph, arcs, reach, source, target, tree)) {
                    depth_first<LatencyRule>(graph, arcs, source, target, *cut, winner, poll);
                    return true;
                }
                break;
            case StrategyType::HighestFidelity:
                if (auto cut = fidelity_cut(graph, arcs, reach, source, target, tree)) {
                    depth_first<FidelityRule>(graph, arcs, source, target, *cut, winner, poll);
                    return true;
                }
                break;
            case StrategyType::HighestSuccess:
                if (auto cut = success_cut(graph, arcs, reach, source, storage)) {
                    depth_first<SuccessRule>(graph, arcs, source, target, *cut, winner, poll);
                    return true;
                }
                break;
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
