// Ensemble statistics: the fast trial loop against the timeline run trial by trial, and the engine's simulate.
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "fixtures.hpp"
#include "core/engine.hpp"
#include "core/ensemble.hpp"
#include "core/timeline.hpp"

using namespace vorn;

namespace {

const double kInf = std::numeric_limits<double>::infinity();

struct Scenario {
    std::string name;
    QuantumNetwork network;
    EntanglementRequest request;
    SimulationConfig config;
    std::uint64_t runs;
    std::uint64_t seed;
};

QuantumNetwork chain(int nodes, double km, double fidelity) {
    QuantumNetwork network;
    for (int i = 0; i < nodes; ++i) network.add_node("N" + std::to_string(i), 1.0);
    for (int i = 0; i + 1 < nodes; ++i)
        network.add_link("N" + std::to_string(i), "N" + std::to_string(i + 1), LinkType::Fiber, km, fidelity, 800.0);
    return network;
}

using fixtures::config_with;

// The ensemble the plain way: one fresh policy, runtime and seeded generator per trial, and the
// results summed trial after trial.
MonteCarloStats trial_by_trial(const Scenario& s, LossGenerator& losses) {
    std::uint64_t successes = 0;
    double fidelity_sum = 0.0, latency_sum = 0.0;
    MonteCarloStats stats;
    for (std::uint64_t i = 0; i < s.runs; ++i) {
        NetworkOrchestratorPolicy policy(s.config);
        SimulationRuntime runtime;
        const RequestGenerator generator = RequestGenerator::from_seed(s.seed + i);
        const SimulationResult result =
            policy.coordinate_timeline(s.network, runtime, s.request, &generator, nullptr, &losses);
        if (result.success) ++successes, fidelity_sum += result.final_fidelity;
        latency_sum += result.latency_ms;
        stats.aggregate_congestion_drops += runtime.congestion_drops;
        for (const auto& [key, count] : policy.link_utilization) {
            auto found = std::find_if(stats.link_utilization_heatmap.begin(), stats.link_utilization_heatmap.end(),
                                      [&](const auto& entry) { return entry.first == key; });
            if (found == stats.link_utilization_heatmap.end())
                found = stats.link_utilization_heatmap.insert(found, {key, 0});
            found->second += count;
        }
    }
    stats.total_runs = s.runs;
    stats.empirical_success_rate = static_cast<double>(successes) / static_cast<double>(s.runs);
    stats.mean_latency_ms = latency_sum / static_cast<double>(s.runs);
    stats.mean_fidelity = successes ? fidelity_sum / static_cast<double>(successes) : 0.0;
    return stats;
}

bool identical(const MonteCarloStats& a, const MonteCarloStats& b) {
    return a.total_runs == b.total_runs && check::same_double(a.empirical_success_rate, b.empirical_success_rate) &&
           check::same_double(a.mean_latency_ms, b.mean_latency_ms) &&
           check::same_double(a.mean_fidelity, b.mean_fidelity) &&
           a.aggregate_congestion_drops == b.aggregate_congestion_drops &&
           a.link_utilization_heatmap == b.link_utilization_heatmap;
}

void check_equivalent(const Scenario& s) {
    LossGenerator fast_losses(s.seed ^ 0x5eed), slow_losses(s.seed ^ 0x5eed);
    const MonteCarloStats fast = execute_ensemble(s.network, s.config, s.request, s.runs, s.seed, nullptr, &fast_losses);
    const MonteCarloStats slow = trial_by_trial(s, slow_losses);
    if (!identical(fast, slow)) check::fail(__FILE__, __LINE__, s.name + ": ensemble differs from trial-by-trial");
    if (fast_losses.next() != slow_losses.next()) check::fail(__FILE__, __LINE__, s.name + ": loss draws differ");
}

QuantumNetwork with_links(std::vector<std::tuple<const char*, const char*, double, double>> links) {
    QuantumNetwork network;
    for (auto& [a, b, km, f] : links) network.add_node(a, 1.0), network.add_node(b, 1.0);
    for (auto& [a, b, km, f] : links) network.add_link(a, b, LinkType::Fiber, km, f, 800.0);
    return network;
}

}  // namespace

TEST_CASE("the ensemble equals the timeline run trial by trial, bit for bit") {
    const auto engine = SimulationConfig::engine_default();
    const Scenario scenarios[] = {
        {"repeater chain", chain(4, 100, 0.92), {"N0", "N3", 0.8, 100.0, {}}, engine, 3000, 12345},
        {"two nodes", chain(2, 250, 0.7), {"N0", "N1", 0.8, 30.0, {}}, engine, 500, 1},
        {"two nodes at 0.5, never purified", chain(2, 10, 0.5), {"N0", "N1", 0.7, 20.0, {}}, engine, 100, 2},
        {"to itself", chain(2, 1, 0.9), {"N1", "N1", 1.0, 5.0, {}}, engine, 20, 3},
        {"no route", chain(2, 1, 0.9), {"N0", "X", 0.8, 5.0, {}}, engine, 20, 3},
        {"refused: fidelity", chain(2, 1, 0.3), {"N0", "N1", 0.9, 5.0, {}}, engine, 20, 3},
        {"refused: propagation", chain(3, 300, 0.9), {"N0", "N2", 0.8, 1.0, {}}, engine, 20, 3},
        {"refused: zero bound", chain(3, 0, 0.9), {"N0", "N2", 0.8, 0.0, {}}, engine, 20, 3},
        {"negative purify factor", chain(3, 0, 0.95), {"N0", "N2", 0.9, 20.0, {}}, config_with(-0.1), 300, 8},
        {"cut-off below the bound", chain(5, 60, 0.97), {"N0", "N4", 0.85, 100.0, {}}, config_with(0.12, 12.0), 300, 4},
        {"seeds wrap past 2^64", chain(4, 100, 0.92), {"N0", "N3", 0.8, 100.0, {}}, engine, 19, ~std::uint64_t{0} - 4},
        {"hop keys that read alike", with_links({{"a", "b->c", 5, 0.99}, {"b->c", "a->b", 5, 0.99}, {"a->b", "c", 5, 0.99}}),
         {"a", "c", 0.9, 10.0, {}}, engine, 200, 9},
        {"fallback route", with_links({{"A", "B", 100, 0.6}, {"A", "C", 1, 0.8}, {"C", "B", 1, 0.8}}),
         {"A", "B", 0.7, 50.0, StrategyType::HighestFidelity}, engine, 200, 10},
        {"unreachable bounds", chain(3, 100, 0.92), {"N0", "N2", 0.8, kInf, {}}, config_with(0.12, kInf), 3, 77},
        {"zero runs", chain(3, 100, 0.92), {"N0", "N2", 0.8, 10.0, {}}, engine, 0, 0},
    };
    for (const auto& s : scenarios) check_equivalent(s);

    std::mt19937_64 random(99);
    auto uniform = [&](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
    const double factors[] = {-0.1, 0.0, 0.022, 0.12};
    const double bounds[] = {1.0, 4.0, 10.0, 40.0};
    for (int i = 0; i < 150; ++i) {
        const int nodes = 1 + static_cast<int>(random() % 6);
        QuantumNetwork network;
        for (int n = 0; n < nodes; ++n) network.add_node("N" + std::to_string(n), 1.0);
        for (int n = 0; n + 1 < nodes; ++n)
            network.add_link("N" + std::to_string(n), "N" + std::to_string(n + 1), LinkType::Fiber, uniform(0, 300),
                             uniform(0.5, 1.0), 800.0);
        const EntanglementRequest request{"N0", "N" + std::to_string(nodes - 1), uniform(0.5, 1.0), bounds[random() % 4],
                                          StrategyType::LowestLatency};
        check_equivalent({"random " + std::to_string(i), network, request, config_with(factors[random() % 4], random() % 3 ? 5000.0 : 6.0),
                          40, random()});
    }
}

TEST_CASE("statistics of degenerate ensembles") {
    const auto engine = SimulationConfig::engine_default();
    const MonteCarloStats none = execute_ensemble(chain(3, 10, 0.9), engine, {"N0", "N2", 0.8, 10.0, {}}, 0, 1);
    CHECK(std::isnan(none.empirical_success_rate) && std::isnan(none.mean_latency_ms));
    CHECK(check::same_double(none.mean_fidelity, 0.0));
    CHECK(none.aggregate_congestion_drops == 0 && none.link_utilization_heatmap.empty() && !none.context);

    const MonteCarloStats unrouted = execute_ensemble(chain(3, 10, 0.9), engine, {"N0", "Q", 0.8, 10.0, {}}, 50, 1);
    CHECK(unrouted.empirical_success_rate == 0.0 && unrouted.mean_latency_ms == 0.0 && unrouted.mean_fidelity == 0.0);
    CHECK(unrouted.aggregate_congestion_drops == 0 && unrouted.link_utilization_heatmap.empty());

    // Forty hops at p = 0.683: every trial fails in its first cycle and runs to the bound.
    const MonteCarloStats doomed = execute_ensemble(chain(41, 0, 0.0), engine, {"N0", "N40", 0.99, 7.0, {}}, 100, 5);
    CHECK(doomed.empirical_success_rate == 0.0 && doomed.mean_latency_ms == 7.5);
    CHECK(doomed.link_utilization_heatmap.size() == 40 && doomed.link_utilization_heatmap[0].second == 300);
    CHECK(doomed.link_utilization_heatmap[0].first == "N0->N1");
}

TEST_CASE("an interruption ends a long ensemble") {
    struct Stop : Interruption {
        bool requested() override { return true; }
    } stop;
    bool interrupted = false;
    try {
        execute_ensemble(chain(4, 100, 0.92), SimulationConfig::engine_default(), {"N0", "N3", 0.8, kInf, {}}, 1000000, 1,
                         &stop);
    } catch (const Interrupted&) {
        interrupted = true;
    }
    CHECK(interrupted);
}

TEST_CASE("simulate records its context and repeats under a seed") {
    Engine engine;
    engine.define_network({{"B", 2.0}, {"A", 1.0}, {"B", 3.0}},
                          {{"A", "B", 50.0, 0.9, 800.0, LinkType::Satellite, SatelliteConditions{0.5, 0.5}}});
    const EntanglementRequest request{"A", "B", 0.85, 25.0, StrategyType::HighestSuccess};
    const MonteCarloStats seeded = engine.simulate(request, 300, 42);
    CHECK(identical(seeded, execute_ensemble(*engine.network(), engine.config(), request, 300, 42)));
    CHECK(identical(seeded, engine.simulate(request, 300, 42)));
    const MonteCarloContext& context = *seeded.context;
    CHECK(context.seed == std::optional<std::uint64_t>(42));
    CHECK(context.nodes == (std::vector<NodeDefinition>{{"B", 3.0}, {"A", 1.0}}));
    CHECK(context.links == (std::vector<LinkFigures>{{"A", "B", 50.0, 0.9, 800.0}}));
    CHECK(context.from_node == "A" && context.to_node == "B" && context.fidelity_target == 0.85);
    CHECK(context.max_latency_ms == 25.0 && context.strategy == StrategyType::HighestSuccess);
    CHECK(context.total_time_cutoff_ms == 5000.0 && context.step_resolution_ms == 0.1);
    CHECK(context.baseline_purify_factor == 0.12);
    const MonteCarloStats unseeded = engine.simulate({"A", "B", 0.85, 25.0, {}}, 10, std::nullopt);
    CHECK(!unseeded.context->seed && !unseeded.context->strategy);
    CHECK(clock_seed() > 1'600'000'000'000'000'000ull);
}

CHECK_MAIN()
