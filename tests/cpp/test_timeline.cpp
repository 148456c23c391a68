// Timeline outcomes on small routes whose draws are chosen by picking seeds, and the figures of the documented
// examples: the fixed points the literal rules of test_cycles.cpp are anchored to. Route admission (fallback,
// propagation, cut-off) is checked only here, since the literal rules admit a request as the timeline does.
// Refusals a caller sees (no route, a route to itself, bounds that are not positive) are tested from Python.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "check.hpp"
#include "fixtures.hpp"
#include "core/cycles.hpp"
#include "core/timeline.hpp"

using namespace vorn;
using fixtures::config_with;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The first seed whose first draws succeed (true) or fail against the given probabilities, in order.
std::uint64_t seed_with_attempts(const std::vector<double>& probability, const std::vector<bool>& succeed) {
    for (std::uint64_t seed = 0;; ++seed) {
        RequestGenerator generator = fixtures::seeded(seed);
        bool matches = true;
        for (std::size_t i = 0; i < succeed.size() && matches; ++i)
            matches = (fixtures::next_uniform(generator) < probability[i % probability.size()]) == succeed[i];
        if (matches) return seed;
    }
}

// A loss generator whose first draws lose (true) or deliver a pair, in order.
LossGenerator losses_with(const std::vector<bool>& lost) {
    for (std::uint64_t seed = 0;; ++seed) {
        LossGenerator probe(seed);
        bool matches = true;
        for (bool l : lost) matches = matches && ((probe.next() < kLossProbability) == l);
        if (matches) return LossGenerator(seed);
    }
}

const fixtures::Links kWorked = {{"A", "M", 50, 0.9}, {"M", "Z", 50, 0.9}};
const fixtures::Links kFallback = {{"A", "B", 100, 0.6}, {"A", "C", 1, 0.7}, {"C", "B", 1, 0.7}};
const fixtures::Links kZero = {{"A", "M", 0, 0.95}, {"M", "Z", 0, 0.95}};

}  // namespace

TEST_CASE("outcomes of single requests") {
    const double worked_f = 1.0 * 0.9 * 0.9;
    const double sum_10_05 = 0.0 + 0.85 + 2.5 + 0.85 + 2.5 + 0.85 + 2.5;
    const struct {
        const char* name;
        fixtures::Links hops;  // in path order
        EntanglementRequest request;
        SimulationConfig config;
        std::vector<bool> attempts;  // the first draws: success or failure
        std::vector<bool> lost;      // the first loss draws
        SimulationResult expected;
        Heatmap utilisation;  // congestion drops are counted per attempt as test_cycles.cpp steps them
    } cases[] = {
        {"worked example, both pairs arrive", kWorked, {"A", "Z", 0.8, 10.0, {}}, config_with(0.12), {true, true},
         {false, false}, {true, 0.0, purify(worked_f, 0.12), {"A", "M", "Z"}}, {{"A->M", 1}, {"M->Z", 1}}},
        {"worked example, one pair lost", kWorked, {"A", "Z", 0.8, 10.0, {}}, config_with(0.12), {true, true},
         {false, true}, {true, 0.0, worked_f, {"A", "M", "Z"}}, {{"A->M", 1}, {"M->Z", 1}}},
        {"worked example, an attempt fails", kWorked, {"A", "Z", 0.8, 10.0, {}}, config_with(0.12), {true, false},
         {}, {false, 10.0, 0.0, {"A", "M", "Z"}}, {{"A->M", 4}, {"M->Z", 4}}},
        {"one link, purified once, losses ignored", {{"A", "B", 10, 0.7}}, {"A", "B", 0.8, 10.0, {}}, config_with(0.12),
         {true}, {true}, {true, 0.85, purify(0.7, 0.12), {"A", "B"}}, {{"A->B", 1}}},
        {"fidelity route below target falls back to the latency route", kFallback,
         {"A", "B", 0.9, 100.0, StrategyType::HighestFidelity}, config_with(0.12), {}, {},
         {false, 0.0, 0.0, {"A", "C", "B"}}, {}},
        {"propagation delay above the bound", {{"A", "M", 100, 0.9}, {"M", "Z", 100, 0.9}}, {"A", "Z", 0.8, 0.5, {}},
         config_with(0.12), {}, {}, {false, 1.0, 0.0, {"A", "M", "Z"}}, {}},
        {"zero cut-off", {{"A", "B", 0, 0.9}}, {"A", "B", 0.8, 10.0, {}}, config_with(0.12, 0.0), {}, {},
         {false, 0.0, 0.0, {"A", "B"}}, {}},
        {"negative factor: purification time accumulates until the bound", kZero, {"A", "Z", 0.9, 10.0, {}},
         config_with(-0.1), {true, true, true, true, true, true}, {false, false, false, true, false, false},
         {false, sum_10_05, 0.0, {"A", "M", "Z"}}, {{"A->M", 3}, {"M->Z", 3}}},
        {"unreachable bounds end at the cycle cap", kWorked, {"A", "Z", 0.8, kInf, {}}, config_with(0.12, kInf),
         {false}, {}, {false, 2.5 * kMaxCyclesPerRequest, 0.0, {"A", "M", "Z"}},
         {{"A->M", kMaxCyclesPerRequest}, {"M->Z", kMaxCyclesPerRequest}}},
    };
    for (const auto& c : cases) {
        std::vector<double> probability;
        for (const auto& [a, b, km, f] : c.hops) probability.push_back(attempt_success_probability(km, f, c.request.fidelity_target));
        const std::uint64_t seed = seed_with_attempts(probability, c.attempts);
        const RequestGenerator generator = fixtures::seeded(seed);
        LossGenerator::for_this_thread() = losses_with(c.lost);
        NetworkOrchestratorPolicy policy(c.config);
        SimulationRuntime runtime;
        const SimulationResult r = policy.coordinate_timeline(fixtures::network_of(c.hops), runtime, c.request, &generator);
        CHECK_FOR(c.name, fixtures::same_result(r, c.expected) && policy.link_utilization == c.utilisation);
    }
}

TEST_CASE("attempt probabilities and purification of the documented examples") {
    const struct { double km, fidelity, target, expected, tolerance; } attempts[] = {
        {50, 0.9, 0.8, 0.95, 1e-15}, {100, 0.7, 0.8, 0.8575, 1e-15}, {0, 0.9, 0.9, 0.98, 0}, {1000, 0.5, 0.9, 0.5081, 1e-4},
        {kNaN, 0.9, 0.8, 0.5, 0}, {1e9, 0.0, 1.0, 0.5, 0},
    };
    for (const auto& a : attempts)
        CHECK(std::fabs(attempt_success_probability(a.km, a.fidelity, a.target) - a.expected) <= a.tolerance);
    const struct { double fidelity, factor, expected, tolerance; } purifications[] = {
        {0.81, 0.12, 0.9855, 1e-4}, {0.9, 0.0, 0.9311, 1e-4}, {0.5, 0.12, 0.745, 1e-3}, {1.0, 0.12, 0.999, 0},
        {0.0, 0.12, 0.999, 0}, {-0.5, 0.12, 0.5, 0}, {kNaN, 0.12, 0.5, 0}, {0.9, kNaN, 0.999, 0},
    };
    for (const auto& p : purifications) CHECK(std::fabs(purify(p.fidelity, p.factor) - p.expected) <= p.tolerance);
}

CHECK_MAIN()
