// Route choice: the documented cases, and the depth-first search against the literal stack enumeration.
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "core/routing.hpp"

using namespace vorn;

namespace {

constexpr auto kLatency = StrategyType::LowestLatency;
constexpr auto kFidelity = StrategyType::HighestFidelity;
constexpr auto kSuccess = StrategyType::HighestSuccess;

struct L {
    const char* from;
    const char* to;
    double km, fidelity, rate;
};

QuantumNetwork network_of(const std::vector<std::string>& nodes, const std::vector<L>& links) {
    QuantumNetwork network;
    for (const auto& node : nodes) network.add_node(node, 1.0);
    for (const auto& l : links) network.add_link(l.from, l.to, LinkType::Fiber, l.km, l.fidelity, l.rate);
    return network;
}

// The enumeration in its plain form: a stack of (node, path) entries, every candidate
// materialised, joining links found by scanning the list, scores recomputed for each comparison.
struct Reference {
    std::optional<RouteInfo> route;
    std::uint64_t candidates = 0;
};

std::optional<std::size_t> joining_link(const QuantumNetwork& network, const std::string& a, const std::string& b) {
    const auto& links = network.links();
    for (std::size_t l = 0; l < links.size(); ++l)
        if ((links[l].from == a && links[l].to == b) || (links[l].to == a && links[l].from == b)) return l;
    return std::nullopt;
}

double score(const QuantumNetwork& network, const std::vector<std::string>& path, StrategyType strategy) {
    double value = strategy == kFidelity ? 1.0 : 0.0;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        const InternalLink& link = network.links()[*joining_link(network, path[i], path[i + 1])];
        if (strategy == kLatency) value += link.distance_km;
        if (strategy == kFidelity) value *= link.base_fidelity;
        if (strategy == kSuccess) value += link.base_fidelity * link.generation_rate_hz;
    }
    return value;
}

Reference literal_search(const QuantumNetwork& network, const std::string& from, const std::string& to,
                         StrategyType strategy) {
    Reference reference;
    if (network.empty() || !network.has_node(from) || !network.has_node(to)) return reference;
    std::vector<std::vector<std::string>> candidates;
    std::vector<std::pair<std::string, std::vector<std::string>>> stack{{from, {from}}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        if (node == to) {
            candidates.push_back(path);
            continue;
        }
        for (const auto& link : network.links()) {
            std::string other;
            if (link.from == node) other = link.to;
            else if (link.to == node) other = link.from;
            else continue;
            if (other == node || std::find(path.begin(), path.end(), other) != path.end()) continue;
            auto longer = path;
            longer.push_back(other);
            stack.push_back({other, longer});
        }
    }
    reference.candidates = candidates.size();
    if (candidates.empty()) return reference;
    std::size_t best = 0;
    for (std::size_t c = 1; c < candidates.size(); ++c) {
        const double incumbent = score(network, candidates[best], strategy);
        const double challenger = score(network, candidates[c], strategy);
        const bool replace = strategy == kLatency ? incumbent > challenger : !(incumbent > challenger);
        if (replace) best = c;
    }
    RouteInfo route;
    route.path = candidates[best];
    for (std::size_t i = 0; i + 1 < route.path.size(); ++i) {
        const std::size_t link = *joining_link(network, route.path[i], route.path[i + 1]);
        route.fidelity *= network.links()[link].base_fidelity;
        route.hop_links.push_back(link);
    }
    reference.route = route;
    return reference;
}

QuantumNetwork complete_graph(int n) {
    QuantumNetwork network;
    for (int i = 0; i < n; ++i) network.add_node("N" + std::to_string(i), 1.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            network.add_link("N" + std::to_string(i), "N" + std::to_string(j), LinkType::Fiber, 10.0 + (i * j) % 7,
                             0.9 + 0.01 * ((i + j) % 5), 1000.0);
    return network;
}

struct AlwaysStop : Interruption {
    int asked = 0;
    bool requested() override { return ++asked > 0; }
};

}  // namespace

TEST_CASE("documented route choices") {
    const std::vector<L> diamond = {{"A", "B", 10, 0.9, 100}, {"A", "E", 10, 0.9, 100},
                                    {"B", "D", 10, 0.9, 100}, {"E", "D", 10, 0.9, 100}};
    const struct {
        const char* name;
        std::vector<std::string> nodes;
        std::vector<L> links;
        const char *from, *to;
        StrategyType strategy;
        std::vector<std::string> path;  // empty: no route
        double fidelity;
    } cases[] = {
        {"to itself", {"A", "B"}, {{"A", "B", 5, 0.7, 1}}, "A", "A", kLatency, {"A"}, 1.0},
        {"to itself, success", {"A"}, {}, "A", "A", kSuccess, {"A"}, 1.0},
        {"empty node table", {}, {{"A", "B", 5, 0.7, 1}}, "A", "B", kFidelity, {}, 0},
        {"start not a node", {"B"}, {{"A", "B", 5, 0.7, 1}}, "A", "B", kFidelity, {}, 0},
        {"end not a node", {"A"}, {{"A", "B", 5, 0.7, 1}}, "A", "B", kFidelity, {}, 0},
        {"disconnected", {"A", "B", "C"}, {{"A", "C", 5, 0.7, 1}}, "A", "B", kFidelity, {}, 0},
        {"against the link's direction", {"A", "B"}, {{"B", "A", 5, 0.7, 1}}, "A", "B", kLatency, {"A", "B"}, 0.7},
        {"diamond, latency keeps the earlier", {"A", "B", "D", "E"}, diamond, "A", "D", kLatency, {"A", "E", "D"}, 0.81},
        {"diamond, fidelity takes the later", {"A", "B", "D", "E"}, diamond, "A", "D", kFidelity, {"A", "B", "D"}, 0.81},
        {"diamond, success takes the later", {"A", "B", "D", "E"}, diamond, "A", "D", kSuccess, {"A", "B", "D"}, 0.81},
        {"two short hops beat one long", {"A", "B", "C"}, {{"A", "C", 30, 0.99, 1}, {"A", "B", 10, 0.5, 1}, {"B", "C", 10, 0.5, 1}},
         "A", "C", kLatency, {"A", "B", "C"}, 0.25},
        {"0.95 twice beats 0.9 once", {"A", "B", "C"}, {{"A", "C", 1, 0.9, 1}, {"A", "B", 1, 0.95, 1}, {"B", "C", 1, 0.95, 1}},
         "A", "C", kFidelity, {"A", "B", "C"}, 0.95 * 0.95},
        {"rate times fidelity", {"A", "B", "C"}, {{"A", "C", 1, 0.9, 100}, {"A", "B", 1, 0.5, 100}, {"B", "C", 1, 0.5, 100}},
         "A", "C", kSuccess, {"A", "B", "C"}, 0.25},
        {"self-loop never followed", {"A", "B"}, {{"A", "A", 0, 1.0, 1e9}, {"A", "B", 5, 0.6, 1}}, "A", "B", kSuccess, {"A", "B"}, 0.6},
        {"parallel links: first one's figures", {"A", "B"}, {{"B", "A", 5, 0.6, 1}, {"A", "B", 1, 0.99, 1}}, "A", "B", kFidelity,
         {"A", "B"}, 0.6},
        {"intermediate node outside the table", {"A", "C"}, {{"A", "X", 1, 0.9, 1}, {"X", "C", 1, 0.9, 1}}, "A", "C", kFidelity,
         {"A", "X", "C"}, 0.81},
    };
    for (const auto& c : cases) {
        const auto route = find_route(network_of(c.nodes, c.links), c.from, c.to, c.strategy);
        if (c.path.empty()) {
            if (route) check::fail(__FILE__, __LINE__, std::string(c.name) + ": expected no route");
            continue;
        }
        if (!route) {
            check::fail(__FILE__, __LINE__, std::string(c.name) + ": expected a route");
            continue;
        }
        if (route->path != c.path) check::fail(__FILE__, __LINE__, std::string(c.name) + ": path");
        if (!check::same_double(route->fidelity, c.fidelity)) check::fail(__FILE__, __LINE__, std::string(c.name) + ": fidelity");
    }
}

TEST_CASE("same winner, figures and candidate count as the literal enumeration on random multigraphs") {
    std::mt19937 random(2024);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double figures[] = {0.5, 0.9, 0.9, 1.0, 10.0, 20.0, 0.0, nan};
    int routes_found = 0;
    for (int round = 0; round < 3000; ++round) {
        const int n = 2 + static_cast<int>(random() % 6);
        const int m = static_cast<int>(random() % 13);
        std::vector<std::string> names;
        for (int i = 0; i < n; ++i) names.push_back(std::string(1, static_cast<char>('A' + i)));
        QuantumNetwork network;
        for (int i = 0; i < n; ++i)
            if (i < 2 || random() % 4 != 0) network.add_node(names[i], 1.0);
        for (int l = 0; l < m; ++l) {
            auto pick = [&] { return figures[random() % (round % 2 ? 7 : 8)]; };
            network.add_link(names[random() % n], names[random() % n], LinkType::Fiber, pick(), pick(), pick());
        }
        const std::string from = names[random() % 2], to = names[random() % n];
        for (auto strategy : {kLatency, kFidelity, kSuccess}) {
            const RouteSearch fast = search_routes(network, from, to, strategy);
            const Reference slow = literal_search(network, from, to, strategy);
            CHECK_EQ(fast.candidates, slow.candidates);
            CHECK_EQ(fast.route.has_value(), slow.route.has_value());
            if (!fast.route || !slow.route) continue;
            ++routes_found;
            CHECK(fast.route->path == slow.route->path);
            CHECK(fast.route->hop_links == slow.route->hop_links);
            CHECK(check::same_double(fast.route->fidelity, slow.route->fidelity));
        }
    }
    CHECK(routes_found > 3000);
}

TEST_CASE("a path thousands of nodes long needs no deep call stack") {
    QuantumNetwork network;
    const int n = 20000;
    for (int i = 0; i < n; ++i) network.add_node("n" + std::to_string(i), 1.0);
    for (int i = 0; i + 1 < n; ++i)
        network.add_link("n" + std::to_string(i), "n" + std::to_string(i + 1), LinkType::Fiber, 1.0, 0.9999, 1.0);
    network.add_link("n0", "n" + std::to_string(n - 1), LinkType::Fiber, 1e9, 0.1, 1.0);
    const auto route = find_route(network, "n0", "n" + std::to_string(n - 1), kLatency);
    CHECK(route && route->path.size() == static_cast<std::size_t>(n));
    CHECK(route && route->hop_links.size() == static_cast<std::size_t>(n - 1));
}

TEST_CASE("an interruption that asks to stop ends a long search") {
    const auto network = complete_graph(11);
    AlwaysStop stop;
    bool interrupted = false;
    try {
        search_routes(network, "N0", "N10", kFidelity, &stop);
    } catch (const Interrupted&) {
        interrupted = true;
    }
    CHECK(interrupted);
    CHECK(stop.asked > 0);
}

CHECK_MAIN()
