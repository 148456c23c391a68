// Timeline outcomes on small routes whose draws are chosen by picking seeds, and the figures of the documented
// examples. Refusals a caller sees (no route, a route to itself, bounds that are not positive) are tested from Python;
// the stepping of the clock against the rules stepped literally, in test_cycles.cpp.
#include <cmath>
#include <limits>
#include <optional>
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

std::uint64_t failures(std::uint64_t seed, const std::vector<double>& probability, std::uint64_t cycles) {
    RequestGenerator generator = fixtures::seeded(seed);
    std::uint64_t failed = 0;
    for (std::uint64_t c = 0; c < cycles; ++c)
        for (double p : probability) failed += !(fixtures::next_uniform(generator) < p);
    return failed;
}

const fixtures::Links kWorked = {{"A", "M", 50, 0.9}, {"M", "Z", 50, 0.9}};
const fixtures::Links kNameClash = {{"a", "b->c", 0, 0.99}, {"b->c", "a->b", 0, 0.99}, {"a->b", "c", 0, 0.99}};
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
        Heatmap utilisation;
        std::optional<std::uint64_t> drops;  // absent: every failure among the cycles' draws
    } cases[] = {
        {"worked example, both pairs arrive", kWorked, {"A", "Z", 0.8, 10.0, {}}, config_with(0.12), {true, true},
         {false, false}, {true, 0.0, purify(worked_f, 0.12), {"A", "M", "Z"}}, {{"A->M", 1}, {"M->Z", 1}}, 0},
        {"worked example, one pair lost", kWorked, {"A", "Z", 0.8, 10.0, {}}, config_with(0.12), {true, true},
         {false, true}, {true, 0.0, worked_f, {"A", "M", "Z"}}, {{"A->M", 1}, {"M->Z", 1}}, 0},
        {"worked example, an attempt fails", kWorked, {"A", "Z", 0.8, 10.0, {}}, config_with(0.12), {true, false},
         {}, {false, 10.0, 0.0, {"A", "M", "Z"}}, {{"A->M", 4}, {"M->Z", 4}}, {}},
        {"one link, purified once, losses ignored", {{"A", "B", 10, 0.7}}, {"A", "B", 0.8, 10.0, {}}, config_with(0.12),
         {true}, {true}, {true, 0.85, purify(0.7, 0.12), {"A", "B"}}, {{"A->B", 1}}, 0},
        {"one link at 0.5 is never purified", {{"A", "B", 10, 0.5}}, {"A", "B", 0.7, 10.0, {}}, config_with(0.12),
         {true}, {}, {false, 10.0, 0.0, {"A", "B"}}, {{"A->B", 4}}, {}},
        {"fidelity route below target falls back to the latency route", kFallback,
         {"A", "B", 0.9, 100.0, StrategyType::HighestFidelity}, config_with(0.12), {}, {},
         {false, 0.0, 0.0, {"A", "C", "B"}}, {}, 0},
        {"absent strategy falls back too", kFallback, {"A", "B", 0.9, 100.0, {}}, config_with(0.12), {}, {},
         {false, 0.0, 0.0, {"A", "C", "B"}}, {}, 0},
        {"propagation delay above the bound", {{"A", "M", 100, 0.9}, {"M", "Z", 100, 0.9}}, {"A", "Z", 0.8, 0.5, {}},
         config_with(0.12), {}, {}, {false, 1.0, 0.0, {"A", "M", "Z"}}, {}, 0},
        {"zero cut-off", {{"A", "B", 0, 0.9}}, {"A", "B", 0.8, 10.0, {}}, config_with(0.12, 0.0), {}, {},
         {false, 0.0, 0.0, {"A", "B"}}, {}, 0},
        {"negative factor: purification time accumulates until the bound", kZero, {"A", "Z", 0.9, 10.0, {}},
         config_with(-0.1), {true, true, true, true, true, true}, {false, false, false, true, false, false},
         {false, sum_10_05, 0.0, {"A", "M", "Z"}}, {{"A->M", 3}, {"M->Z", 3}}, 0},
        {"negative factor: target missed at the bound", kZero, {"A", "Z", 0.9, 4.0, {}}, config_with(-0.1),
         {true, true, true, true}, {false, false, false, false}, {false, 0.0 + 0.85 + 2.5 + 0.85, 0.0, {"A", "M", "Z"}},
         {{"A->M", 2}, {"M->Z", 2}}, 0},
        {"hop keys that read alike are counted together", kNameClash, {"a", "c", 0.9, 10.0, {}}, config_with(0.12),
         {false}, {}, {false, 10.0, 0.0, {"a", "b->c", "a->b", "c"}}, {{"a->b->c", 8}, {"b->c->a->b", 4}}, {}},
        {"unreachable bounds end at the cycle cap", kWorked, {"A", "Z", 0.8, kInf, {}}, config_with(0.12, kInf),
         {false}, {}, {false, 2.5 * kMaxCyclesPerRequest, 0.0, {"A", "M", "Z"}},
         {{"A->M", kMaxCyclesPerRequest}, {"M->Z", kMaxCyclesPerRequest}}, {}},
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
        const std::uint64_t cycles = c.utilisation.empty() ? 0 : c.utilisation.back().second;
        CHECK_FOR(c.name, fixtures::same_result(r, c.expected));
        CHECK_FOR(c.name, policy.link_utilization == c.utilisation);
        CHECK_FOR(c.name, runtime.congestion_drops == (c.drops ? *c.drops : failures(seed, probability, cycles)));
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
