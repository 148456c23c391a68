// Core throughput: ensemble trials, candidates of the full route enumeration and single requests
// per second. (bench_routes measures the bounded route search.)
//
//   bench_core               all three figures
//   bench_core trials N      one ensemble of N trials on the repeater chain and nothing else,
//                            for `valgrind --tool=callgrind bench_core trials N`
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/engine.hpp"
#include "core/ensemble.hpp"
#include "core/routing.hpp"

using namespace vorn;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long peak_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// N0 - N1 - N2 - N3, 100 km links of fidelity 0.92 at 800 Hz.
Engine repeater_chain() {
    Engine engine;
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    for (int i = 0; i < 4; ++i) nodes.push_back({"N" + std::to_string(i), 1.0});
    for (int i = 0; i < 3; ++i)
        links.push_back(
            {"N" + std::to_string(i), "N" + std::to_string(i + 1), 100.0, 0.92, 800.0, LinkType::Fiber, {}});
    engine.define_network(nodes, links);
    return engine;
}

const EntanglementRequest kChainRequest{"N0", "N3", 0.8, 100.0, {}};

void ensemble_figure() {
    const Engine engine = repeater_chain();
    const std::uint64_t runs = 1'000'000;
    std::vector<double> rates;
    MonteCarloStats stats;
    for (int round = 0; round < 5; ++round) {
        const auto start = Clock::now();
        stats = execute_ensemble(*engine.network(), engine.config(), kChainRequest, runs, 1 + round);
        rates.push_back(static_cast<double>(runs) / seconds_since(start));
    }
    std::sort(rates.begin(), rates.end());
    std::printf(
        "ensemble, repeater chain, 1M trials: median %.2f M trials/s (min %.2f, max %.2f); "
        "success %.4f, mean latency %.3f ms, drops %llu\n",
        rates[2] / 1e6, rates[0] / 1e6, rates[4] / 1e6, stats.empirical_success_rate, stats.mean_latency_ms,
        static_cast<unsigned long long>(stats.aggregate_congestion_drops));
}

QuantumNetwork complete_graph(int n) {
    QuantumNetwork network;
    for (int i = 0; i < n; ++i) network.add_node("K" + std::to_string(i), 1.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            network.add_link("K" + std::to_string(i), "K" + std::to_string(j), LinkType::Fiber, 10.0 + (i * j) % 7,
                             0.9 + 0.01 * ((i + j) % 5), 1000.0);
    return network;
}

void route_figure() {
    for (int n = 8; n <= 11; ++n) {
        const QuantumNetwork network = complete_graph(n);
        const long rss_before = peak_rss_kib();
        for (auto strategy :
             {StrategyType::LowestLatency, StrategyType::HighestFidelity, StrategyType::HighestSuccess}) {
            const auto start = Clock::now();
            std::uint64_t candidates = 0;
            int searches = 0;
            do {
                candidates += search_routes(network, build_route_graph(network), "K0", "K" + std::to_string(n - 1),
                                            strategy, nullptr, RouteCuts::None)
                                  .candidates;
                ++searches;
            } while (seconds_since(start) < 0.3);
            const double elapsed = seconds_since(start);
            std::printf("route search K%-2d strategy %d: %9llu candidates/search, %.1f M candidates/s\n", n,
                        static_cast<int>(strategy), static_cast<unsigned long long>(candidates / searches),
                        static_cast<double>(candidates) / elapsed / 1e6);
        }
        std::printf("route search K%-2d peak RSS %ld KiB before, %ld KiB after\n", n, rss_before, peak_rss_kib());
    }
}

void request_figure() {
    const Engine engine = repeater_chain();
    const auto start = Clock::now();
    std::uint64_t calls = 0, successes = 0;
    do {
        for (int i = 0; i < 1000; ++i) successes += engine.request_entanglement(kChainRequest).success;
        calls += 1000;
    } while (seconds_since(start) < 1.0);
    std::printf("request_entanglement, repeater chain: %.0f k calls/s (%llu of %llu succeeded)\n",
                static_cast<double>(calls) / seconds_since(start) / 1e3, static_cast<unsigned long long>(successes),
                static_cast<unsigned long long>(calls));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "trials") == 0) {
        const Engine engine = repeater_chain();
        const auto runs = std::strtoull(argv[2], nullptr, 10);
        const MonteCarloStats stats = execute_ensemble(*engine.network(), engine.config(), kChainRequest, runs, 7);
        std::printf("%llu trials, success %.4f\n", static_cast<unsigned long long>(runs), stats.empirical_success_rate);
        return 0;
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s [trials N]\n", argv[0]);
        return 2;
    }
    ensemble_figure();
    route_figure();
    request_figure();
    return 0;
}
