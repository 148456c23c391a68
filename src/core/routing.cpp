#include "core/routing.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <span>
#include <type_traits>
#include <utility>

#include "core/interruption_poll.hpp"
#include "core/network.hpp"
#include "core/repeated_sum.hpp"
#include "core/strategies.hpp"

namespace vorn {
namespace {

constexpr std::uint32_t kArcsPerPoll = 1u << 16;
constexpr std::uint32_t kNoLink = ~std::uint32_t{0};
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// How a strategy's score grows and which score wins (strategies.hpp), for the search loops. Scores
// grow hop by hop from the start value in path order, which is exactly how a complete path's score
// would be computed from scratch.
template <Combine C, Goal G>
struct ScoreRule {
    static constexpr double kStart = C == Combine::Sum ? 0.0 : 1.0;
    static double extend(double score, double term) {
        if constexpr (C == Combine::Sum)
            return score + term;
        else
            return score * term;
    }
    static bool replaces(double best, double candidate) {
        if constexpr (G == Goal::Least)
            return best > candidate;
        else
            return !(best > candidate);
    }
};
using LeastSum = ScoreRule<Combine::Sum, Goal::Least>;
using GreatestSum = ScoreRule<Combine::Sum, Goal::Greatest>;
using GreatestProduct = ScoreRule<Combine::Product, Goal::Greatest>;
using LeastProduct = ScoreRule<Combine::Product, Goal::Least>;

// Calls `body` with the ScoreRule of the strategy's combination and goal.
template <class Body>
decltype(auto) with_rule(const Strategy& strategy, Body&& body) {
    if (strategy.combine == Combine::Sum) return strategy.goal == Goal::Least ? body(LeastSum{}) : body(GreatestSum{});
    return strategy.goal == Goal::Least ? body(LeastProduct{}) : body(GreatestProduct{});
}

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

    // `frames` are the path's frames (anything with a node and the link it was entered by).
    template <class Rule, class PathFrame>
    bool offer(double candidate, std::span<const PathFrame> frames, std::uint32_t target, std::uint32_t last_link) {
        ++candidates;
        if (found && !Rule::replaces(score, candidate)) return false;
        found = true;
        score = candidate;
        nodes.clear();
        links.clear();
        for (const PathFrame& frame : frames) nodes.push_back(frame.node);
        for (std::size_t i = 1; i < frames.size(); ++i) links.push_back(frames[i].via);
        nodes.push_back(target);
        links.push_back(last_link);
        return true;
    }
};

// The arcs with their terms, in a loop of each table entry's own, so that the term is inlined.
template <std::size_t entry>
std::vector<ScoredArc> score_arcs_with(const RouteGraph& graph, const std::vector<InternalLink>& links) {
    constexpr auto term = kStrategies[entry].term;
    std::vector<ScoredArc> scored(graph.arcs.size());
    for (std::size_t i = 0; i < scored.size(); ++i)
        scored[i] = {graph.arcs[i].neighbour, graph.arcs[i].joining, term(links[graph.arcs[i].joining])};
    return scored;
}

std::vector<ScoredArc> score_arcs(const RouteGraph& graph, const std::vector<InternalLink>& links,
                                  const Strategy& strategy) {
    static constexpr auto kLoops = []<std::size_t... entry>(std::index_sequence<entry...>) {
        return std::array{&score_arcs_with<entry>...};
    }(std::make_index_sequence<std::size(kStrategies)>());
    return kLoops[static_cast<std::size_t>(strategy.type)](graph, links);
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
// first candidate of least score (Goal::Least) or the last of greatest score (Goal::Greatest):
// candidates that lose to the winner (or tie it, for Goal::Least) are never missed. u = 2^-53,
// N = the number of reachable nodes, at least the hop count of any path.

// Least sums, every reachable term finite and >= 0. `remaining[v]` is the least sum from v to the
// target as the sweep computes it, `seed` the score of the sweep tree's path (a candidate, so the
// winner scores at most that), `best` the current winner's. A prefix goes when every completion
// scores >= best or > seed:
// - a rounded sum never decreases as terms >= 0 are appended, so a completion scores >= g;
// - exact case (every term a multiple of 2^e, and the sum of all below 2^(53+e)): every sum the
//   search and the sweep form is exact, so a completion scores >= g + remaining[v];
// - otherwise a completion of exact sum r scores >= (1-u)^N (g + r), the sweep's value is at most
//   (1+u)^N times the true least sum, so r >= (1-u)^N remaining[v], and a completion scores
//   >= (1-u)^(2N+1) fl(g + remaining[v]) >= fl(fl(g + remaining[v]) * shrink) with
//   shrink = 1 - (2N+3) 2^-52. Terms are 0 or within [2^-960, 2^960]: nothing is subnormal
//   or overflows, so these relative error bounds hold.
struct LeastSumCut {
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

std::optional<LeastSumCut> least_sum_cut(const RouteGraph& graph, std::span<const ScoredArc> arcs, const Reach& reach,
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
    return LeastSumCut{tree.bound.data(), shrink, tree_path_score<LeastSum>(tree, source, target)};
}

// Greatest products, every reachable term in [0, 1]. `bound[v]` is at least the exact product of
// any walk from v to the target (the sweep rounds every product up); `level` is the greater of the
// seed (the sweep tree's path) and the current winner's score. A prefix goes when every completion
// scores < level (ties go to the later candidate, so they must stay):
// - multiplying by a factor in [0, 1] never raises a rounded product, so a completion scores <= g;
// - a completion of k hops scores <= (1+u)^k (g * bound[v] + k eta), eta = 2^-1075 covering
//   underflow; with A = fl(g * bound[v]) and c = (N+2) 2^-52 that is <= (1+c)(A + 2^-1000), which
//   is < level whenever A < fl(level * (1-2c)) and level >= 2^-900.
struct GreatestProductCut {
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

std::optional<GreatestProductCut> greatest_product_cut(const RouteGraph& graph, std::span<const ScoredArc> arcs,
                                                       const Reach& reach, std::uint32_t source, std::uint32_t target,
                                                       Tree& tree) {
    for (std::uint32_t node = 0; node < graph.node_count(); ++node) {
        if (!reach.in[node] || node == target) continue;
        for (std::uint32_t a = graph.first_arc[node]; a < graph.first_arc[node + 1]; ++a)
            if (!(arcs[a].term >= 0.0 && arcs[a].term <= 1.0)) return std::nullopt;
    }
    // Rounded up, and never above the value extended (the factor is at most 1).
    tree = sweep_from_target(
        graph, arcs, reach, target, -1.0, 1.0, std::greater<double>(),
        [](double value, double term) { return std::min(value, std::nextafter(value * term, kInfinity)); });
    GreatestProductCut cut{tree.bound.data(), 1.0 - (2.0 * reach.count + 4.0) * 0x1p-52};
    cut.met(tree_path_score<GreatestProduct>(tree, source, target));
    return cut;
}

// Which nodes of a part of the graph lie on some simple path between two of its nodes: those of the
// blocks (biconnected parts) that lie between the two on the part's block tree, since a path that
// enters any other block cannot leave it again. A depth-first search with low points (Tarjan).
class BlockPath {
public:
    explicit BlockPath(const RouteGraph& graph)
        : graph_(graph),
          seen_(graph.node_count(), 0),
          on_chain_(graph.node_count(), 0),
          discovered_(graph.node_count()),
          low_(graph.node_count()),
          parent_(graph.node_count()),
          top_(graph.node_count()) {}

    // `in_part(node)` tells the part's nodes, `from` and `to` among them. False when `to` cannot be
    // reached from `from` within the part.
    template <class InPart>
    bool find(std::span<const ScoredArc> arcs, std::uint32_t from, std::uint32_t to, InPart in_part) {
        ++stamp_;
        met_.clear();
        dfs_.clear();
        std::uint32_t clock = 0;
        auto enter = [&](std::uint32_t at, std::uint32_t parent) {
            seen_[at] = stamp_;
            discovered_[at] = low_[at] = clock++;
            parent_[at] = parent;
            met_.push_back(at);
            dfs_.push_back({at, graph_.first_arc[at]});
        };
        enter(from, kNoLink);
        while (!dfs_.empty()) {
            Step& step = dfs_.back();
            const std::uint32_t at = step.node;
            if (step.next_arc == graph_.first_arc[at + 1]) {
                dfs_.pop_back();
                if (const std::uint32_t parent = parent_[at]; parent != kNoLink)
                    low_[parent] = std::min(low_[parent], low_[at]);
                continue;
            }
            const std::uint32_t other = arcs[step.next_arc++].neighbour;
            if (!in_part(other)) continue;
            if (other == parent_[at]) continue;  // a link back to the parent (parallel ones too) closes no block
            if (seen_[other] == stamp_) {
                low_[at] = std::min(low_[at], discovered_[other]);
                continue;
            }
            enter(other, at);
        }
        if (seen_[to] != stamp_) return false;
        // top_[x]: the child end of the tree link that opened x's block; the blocks between the two
        // ends are those opened on the tree path to `to`.
        for (const std::uint32_t at : met_) {
            const std::uint32_t parent = parent_[at];
            top_[at] = parent == kNoLink || low_[at] >= discovered_[parent] ? at : top_[parent];
        }
        for (std::uint32_t at = to; at != kNoLink; at = parent_[at]) on_chain_[at] = stamp_;
        return true;
    }

    // After a successful find: the nodes met (those of `from`'s side of the part), and which of them
    // lie on a simple path between the ends.
    const std::vector<std::uint32_t>& met() const { return met_; }
    bool was_met(std::uint32_t node) const { return seen_[node] == stamp_; }
    bool on_path(std::uint32_t node) const { return on_chain_[node] == stamp_ || on_chain_[top_[node]] == stamp_; }

private:
    struct Step {
        std::uint32_t node;
        std::uint32_t next_arc;
    };
    const RouteGraph& graph_;
    std::vector<std::uint32_t> seen_, on_chain_, discovered_, low_, parent_, top_;  // valid at the stamp
    std::uint32_t stamp_ = 0;
    std::vector<std::uint32_t> met_;
    std::vector<Step> dfs_;
};

// The greatest score of the prefixes met so far through each set of nodes (a 64-bit mask) to each
// end node: an open-addressing table that grows with its contents, up to a limit past which it
// records nothing new (it then only prunes less).
class BestBySet {
public:
    void clear() {
        slots_.assign(kFirstSlots, Slot{});
        used_ = 0;
    }

    // Whether a prefix through `set` to `node` with at least `score` was recorded; records this one
    // otherwise.
    bool dominated(std::uint64_t set, std::uint32_t node, double score) {
        if (2 * (used_ + 1) > slots_.size()) {
            if (slots_.size() >= kMaxSlots) return find(set, node) && find(set, node)->score >= score;
            grow();
        }
        Slot& slot = *probe(set, node);
        if (slot.node != kEmpty) {
            if (slot.score >= score) return true;
            slot.score = score;
            return false;
        }
        slot = {set, node, score};
        ++used_;
        return false;
    }

private:
    static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
    static constexpr std::size_t kFirstSlots = 1024, kMaxSlots = std::size_t{1} << 20;  // 24 MiB at most
    struct Slot {
        std::uint64_t set = 0;
        std::uint32_t node = kEmpty;
        double score = 0.0;
    };

    Slot* probe(std::uint64_t set, std::uint32_t node) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i =
            static_cast<std::size_t>((set ^ (std::uint64_t{node} << 40)) * 0x9E3779B97F4A7C15ull >> 20) & mask;
        while (slots_[i].node != kEmpty && (slots_[i].set != set || slots_[i].node != node)) i = (i + 1) & mask;
        return &slots_[i];
    }
    Slot* find(std::uint64_t set, std::uint32_t node) {
        Slot* slot = probe(set, node);
        return slot->node == kEmpty ? nullptr : slot;
    }
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old)
            if (slot.node != kEmpty) *probe(slot.set, slot.node) = slot;
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

// Greatest sums over simple paths: a longest-path problem, for which no
// method is known that avoids exponential growth on meshed networks, so this search too grows
// exponentially with their size in the worst case (it polls for interruption throughout, and
// estimate_route_search tells in advance how large the networks' searched parts are). What keeps it
// fast on networks of tens of nodes:
// - It walks the paths in the reverse of the enumeration's order (each node's arcs the other way
//   round, which reverses the order of the complete paths), so the winner, the last of the greatest
//   scores in enumeration order, is the first of them met: only a strictly greater score replaces
//   the best so far, and a prefix goes as soon as none of its completions can beat it strictly.
// - Bounds on the completions of a prefix (completion_bound), exact where the arithmetic is.
// - A first, short pass that visits the most promising prefixes first finds a good score, which the
//   main pass may then cut below (a path scoring that much exists, so the winner scores at least it).
// - Of prefixes through the same nodes to the same node, only the one with the greatest score is
//   continued: any completion of another scores no more than the same completion of it (rounding
//   to nearest is monotone), and comes later.
// - The search stops as soon as the best score reaches the bound of the whole network.
// Every bound needs terms >= 0 (NaN ruled out); otherwise the enumeration runs unbounded.
class GreatestSumSearch {
public:
    GreatestSumSearch(const RouteGraph& graph, std::span<const ScoredArc> arcs, const Reach& reach,
                      std::uint32_t source, std::uint32_t target, bool exact)
        : graph_(graph),
          arcs_(arcs),
          source_(source),
          target_(target),
          exact_(exact),
          grow_(1.0 + (4.0 * static_cast<double>(reach.count) + 12.0) * 0x1p-53),
          usable_(graph.node_count(), 0),
          bit_(graph.node_count(), 0),
          blocks_(graph) {
        std::uint32_t bit = 0;
        for (std::uint32_t node = 0; node < graph.node_count(); ++node) {
            if (!reach.in[node]) continue;
            usable_[node] = node != target;
            bit_[node] = bit++;
        }
        sets_ = reach.count <= kDenseNodes;  // prefixes are compared by their node sets as 64-bit masks
        if (sets_) make_dense(reach);
    }

    void run(Winner& winner, InterruptionPoll& poll) {
        block(source_);
        const auto root = completion_bound(source_, 0.0, -kInfinity, ~std::uint64_t{0});
        if (!root) return;
        network_bound_ = *root;
        network_on_path_ = last_on_path_;
        Winner first_look;
        walk<true>(first_look, poll, -kInfinity, kFirstLookNodes * static_cast<std::uint64_t>(graph_.node_count()));
        const double floor = first_look.found ? first_look.score : -kInfinity;
        walk<false>(winner, poll, floor, std::numeric_limits<std::uint64_t>::max());
    }

private:
    // The first look expands at most this many prefixes per node of the graph.
    static constexpr std::uint64_t kFirstLookNodes = 64;

    struct Frame {
        std::uint32_t node;
        std::uint32_t via;  // joining link of the hop into this node
        // Main pass: the next arc, from the end of the node's list towards its start. First look: the
        // next of its children in kids_, which run from `begin` to `end`.
        std::uint32_t next;
        std::uint32_t begin, end;
        double score;
        double bound;           // no completion of the prefix scores above it
        std::uint64_t on_path;  // dense form: the nodes on some completion, as bits
    };
    struct Kid {
        std::uint32_t arc;
        double score;
        double bound;
        std::uint64_t on_path;
    };

    // In the main pass's reversed order, the first of equal scores is the enumeration's last; the
    // first look keeps any greatest.
    struct FirstGreatest {
        static bool replaces(double best, double candidate) { return best < candidate; }
    };

    void block(std::uint32_t node) {
        usable_[node] = 0;
        if (sets_) path_set_ |= std::uint64_t{1} << bit_[node];
    }
    void unblock(std::uint32_t node) {
        usable_[node] = 1;
        if (sets_) path_set_ &= ~(std::uint64_t{1} << bit_[node]);
    }

    // Parts of up to 64 nodes are searched in a dense form: nodes as bits, each node's neighbours
    // as a mask, the term of each pair of neighbours, and each node's neighbours in order of their
    // terms, greatest first.
    static constexpr std::uint32_t kDenseNodes = 64;
    void make_dense(const Reach& reach) {
        dense_bits_ = reach.count;
        adjacent_.assign(dense_bits_, 0);
        terms_.assign(std::size_t{dense_bits_} * dense_bits_, 0.0);
        by_term_.clear();
        by_term_first_.assign(dense_bits_ + 1, 0);
        for (std::uint32_t node = 0; node < graph_.node_count(); ++node) {
            if (!reach.in[node]) continue;
            const std::uint32_t b = bit_[node];
            if (node == target_) target_bit_ = b;
            for (std::uint32_t a = graph_.first_arc[node]; a < graph_.first_arc[node + 1]; ++a) {
                const std::uint32_t other = arcs_[a].neighbour;
                if (!reach.in[other]) continue;  // beyond the target
                const std::uint32_t c = bit_[other];
                adjacent_[b] |= std::uint64_t{1} << c;
                terms_[std::size_t{b} * dense_bits_ + c] = arcs_[a].term;  // a pair's links share its joining link
            }
        }
        for (std::uint32_t b = 0; b < dense_bits_; ++b) {
            by_term_first_[b] = static_cast<std::uint32_t>(by_term_.size());
            for (std::uint64_t rest = adjacent_[b]; rest != 0; rest &= rest - 1)
                by_term_.push_back(static_cast<std::uint8_t>(std::countr_zero(rest)));
            const double* row = terms_.data() + std::size_t{b} * dense_bits_;
            std::stable_sort(by_term_.begin() + by_term_first_[b], by_term_.end(),
                             [row](std::uint8_t x, std::uint8_t y) { return row[x] > row[y]; });
        }
        by_term_first_[dense_bits_] = static_cast<std::uint32_t>(by_term_.size());
    }

    // Whether the prefix that has just entered `node` with `score` scores no more than one met
    // before through the same nodes; records it otherwise.
    bool dominated(std::uint32_t node, double score) { return sets_ && best_by_set_.dominated(path_set_, node, score); }

    // The main pass (First false): every prefix in reversed enumeration order, cut where no
    // completion beats the best strictly or reaches `floor`. The first look (First true): the
    // children of each prefix in order of their bounds, for at most `expansions` prefixes. Out of line
    // for the same reason as depth_first.
    template <bool First>
    [[gnu::noinline]] void walk(Winner& winner, InterruptionPoll& poll, double floor, std::uint64_t expansions) {
        const std::uint32_t* first = graph_.first_arc.data();
        std::vector<Frame> frames(graph_.node_count());
        best_by_set_.clear();
        kids_.clear();
        frames[0] = {source_, kNoLink, first[source_ + 1], 0, 0, 0.0, network_bound_, network_on_path_};
        if constexpr (First) children(frames, 0, winner);
        std::size_t depth = 0;
        std::uint32_t budget = kArcsPerPoll;
        auto kept = [&](double bound) { return bound >= floor && !(winner.found && bound <= winner.score); };
        for (;;) {
            Frame& frame = frames[depth];
            const bool done = First ? frame.next == frame.end || expansions == 0 : frame.next == first[frame.node];
            if (done || !kept(frame.bound) || (winner.found && winner.score >= network_bound_)) {
                if constexpr (First) kids_.resize(frame.begin);
                if (depth == 0) break;
                unblock(frame.node);
                --depth;
                continue;
            }
            if (--budget == 0) {
                poll.advance(kArcsPerPoll);
                budget = kArcsPerPoll;
            }
            std::uint32_t arc_index;
            double score, bound;
            std::uint64_t on_path;
            if constexpr (First) {
                const Kid kid = kids_[frame.next++];
                if (!kept(kid.bound)) continue;
                arc_index = kid.arc, score = kid.score, bound = kid.bound, on_path = kid.on_path;
                block(arcs_[arc_index].neighbour);
                --expansions;
            } else {
                arc_index = --frame.next;
                const ScoredArc& arc = arcs_[arc_index];
                score = GreatestSum::extend(frame.score, arc.term);
                if (arc.neighbour == target_) {
                    winner.offer<FirstGreatest>(score, std::span<const Frame>(frames.data(), depth + 1), target_,
                                                arc.joining);
                    continue;
                }
                if (!usable_[arc.neighbour]) continue;
                block(arc.neighbour);
                const auto found =
                    dominated(arc.neighbour, score)
                        ? std::nullopt
                        : completion_bound(arc.neighbour, score, winner.found ? winner.score : floor, frame.on_path);
                if (!found || !kept(*found)) {
                    unblock(arc.neighbour);
                    continue;
                }
                bound = *found;
                on_path = last_on_path_;
            }
            const ScoredArc& arc = arcs_[arc_index];
            frames[++depth] = {arc.neighbour, arc.joining, first[arc.neighbour + 1], 0, 0, score, bound, on_path};
            if constexpr (First) children(frames, depth, winner);
        }
        for (std::size_t d = depth; d > 0; --d) unblock(frames[d].node);
    }

    // The first look's children of the prefix frames[0..depth]: candidates are offered at once, the
    // others pushed onto kids_ with their bounds, the most promising first.
    void children(std::vector<Frame>& frames, std::size_t depth, Winner& winner) {
        Frame& frame = frames[depth];
        frame.begin = frame.next = static_cast<std::uint32_t>(kids_.size());
        for (std::uint32_t a = graph_.first_arc[frame.node]; a < graph_.first_arc[frame.node + 1]; ++a) {
            const ScoredArc& arc = arcs_[a];
            const double score = GreatestSum::extend(frame.score, arc.term);
            if (arc.neighbour == target_) {
                winner.offer<FirstGreatest>(score, std::span<const Frame>(frames.data(), depth + 1), target_,
                                            arc.joining);
                continue;
            }
            if (!usable_[arc.neighbour]) continue;
            block(arc.neighbour);
            if (const auto bound = completion_bound(arc.neighbour, score, -kInfinity, frame.on_path))
                kids_.push_back({a, score, *bound, last_on_path_});
            unblock(arc.neighbour);
        }
        std::sort(kids_.begin() + frame.begin, kids_.end(),
                  [](const Kid& a, const Kid& b) { return a.bound > b.bound; });
        frame.end = static_cast<std::uint32_t>(kids_.size());
    }

    // A bound on the score of every completion of a prefix that ends at `node` (already blocked) with
    // `score`, or nothing when no completion reaches the target. Bounds at or below `level` need not
    // be tight.
    //
    // A completion is a simple path from `node` to the target through the graph H of the nodes that
    // are neither on the path nor beyond the target. Only the nodes of the blocks (biconnected parts)
    // that lie between the two on H's block tree can be on such a path: a path that enters any other
    // block cannot leave it again. Its hops are links among those nodes, two at each node it passes
    // and one at either end, so their exact sum U is at most half the sum of each such node's two
    // greatest terms towards the others (the greatest one only, for `node` and the target).
    // - Exact case (every term a multiple of 2^e, and four times the sum of every node's greatest term
    //   below 2^(53+e)): every sum formed is exact, so a completion scores <= score + U.
    // - Otherwise a completion of k <= N hops scores <= (1+u)^k (score + U) (u = 2^-53), below
    //   fl(score + fl(U)) (1 + (4N + 12) u) + 2^-1000 (the last for sums below the normal range);
    //   and, its terms being at most the greatest term T among those nodes, at most the score with T
    //   added once per node entered, rounding each time (add_repeatedly): tight for equal figures.
    std::optional<double> completion_bound(std::uint32_t node, double score, double level, std::uint64_t within) {
        double twice = 0.0, greatest = 0.0;
        std::uint64_t entered = 0;  // the nodes a completion may enter: the target and those it passes
        if (sets_) {
            if (!dense_sums(node, within, twice, greatest, entered)) return std::nullopt;
        } else if (!sparse_sums(node, twice, greatest, entered)) {
            return std::nullopt;
        }
        const double sum = twice * 0.5;
        if (exact_) return score + sum;
        const double rounded = (score + sum) * grow_ + 0x1p-1000;
        if (rounded <= level) return rounded;
        return std::min(rounded, add_repeatedly(score, greatest, entered));
    }

    // The sum of the terms that completion_bound halves, the greatest of them and the number of nodes
    // entered; false when the target is out of reach.
    bool sparse_sums(std::uint32_t node, double& twice, double& greatest, std::uint64_t& entered) {
        auto in_h = [&](std::uint32_t other) { return usable_[other] || other == target_ || other == node; };
        if (!blocks_.find(arcs_, node, target_, in_h)) return false;
        for (const std::uint32_t at : blocks_.met()) {
            if (!blocks_.on_path(at)) continue;
            double top = 0.0, second = 0.0;
            for (std::uint32_t a = graph_.first_arc[at]; a < graph_.first_arc[at + 1]; ++a) {
                const std::uint32_t other = arcs_[a].neighbour;
                if (!blocks_.was_met(other) || !blocks_.on_path(other)) continue;
                const double term = arcs_[a].term;
                if (term > top) {
                    second = top;
                    top = term;
                } else if (term > second) {
                    second = term;
                }
            }
            twice += at == node || at == target_ ? top : top + second;
            greatest = std::max(greatest, top);
            entered += at != node;
        }
        return true;
    }

    // The same in the dense form: BlockPath's search over masks.
    // Only nodes of `within` (as bits) are considered: those on a path for a shorter prefix, since
    // every completion of a longer one extends a completion of the shorter. Leaves the nodes on a
    // path in last_on_path_.
    bool dense_sums(std::uint32_t node, std::uint64_t within, double& twice, double& greatest, std::uint64_t& entered) {
        const std::uint32_t root = bit_[node];
        const std::uint64_t one = 1;
        const std::uint64_t in_h = (usable_mask() & within) | one << target_bit_ | one << root;
        std::uint8_t parent[kDenseNodes], discovered[kDenseNodes], low[kDenseNodes], top[kDenseNodes];
        std::uint8_t order[kDenseNodes], stack[kDenseNodes];
        std::uint64_t rest[kDenseNodes];
        std::uint64_t seen = one << root;
        std::uint32_t met = 0, depth = 0;
        constexpr std::uint8_t kNone = 0xFF;
        parent[root] = kNone;
        discovered[root] = low[root] = 0;
        order[met++] = static_cast<std::uint8_t>(root);
        rest[root] = adjacent_[root] & in_h;
        stack[depth++] = static_cast<std::uint8_t>(root);
        while (depth > 0) {
            const std::uint32_t at = stack[depth - 1];
            if (rest[at] == 0) {
                --depth;
                if (parent[at] != kNone) low[parent[at]] = std::min(low[parent[at]], low[at]);
                continue;
            }
            const auto other = static_cast<std::uint32_t>(std::countr_zero(rest[at]));
            rest[at] &= rest[at] - 1;
            if (other == parent[at]) continue;  // a link back to the parent (parallel ones too) closes no block
            if (seen >> other & 1) {
                low[at] = std::min(low[at], discovered[other]);
                continue;
            }
            seen |= one << other;
            parent[other] = static_cast<std::uint8_t>(at);
            discovered[other] = low[other] = static_cast<std::uint8_t>(met);
            order[met++] = static_cast<std::uint8_t>(other);
            rest[other] = adjacent_[other] & in_h;
            stack[depth++] = static_cast<std::uint8_t>(other);
        }
        if (!(seen >> target_bit_ & 1)) return false;
        std::uint64_t chain = 0;
        for (std::uint32_t at = target_bit_; at != kNone; at = parent[at]) chain |= one << at;
        std::uint64_t eligible = 0;
        for (std::uint32_t i = 0; i < met; ++i) {
            const std::uint32_t at = order[i], up = parent[at];
            top[at] = static_cast<std::uint8_t>(up == kNone || low[at] >= discovered[up] ? at : top[up]);
            if ((chain >> at & 1) || (chain >> top[at] & 1)) eligible |= one << at;
        }
        for (std::uint64_t each = eligible; each != 0; each &= each - 1) {
            const auto at = static_cast<std::uint32_t>(std::countr_zero(each));
            const double* row = terms_.data() + std::size_t{at} * dense_bits_;
            const bool end = at == root || at == target_bit_;
            double top_term = 0.0, second = 0.0;
            int taken = 0;
            for (std::uint32_t i = by_term_first_[at]; i < by_term_first_[at + 1] && taken < (end ? 1 : 2); ++i) {
                const std::uint32_t other = by_term_[i];
                if (!(eligible >> other & 1)) continue;
                (taken++ == 0 ? top_term : second) = row[other];
            }
            twice += top_term + second;
            greatest = std::max(greatest, top_term);
            ++entered;
        }
        --entered;  // `node` itself is not entered
        last_on_path_ = eligible;
        return true;
    }

    std::uint64_t usable_mask() const {
        const std::uint64_t all = dense_bits_ == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << dense_bits_) - 1;
        return all & ~path_set_ & ~(std::uint64_t{1} << target_bit_);
    }

    const RouteGraph& graph_;
    std::span<const ScoredArc> arcs_;
    std::uint32_t source_, target_;
    bool exact_;
    double grow_;
    double network_bound_ = kInfinity;
    std::uint64_t network_on_path_ = ~std::uint64_t{0}, last_on_path_ = ~std::uint64_t{0};
    std::vector<std::uint8_t> usable_;  // reachable, off the path, not the target
    bool sets_ = false;
    std::vector<std::uint32_t> bit_;  // each reachable node's bit in path_set_
    std::uint64_t path_set_ = 0;
    std::uint32_t dense_bits_ = 0, target_bit_ = 0;
    std::vector<std::uint64_t> adjacent_;
    std::vector<double> terms_;
    std::vector<std::uint8_t> by_term_;
    std::vector<std::uint32_t> by_term_first_;
    BestBySet best_by_set_;
    std::vector<Kid> kids_;
    BlockPath blocks_;
};

// The search above where every reachable term is >= 0 (NaN ruled out); nothing otherwise.
std::optional<GreatestSumSearch> greatest_sum_search(const RouteGraph& graph, std::span<const ScoredArc> arcs,
                                                     const Reach& reach, std::uint32_t source, std::uint32_t target) {
    double total = 0.0;
    int exponent = std::numeric_limits<int>::max();
    for (std::uint32_t node = 0; node < graph.node_count(); ++node) {
        if (!reach.in[node]) continue;
        double greatest = 0.0;
        for (std::uint32_t a = graph.first_arc[node]; a < graph.first_arc[node + 1]; ++a) {
            if (!reach.in[arcs[a].neighbour]) continue;  // beyond the target
            const double term = arcs[a].term;
            if (!(term >= 0.0)) return std::nullopt;
            greatest = std::max(greatest, term);
            if (term > 0.0 && std::isfinite(term)) exponent = std::min(exponent, lowest_bit_exponent(term));
        }
        total += greatest;
    }
    // Sums of at most two terms of every node (and halves of them) stay below 4 · total.
    const bool exact = std::isfinite(total) && (total == 0.0 || 4.0 * total < std::ldexp(1.0, 53 + exponent));
    return GreatestSumSearch(graph, arcs, reach, source, target, exact);
}

// One path and its on-path marks, extended and retracted in place; each frame remembers where
// in its node's arc list the search resumes. Out of line, so that g++ 12 keeps its inner loop whole
// whichever searches share a caller (inlined, it ran up to a tenth slower).
template <class Rule, class Cut>
[[gnu::noinline]] void depth_first(const RouteGraph& graph, std::span<const ScoredArc> arcs, std::uint32_t source,
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

// The search with bounds that a rule's scores allow, ready to run where the figures allow it (they rule
// out NaN, and what else its bounds need): a cut of the depth-first search, or for greatest sums the
// longest-path search, whose work may still grow exponentially. Least products have no bounds.
template <class R>
auto bounded_search(const RouteGraph& graph, std::span<const ScoredArc> arcs, const Reach& reach, std::uint32_t source,
                    std::uint32_t target, Tree& tree) {
    if constexpr (std::is_same_v<R, LeastSum>)
        return least_sum_cut(graph, arcs, reach, source, target, tree);
    else if constexpr (std::is_same_v<R, GreatestProduct>)
        return greatest_product_cut(graph, arcs, reach, source, target, tree);
    else if constexpr (std::is_same_v<R, GreatestSum>)
        return greatest_sum_search(graph, arcs, reach, source, target);
    else
        return std::optional<NoCut>();
}
template <class R>
constexpr bool kBoundedSearchIsExponential = std::is_same_v<R, GreatestSum>;

// Returns whether bounds were in force.
bool search(const RouteGraph& graph, std::span<const ScoredArc> arcs, std::uint32_t source, std::uint32_t target,
            const Strategy& strategy, RouteCuts cuts, Winner& winner, InterruptionPoll& poll) {
    return with_rule(strategy, [&]<class R>(R) {
        if (cuts == RouteCuts::Bounds) {
            const Reach reach = reach_of(graph, arcs, source, target);
            if (!reach.in[target]) return false;  // the enumeration would find no candidate
            Tree tree;
            if (auto bounded = bounded_search<R>(graph, arcs, reach, source, target, tree)) {
                if constexpr (std::is_same_v<decltype(*bounded), GreatestSumSearch&>)
                    bounded->run(winner, poll);
                else
                    depth_first<R>(graph, arcs, source, target, *bounded, winner, poll);
                return true;
            }
        }
        enumerate<R>(graph, arcs, source, target, winner, poll);
        return false;
    });
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

    const Strategy& entry = strategy_entry(strategy);
    const std::vector<ScoredArc> arcs = score_arcs(graph, network.links(), entry);
    InterruptionPoll poll(interruption, kArcsPerPoll);
    Winner winner;
    result.bounded = search(graph, arcs, *source, *target, entry, cuts, winner, poll);
    result.candidates = winner.candidates;
    if (winner.found) result.route = route_of(winner, graph, network.links());
    return result;
}

RouteSearchEstimate estimate_route_search(const QuantumNetwork& network, std::string_view from_node,
                                          std::string_view to_node, StrategyType strategy) {
    RouteSearchEstimate estimate;
    if (network.empty() || !network.has_node(from_node) || !network.has_node(to_node) || from_node == to_node)
        return estimate;
    const RouteGraph& graph = network.route_graph();
    const auto source = graph.number_of(from_node), target = graph.number_of(to_node);
    if (!source || !target) return estimate;
    const Strategy& entry = strategy_entry(strategy);
    const std::vector<ScoredArc> arcs = score_arcs(graph, network.links(), entry);
    const Reach reach = reach_of(graph, arcs, *source, *target);
    BlockPath blocks(graph);
    if (!blocks.find(arcs, *source, *target, [&](std::uint32_t node) { return reach.in[node] != 0; })) return estimate;
    for (const std::uint32_t node : blocks.met()) {
        if (!blocks.on_path(node)) continue;
        ++estimate.nodes;
        std::size_t degree = 0;
        for (std::uint32_t a = graph.first_arc[node]; a < graph.first_arc[node + 1]; ++a)
            degree += blocks.was_met(arcs[a].neighbour) && blocks.on_path(arcs[a].neighbour);
        estimate.links += degree;
        if (node == *target) continue;
        estimate.log2_paths += std::log2(std::max<double>(1.0, static_cast<double>(degree) - (node != *source)));
    }
    estimate.links /= 2;
    with_rule(entry, [&]<class R>(R) {
        Tree tree;
        estimate.bounded = bounded_search<R>(graph, arcs, reach, *source, *target, tree).has_value();
        estimate.exponential = !estimate.bounded || kBoundedSearchIsExponential<R>;
    });
    estimate.likely_long = estimate.bounded
                               ? estimate.exponential && estimate.nodes > RouteSearchEstimate::kLongBoundedNodes
                               : estimate.log2_paths > RouteSearchEstimate::kLongLog2Paths;
    return estimate;
}

RouteSearch search_routes(const QuantumNetwork& network, std::string_view from_node, std::string_view to_node,
                          StrategyType strategy, Interruption* interruption) {
    if (network.empty() || !network.has_node(from_node) || !network.has_node(to_node)) return {};
    return search_routes(network, build_route_graph(network), from_node, to_node, strategy, interruption);
}

}  // namespace vorn
