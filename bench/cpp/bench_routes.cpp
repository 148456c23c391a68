// Route finding on networks of realistic size: the bounded search against the full enumeration.
//
//   bench_routes [CAP_SECONDS]    every figure; the full enumeration is stopped after CAP_SECONDS
//                                 (default 10) and reported as such
//   bench_routes success          the HighestSuccess figures beside their targets only
//   bench_routes once NETWORK STRATEGY [cuts|none]
//                                 one find_route and nothing else, for
//                                 `valgrind --tool=callgrind bench_routes once rgg1000 1`
//                                 NETWORK: k11..k14, eqN (equal figures), grid, rggN or rggN:SEED;
//                                 STRATEGY: a StrategyType value
//
// Figures: complete graphs of 11 to 14 nodes and a 20 x 20 grid, then random geometric networks
// of 100, 1,000 and 10,000 nodes (points in a 5,000 km square, linked within a radius that gives
// about 8 links per node, fibre length = distance), routed between the nodes nearest two opposite
// corners. Fidelities and rates are drawn uniformly from the reference topologies' ranges
// (0.75 to 0.98, 50 to 2,000 Hz); complete graphs draw lengths from 5 to 6,000 km.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/ensemble.hpp"
#include "core/network.hpp"
#include "core/routing.hpp"
#include "core/strategies.hpp"
#include "process_clocks.hpp"

using namespace vorn;
using namespace vorn::bench;

namespace {

struct Bench {
    std::string name;
    QuantumNetwork network;
    std::string from, to;
};

std::string id(int i) { return "n" + std::to_string(i); }

Bench complete_graph(int n) {
    Bench bench{"K" + std::to_string(n), {}, id(0), id(n - 1)};
    std::mt19937_64 random(n);
    std::uniform_real_distribution<double> km(5, 6000), fidelity(0.75, 0.98), rate(50, 2000);
    for (int i = 0; i < n; ++i) bench.network.add_node(id(i), 150.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            bench.network.add_link(id(i), id(j), LinkType::Fiber, km(random), fidelity(random), rate(random));
    return bench;
}

// Equal figures on every link (10 km, 0.99, 1000 Hz): every longest path ties under HighestSuccess.
Bench equal_complete_graph(int n) {
    Bench bench{"K" + std::to_string(n) + ", equal figures", {}, id(0), id(n - 1)};
    for (int i = 0; i < n; ++i) bench.network.add_node(id(i), 150.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) bench.network.add_link(id(i), id(j), LinkType::Fiber, 10.0, 0.99, 1000.0);
    return bench;
}

// Equal 50 km links, so that about 10^10 shortest paths tie; corner to corner.
Bench grid(int side) {
    Bench bench{"grid " + std::to_string(side) + "x" + std::to_string(side), {}, id(0), id(side * side - 1)};
    std::mt19937_64 random(side);
    std::uniform_real_distribution<double> fidelity(0.75, 0.98), rate(50, 2000);
    for (int i = 0; i < side * side; ++i) bench.network.add_node(id(i), 150.0);
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            const int at = r * side + c;
            if (c + 1 < side)
                bench.network.add_link(id(at), id(at + 1), LinkType::Fiber, 50.0, fidelity(random), rate(random));
            if (r + 1 < side)
                bench.network.add_link(id(at), id(at + side), LinkType::Fiber, 50.0, fidelity(random), rate(random));
        }
    return bench;
}

Bench random_geometric(int n, unsigned seed = 0) {
    Bench bench{"rgg " + std::to_string(n), {}, "", ""};
    const double side = 5000.0, radius = side * std::sqrt(8.0 / (M_PI * n));
    std::mt19937_64 random(seed ? seed : static_cast<unsigned>(n));
    std::uniform_real_distribution<double> coordinate(0, side), fidelity(0.75, 0.98), rate(50, 2000);
    std::vector<double> x(n), y(n);
    for (int i = 0; i < n; ++i) x[i] = coordinate(random), y[i] = coordinate(random);
    for (int i = 0; i < n; ++i) bench.network.add_node(id(i), 150.0);
    // Cells of one radius, so that linking stays near linear in n.
    const int cells = std::max(1, static_cast<int>(side / radius));
    auto cell = [&](double v) { return std::min(cells - 1, static_cast<int>(v / side * cells)); };
    std::vector<std::vector<int>> members(cells * cells);
    for (int i = 0; i < n; ++i) members[cell(x[i]) * cells + cell(y[i])].push_back(i);
    std::vector<int> component(n, -1);
    for (int i = 0; i < n; ++i) {
        const int cx = cell(x[i]), cy = cell(y[i]);
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) {
                if (cx + dx < 0 || cx + dx >= cells || cy + dy < 0 || cy + dy >= cells) continue;
                for (int j : members[(cx + dx) * cells + cy + dy]) {
                    const double km = std::hypot(x[i] - x[j], y[i] - y[j]);
                    if (j > i && km <= radius)
                        bench.network.add_link(id(i), id(j), LinkType::Fiber, km, fidelity(random), rate(random));
                }
            }
    }
    // End nodes: the nodes nearest two opposite corners within the largest connected part.
    std::vector<std::vector<int>> adjacent(n);
    for (const auto& link : bench.network.links()) {
        const int a = std::atoi(link.from.c_str() + 1), b = std::atoi(link.to.c_str() + 1);
        adjacent[a].push_back(b), adjacent[b].push_back(a);
    }
    std::vector<int> size;
    for (int i = 0; i < n; ++i) {
        if (component[i] >= 0) continue;
        const int label = static_cast<int>(size.size());
        size.push_back(0);
        std::vector<int> pending{i};
        component[i] = label;
        while (!pending.empty()) {
            const int at = pending.back();
            pending.pop_back();
            ++size[label];
            for (int next : adjacent[at])
                if (component[next] < 0) component[next] = label, pending.push_back(next);
        }
    }
    const int largest = static_cast<int>(std::max_element(size.begin(), size.end()) - size.begin());
    int low = -1, high = -1;
    for (int i = 0; i < n; ++i) {
        if (component[i] != largest) continue;
        if (low < 0 || x[i] + y[i] < x[low] + y[low]) low = i;
        if (high < 0 || x[i] + y[i] > x[high] + y[high]) high = i;
    }
    bench.from = id(low), bench.to = id(high);
    return bench;
}

Bench named(const std::string& name) {
    if (name.size() == 3 && name[0] == 'k') return complete_graph(std::atoi(name.c_str() + 1));
    if (name.rfind("eq", 0) == 0) return equal_complete_graph(std::atoi(name.c_str() + 2));
    if (name == "grid") return grid(20);
    if (name.rfind("rgg", 0) == 0) {
        const auto colon = name.find(':');
        return random_geometric(
            std::atoi(name.c_str() + 3),
            colon == std::string::npos ? 0 : static_cast<unsigned>(std::atoi(name.c_str() + colon + 1)));
    }
    std::fprintf(stderr, "unknown network %s\n", name.c_str());
    std::exit(2);
}

struct Deadline : Interruption {
    Clock::time_point end;
    bool requested() override { return Clock::now() >= end; }
};

// Median seconds of repeated searches on a graph built once, and of whole find_route calls
// (graph included); the full enumeration runs once, stopped at the cap.
void route_figures(const Bench& bench, double cap_seconds) {
    const long rss_before = peak_rss_kib();
    auto start = Clock::now();
    const RouteGraph graph = build_route_graph(bench.network);
    const double build_ms = seconds_since(start) * 1e3;
    std::printf("%s: %zu nodes, %zu links, %s -> %s; graph built in %.2f ms\n", bench.name.c_str(),
                bench.network.nodes().size(), bench.network.links().size(), bench.from.c_str(), bench.to.c_str(),
                build_ms);
    for (const Strategy& entry : kStrategies) {
        const StrategyType strategy = entry.type;
        std::vector<double> searches, calls;
        RouteSearch last;
        Deadline deadline;
        deadline.end =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(cap_seconds));
        bool stopped = false;
        const auto begin = Clock::now();
        auto more = [&] {
            const double elapsed = seconds_since(begin);
            return searches.empty() || (searches.size() < 1000 && elapsed < 0.3) ||
                   (searches.size() < 5 && elapsed < 2.0);
        };
        while (!stopped && more()) {
            try {
                start = Clock::now();
                last = search_routes(bench.network, graph, bench.from, bench.to, strategy, &deadline);
                searches.push_back(seconds_since(start));
                if (!last.bounded) continue;
                start = Clock::now();
                (void)search_routes(bench.network, bench.from, bench.to, strategy, &deadline);
                calls.push_back(seconds_since(start));
            } catch (const Interrupted&) {
                stopped = true;
            }
        }
        const std::string_view name = describe::member_name(strategy);
        std::printf("  %-15.*s ", static_cast<int>(name.size()), name.data());
        if (searches.empty()) {
            std::printf("search stopped after %.0f s\n", cap_seconds);
            continue;
        }
        std::sort(searches.begin(), searches.end());
        std::printf("%s %9.3f ms search", last.bounded ? "bounded   " : "enumerated",
                    searches[searches.size() / 2] * 1e3);
        if (!last.bounded) {
            std::printf(", %llu candidates, %.1f M candidates/s\n", static_cast<unsigned long long>(last.candidates),
                        static_cast<double>(last.candidates) / searches[searches.size() / 2] / 1e6);
            continue;
        }
        std::sort(calls.begin(), calls.end());
        std::printf(", %8.3f ms find_route; %llu candidates scored, %zu hops", calls[calls.size() / 2] * 1e3,
                    static_cast<unsigned long long>(last.candidates), last.route ? last.route->hop_links.size() : 0);
        deadline.end =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(cap_seconds));
        try {
            start = Clock::now();
            const RouteSearch full =
                search_routes(bench.network, graph, bench.from, bench.to, strategy, &deadline, RouteCuts::None);
            const double full_s = seconds_since(start);
            const bool same = full.route && last.route && full.route->path == last.route->path &&
                              full.route->fidelity == last.route->fidelity;
            std::printf("; full enumeration %.3f s, %llu candidates, x%.0f, %s\n", full_s,
                        static_cast<unsigned long long>(full.candidates), full_s / searches[searches.size() / 2],
                        same ? "same route" : "DIFFERENT ROUTE");
        } catch (const Interrupted&) {
            std::printf("; full enumeration stopped after %.0f s\n", cap_seconds);
        }
    }
    std::printf("  peak RSS %ld KiB before, %ld KiB after\n", rss_before, peak_rss_kib());
}

// HighestSuccess against its targets: a 14-node full mesh of equal figures under 10 ms, random
// geometric networks of 20 to 30 nodes (several draws of each) under a second, in CPU time (the
// machine is shared); with the estimate made before each search.
void success_figures() {
    struct Target {
        std::string network;
        double seconds;
    };
    std::vector<Target> targets = {{"eq14", 0.010}, {"k14", 0.010}};
    for (int n : {20, 25, 30})
        for (unsigned seed : {0u, 101u, 102u, 103u, 104u, 105u}) {
            std::string name = "rgg" + std::to_string(n);
            if (seed) name += ":" + std::to_string(seed);
            targets.push_back({name, 1.0});
        }
    for (const Target& target : targets) {
        const Bench bench = named(target.network);
        const RouteSearchEstimate estimate =
            estimate_route_search(bench.network, bench.from, bench.to, StrategyType::HighestSuccess);
        std::vector<double> times;
        RouteSearch search;
        const auto begin = Clock::now();
        do {
            const double start = cpu_seconds();
            search = search_routes(bench.network, bench.from, bench.to, StrategyType::HighestSuccess);
            times.push_back(cpu_seconds() - start);
        } while (times.size() < 5 && seconds_since(begin) < 3.0);
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        std::printf(
            "HighestSuccess %-10s %3zu nodes on paths, %4zu links%s: %9.3f CPU ms (target < %.0f, %s), "
            "%llu candidates, %zu hops\n",
            target.network.c_str(), estimate.nodes, estimate.links, estimate.likely_long ? ", estimated long" : "",
            median * 1e3, target.seconds * 1e3, median < target.seconds ? "met" : "MISSED",
            static_cast<unsigned long long>(search.candidates), search.route ? search.route->hop_links.size() : 0);
    }
}

// simulate() in core terms: one admission (the route) and then the trials, between a corner node
// and the node four hops along its route, so that the trials deliver.
void ensemble_figure(const Bench& bench, std::uint64_t runs) {
    const auto across = find_route(bench.network, bench.from, bench.to, StrategyType::LowestLatency);
    const std::string to = across->path[std::min<std::size_t>(4, across->path.size() - 1)];
    const SimulationConfig config = SimulationConfig::engine_default();
    const EntanglementRequest request{bench.from, to, 0.5, 1000.0, StrategyType::HighestFidelity};
    std::vector<double> totals;
    MonteCarloStats stats;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        stats = execute_ensemble(bench.network, config, request, runs, 1 + round);
        totals.push_back(seconds_since(start));
    }
    std::vector<double> routes;
    for (int round = 0; round < 5; ++round) {
        const auto start = Clock::now();
        (void)find_route(bench.network, bench.from, to, StrategyType::HighestFidelity);
        (void)find_route(bench.network, bench.from, to, StrategyType::LowestLatency);
        routes.push_back(seconds_since(start));
    }
    std::sort(totals.begin(), totals.end());
    std::sort(routes.begin(), routes.end());
    std::printf(
        "simulate on %s, %s -> %s, %llu runs: median %.1f ms in all, of which at most %.2f ms route "
        "(%.2f %%); success %.4f over %zu hops, mean latency %.2f ms\n",
        bench.name.c_str(), bench.from.c_str(), to.c_str(), static_cast<unsigned long long>(runs), totals[1] * 1e3,
        routes[2] * 1e3, 100 * routes[2] / totals[1], stats.empirical_success_rate,
        stats.link_utilization_heatmap.size(), stats.mean_latency_ms);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "once") == 0) {
        const Bench bench = named(argv[2]);
        const auto cuts = argc >= 5 && std::strcmp(argv[4], "none") == 0 ? RouteCuts::None : RouteCuts::Bounds;
        const RouteGraph graph = build_route_graph(bench.network);
        const RouteSearch search = search_routes(bench.network, graph, bench.from, bench.to,
                                                 static_cast<StrategyType>(std::atoi(argv[3])), nullptr, cuts);
        std::printf("%llu candidates, %zu hops\n", static_cast<unsigned long long>(search.candidates),
                    search.route ? search.route->hop_links.size() : 0);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "success") == 0) {
        success_figures();
        return 0;
    }
    const double cap = argc == 2 ? std::atof(argv[1]) : 10.0;
    if (argc > 2 || cap <= 0) {
        std::fprintf(stderr, "usage: %s [CAP_SECONDS] | success | once NETWORK STRATEGY [cuts|none]\n", argv[0]);
        return 2;
    }
    success_figures();
    ensemble_figure(random_geometric(1000), 100'000);
    for (int n = 11; n <= 14; ++n) route_figures(complete_graph(n), cap);
    route_figures(grid(20), cap);
    for (int n : {100, 1000, 10000}) route_figures(random_geometric(n), cap);
    return 0;
}
