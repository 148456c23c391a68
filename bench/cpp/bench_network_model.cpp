// Link-generation events per CPU-second of the network model on a random geometric network: 1,000 nodes
// in a square of 100 km, a link between every two within 6 km (fibre at 0.2 dB/km, detectors and
// coupling of efficiency 0.5, 1 MHz sources, fidelity 0.97), memories of T2 = 100 ms with a cut-off of
// 10 ms, one memory per link end, swaps succeeding with probability 0.9; 100 saturated demands between
// random nodes along their fewest-hop routes, each with at most one request in progress.
//
//   bench_network_model [NETWORK_MS [RUNS]]   (default 1000 ms, best of 3 runs)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>

#include "core/physics/network_model.hpp"
#include "process_clocks.hpp"

using namespace vorn;
using namespace vorn::physics;
using namespace vorn::bench;

namespace {

constexpr std::size_t kNodes = 1000, kDemands = 100;
constexpr double kSideKm = 100.0, kReachKm = 6.0;

struct Scenario {
    NetworkFigures network;
    std::vector<Demand> demands;
};

// The fewest-hop route from `from` to `to` (empty when none), by breadth-first search.
Demand route(const NetworkFigures& network, const std::vector<std::vector<std::uint32_t>>& links_at, std::uint32_t from,
             std::uint32_t to) {
    std::vector<std::int64_t> via(kNodes, -1);  // the link by which a node was reached
    std::deque<std::uint32_t> frontier{from};
    via[from] = static_cast<std::int64_t>(network.links.size());
    while (!frontier.empty() && via[to] < 0) {
        const std::uint32_t node = frontier.front();
        frontier.pop_front();
        for (std::uint32_t link : links_at[node]) {
            const std::uint32_t next = network.links[link].a == node ? network.links[link].b : network.links[link].a;
            if (via[next] >= 0) continue;
            via[next] = link;
            frontier.push_back(next);
        }
    }
    Demand demand{{}, {}, 0.0, 1};
    if (via[to] < 0) return demand;
    for (std::uint32_t node = to; node != from;) {
        const NetworkLink& link = network.links[static_cast<std::size_t>(via[node])];
        demand.nodes.push_back(node);
        demand.links.push_back(static_cast<std::uint32_t>(via[node]));
        node = link.a == node ? link.b : link.a;
    }
    demand.nodes.push_back(from);
    std::reverse(demand.nodes.begin(), demand.nodes.end());
    std::reverse(demand.links.begin(), demand.links.end());
    return demand;
}

Scenario random_geometric() {
    std::mt19937_64 draws(2026);
    const auto uniform = [&] { return static_cast<double>(draws() >> 11) * 0x1p-53; };
    std::vector<double> x(kNodes), y(kNodes);
    for (std::size_t k = 0; k < kNodes; ++k) x[k] = kSideKm * uniform(), y[k] = kSideKm * uniform();
    Scenario scenario;
    NetworkFigures& network = scenario.network;
    network.decay_per_ms.assign(kNodes, 1.0 / 100.0);
    network.memories.assign(kNodes, 0);
    std::vector<std::vector<std::uint32_t>> links_at(kNodes);
    for (std::uint32_t a = 0; a < kNodes; ++a)
        for (std::uint32_t b = a + 1; b < kNodes; ++b) {
            const double km = std::hypot(x[a] - x[b], y[a] - y[b]);
            if (km > kReachKm) continue;
            links_at[a].push_back(static_cast<std::uint32_t>(network.links.size()));
            links_at[b].push_back(static_cast<std::uint32_t>(network.links.size()));
            network.links.push_back({a, b, 0.5 * std::pow(10.0, -0.02 * km), km, 1e-3, 0.97});
            ++network.memories[a], ++network.memories[b];
        }
    while (scenario.demands.size() < kDemands) {
        const auto from = static_cast<std::uint32_t>(draws() % kNodes),
                   to = static_cast<std::uint32_t>(draws() % kNodes);
        if (from == to) continue;
        Demand demand = route(network, links_at, from, to);
        if (!demand.links.empty()) scenario.demands.push_back(std::move(demand));
    }
    return scenario;
}

}  // namespace

int main(int argc, char** argv) {
    const double network_ms = argc > 1 ? std::atof(argv[1]) : 1000.0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const Scenario scenario = random_geometric();
    std::size_t hops = 0;
    for (const Demand& demand : scenario.demands) hops += demand.links.size();
    PhysicalModel parameters;
    parameters.swap_success_probability = 0.9;
    parameters.cutoff_ms = 10.0;
    NetworkModel model(scenario.network, scenario.demands, parameters, Policy::Fifo);
    std::printf("%zu nodes, %zu links, %zu demands of %.1f hops on average, %g ms of network time\n", kNodes,
                model.links(), scenario.demands.size(), static_cast<double>(hops) / kDemands, network_ms);
    InterruptionPoll poll(nullptr, 1 << 20);
    double best = 0.0;
    for (int round = 0; round < runs; ++round) {
        double seconds = 0.0, events = 0.0, delivered = 0.0, discarded = 0.0, lost = 0.0;
        const double start = cpu_seconds();
        run_network(
            model, network_ms, 1 + static_cast<std::uint64_t>(round), 1, poll, [&](const NetworkOutcome& outcome) {
                seconds = cpu_seconds() - start;
                for (const LinkTally& link : outcome.links)
                    events += static_cast<double>(link.generated), discarded += static_cast<double>(link.discarded),
                        lost += static_cast<double>(link.lost);
                for (const DemandTally& demand : outcome.demands)
                    delivered += static_cast<double>(demand.waiting_ms.size());
            });
        best = std::max(best, events / seconds);
        std::printf(
            "run %d: %.0f link-generation events (%.0f discarded, %.0f lost), %.0f pairs delivered, %.3f "
            "CPU-s: %.3g events per CPU-second, %.3g CPU-s per network-second\n",
            round, events, discarded, lost, delivered, seconds, events / seconds, seconds / (network_ms / 1000.0));
    }
    std::printf("best: %.3g link-generation events per CPU-second\n", best);
    return 0;
}
