// The physical model's ensembles: the waiting-time histogram, and shards that add up exactly.
#include "check.hpp"
#include "core/network.hpp"
#include "core/physics/ensemble.hpp"
#include "core/physics/report.hpp"

using namespace vorn::physics;
using vorn::LinkDefinition;
using vorn::NodeDefinition;

TEST_CASE("histogram bins are the top bits of the doubles: 128 per binade") {
    LogHistogram histogram;
    for (double x : {1.0, 1.0 + 0x1p-8, 1.0 + 0x1p-7, 2.0, 2.0, 0.0}) histogram.add(x);
    const std::uint32_t one = 0x3FF << 7;
    using Bins = std::vector<std::pair<std::uint32_t, std::uint64_t>>;
    CHECK(histogram.counts() == (Bins{{0, 1}, {one, 2}, {one + 1, 1}, {one + 128, 2}}));
}

TEST_CASE("an interval rounds once from the exact spread about the exact mean, as Python's statistics does") {
    // (values, mean, interval) from math.fsum and statistics.stdev: equal values whose mean rounds have no
    // spread, and a spread far below the values' size is not lost.
    const std::vector<std::tuple<std::vector<double>, double, double, double>> cases{
        {{1.0, 2.0, 3.0, 4.0}, 2.5, 1.23484868811834, 3.76515131188166},
        {{0.1, 0.1, 0.1}, 0.10000000000000002, 0.10000000000000002, 0.10000000000000002},
        {{1e16, 1e16 + 2, 1e16 + 4, 1e16 + 2}, 1.0000000000000002e+16, 1e+16, 1.0000000000000004e+16},
        {{0.1, 0.2, 0.30000000000000004, 1e-300}, 0.15000000000000002, 0.02348486881183401, 0.27651513118816606}};
    for (const auto& [values, mean, low, high] : cases) {
        const MeanInterval found = mean_interval(values);
        CHECK(found.mean == mean && found.interval == std::pair(low, high));
    }
    CHECK(std::isnan(mean_interval({}).mean) && std::isnan(mean_interval({2.0}).interval.first));
}

static std::vector<ChainOutcome> trials_of(const Chain& chain, const PhysicalModel& model, std::uint64_t runs,
                                           std::uint64_t seed) {
    std::vector<ChainOutcome> outcomes;
    for_each_trial(chain, model, runs, seed, nullptr, [&](const ChainOutcome& o) { outcomes.push_back(o); });
    return outcomes;
}

TEST_CASE("ensembles: shards over consecutive seeds add up to the whole, exactly") {
    PhysicalModel model;
    model.swap_success_probability = 0.7;
    model.cutoff_ms = 20.0;
    std::vector<NodeDefinition> nodes{{"A", 0.5}, {"B", 1.0}, {"C", 2.0}, {"D", 0.5}};
    std::vector<LinkDefinition> links(3);
    for (int i = 0; i < 3; ++i) {
        links[i].from = nodes[i].id;
        links[i].to = nodes[i + 1].id;
        links[i].distance_km = 40.0 + 10.0 * i;
        links[i].base_fidelity = 0.95;
        links[i].generation_rate_hz = 1000.0;
    }
    const Chain chain =
        chain_between(vorn::QuantumNetwork::from_definitions(nodes, links), links, "A", "D", std::nullopt, model);
    const std::uint64_t seed = ~std::uint64_t{0} - 500;  // the shards wrap around 2^64
    auto whole = run_ensemble(chain, model, 1000, seed);
    auto head = run_ensemble(chain, model, 333, seed);
    auto tail = run_ensemble(chain, model, 667, seed + 333);
    CHECK_EQ(whole->delivered, head->delivered + tail->delivered);
    head->waiting_time_ms.add(tail->waiting_time_ms);
    head->fidelity_squared.add(tail->fidelity_squared);
    CHECK(head->waiting_time_ms.units() == whole->waiting_time_ms.units());
    CHECK(head->fidelity_squared.units() == whole->fidelity_squared.units());

    const auto outcomes = trials_of(chain, model, 1000, seed);
    vorn::ExactSum waiting;
    for (const ChainOutcome& outcome : outcomes) waiting.add(outcome.waiting_time_ms);
    CHECK(waiting.units() == whole->waiting_time_ms.units());
}

CHECK_MAIN()
