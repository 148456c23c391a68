// A prepared request run under a bound against the timeline run on the same request, and the
// saturating key-length conversion of key distribution.
#include "check.hpp"
#include "core/engine.hpp"
#include "core/prepared_request.hpp"
#include "core/saturating_count.hpp"
#include "fixtures.hpp"
#include "timeline.hpp"

using namespace vorn;
using fixtures::chain;
using fixtures::config_with;

static bool same_state(LossGenerator a, LossGenerator b) { return a.next() == b.next() && a.next() == b.next(); }

// One preparation serves every bound; each run must match a fresh timeline run draw for draw, loss
// draws included, and the short form must agree with it. The request's own bound is not read.
static void check_against_timeline(const std::string& name, const QuantumNetwork& network,
                                   const EntanglementRequest& request, const SimulationConfig& config,
                                   const std::vector<double>& bounds) {
    LossGenerator& thread_losses = LossGenerator::for_this_thread();
    const PreparedRequest prepared(network, TimelineSettings::from_config(config), request);
    for (double bound : bounds) {
        EntanglementRequest bounded = request;
        bounded.max_latency_ms = bound;
        const LossGenerator start = thread_losses;
        NetworkOrchestratorPolicy policy(config);
        SimulationRuntime runtime;
        const SimulationResult expected = policy.coordinate_timeline(network, runtime, bounded);
        const LossGenerator after_timeline = thread_losses;

        thread_losses = start;
        InterruptionPoll poll(nullptr, kWorkPerClockCheck);
        const SimulationResult got = prepared.run(bound, thread_losses, poll);
        const LossGenerator after_run = thread_losses;
        thread_losses = start;
        const PreparedRequest::Outcome outcome = prepared.attempt(bound, thread_losses, poll);

        const std::string what = name + " under " + std::to_string(bound);
        CHECK_FOR(what, fixtures::same_result(got, expected));
        CHECK_FOR(what, outcome.success == got.success &&
                            check::same_double(outcome.latency_ms, got.success ? got.latency_ms : 0.0) &&
                            check::same_double(outcome.fidelity, got.final_fidelity));
        CHECK_FOR(what, same_state(after_run, after_timeline) && same_state(thread_losses, after_timeline));
    }
}

TEST_CASE("a prepared request runs as the timeline does, under every bound") {
    const auto engine = SimulationConfig::engine_default();
    for (int repeat = 0; repeat < 20; ++repeat)  // fresh loss draws each time
        for (const auto& s : fixtures::scenarios())
            check_against_timeline(s.name, s.network, s.request, s.config,
                                   {100.0, 0.0, -1.0, kNaN, 0.3, 2.5, 7.0, 1e6, kInf});
    check_against_timeline("to itself, NaN target", chain(2, 1, 0.9), {"N1", "N1", kNaN, 0.0, {}}, engine,
                           {10.0, 0.0, kNaN});
    // The first cycle fails an attempt; the clock then runs to the cycle cap.
    check_against_timeline("unreachable bounds", chain(4, 0, 0.0), {"N0", "N3", 0.99, 0.0, {}}, config_with(0.12, kInf),
                           {kInf, 1e300});

    std::mt19937_64 random(7);
    const double factors[] = {-0.1, 0.0, 0.022, 0.12};
    for (int i = 0; i < 200; ++i) {
        auto [network, request] = fixtures::random_chain(random, 0.0);
        const SimulationConfig config = config_with(factors[random() % 4], random() % 3 ? 5000.0 : 6.0);
        std::vector<double> bounds;
        for (double top : {3.0, 20.0, 100.0}) bounds.push_back(std::uniform_real_distribution<double>(0, top)(random));
        check_against_timeline("random " + std::to_string(i), network, request, config, bounds);
    }
}

TEST_CASE("an engine reuses a prepared request only for the same request on the same network") {
    // Two-node routes take no loss draws, so every outcome here is fixed.
    Engine engine;
    engine.define_network({{"A", 1.0}, {"B", 1.0}, {"C", 1.0}}, {{{{"A", "B", 0.0, 0.85, 1000.0}, LinkType::Fiber}},
                                                                 {{{"A", "C", 0.0, 0.95, 1000.0}, LinkType::Fiber}}});
    const auto outcome = [&](const EntanglementRequest& request) {
        const SimulationResult r = engine.request_entanglement(request);
        return std::to_string(r.success) + " " + std::to_string(r.latency_ms) + " " + std::to_string(r.final_fidelity) +
               " " + (r.execution_path.empty() ? "-" : r.execution_path.back());
    };
    CHECK_EQ(outcome({"A", "B", 0.8, 10.0, {}}), "1 0.000000 0.850000 B");
    CHECK_EQ(outcome({"A", "B", 0.9, 10.0, {}}), "1 0.850000 0.999000 B");  // purified once
    CHECK_EQ(outcome({"A", "B", 0.9, 0.5, StrategyType::HighestFidelity}), "1 0.850000 0.999000 B");
    CHECK_EQ(outcome({"A", "B", 0.9, 0.5, StrategyType::LowestLatency}), "1 0.850000 0.999000 B");
    CHECK_EQ(outcome({"A", "X", 0.9, 10.0, {}}), "0 0.000000 0.000000 -");
    CHECK_EQ(outcome({"A", "C", 0.9, 10.0, StrategyType::LowestLatency}), "1 0.000000 0.950000 C");
    engine.define_network({{"A", 1.0}, {"C", 1.0}}, {{{{"C", "A", 0.0, 0.5, 1000.0}, LinkType::Fiber}}});
    CHECK_EQ(outcome({"A", "C", 0.9, 10.0, StrategyType::LowestLatency}), "0 0.000000 0.000000 C");  // out of reach
    CHECK_EQ(outcome({"A", "B", 0.8, 10.0, {}}), "0 0.000000 0.000000 -");
}

TEST_CASE("a network's route graph follows its links, and copies build their own") {
    const TimelineSettings settings = TimelineSettings::from_config(SimulationConfig::engine_default());
    const auto path = [&](const QuantumNetwork& network) {
        return PreparedRequest(network, settings, {"A", "C", 0.5, 0.0, {}}).path();
    };
    QuantumNetwork network = chain(2, 1.0, 0.9, {"A", "B"});
    network.add_node("C", 1.0);
    CHECK(path(network).empty());
    network.add_link("B", "C", LinkType::Fiber, 1.0, 0.9, 800.0);
    CHECK(path(network) == (std::vector<std::string>{"A", "B", "C"}));
    std::optional<QuantumNetwork> original(network);
    CHECK(path(*original).size() == 3);  // builds the original's graph, which views its strings
    const QuantumNetwork copy = *original;
    original.reset();
    CHECK(path(copy) == (std::vector<std::string>{"A", "B", "C"}));
}

TEST_CASE("key lengths saturate") {
    // clang-format off
    const std::pair<double, std::uint64_t> rows[] = {
        {0.0, 0}, {-0.5, 0}, {-kInf, 0}, {kNaN, 0}, {39.999999999999993, 39},
        {18446744073709549568.0, 18446744073709549568u},  // the largest double below 2^64
        {18446744073709551616.0, UINT64_MAX}, {kInf, UINT64_MAX}};
    // clang-format on
    for (const auto& [value, count] : rows) CHECK_EQ(saturating_count(value), count);
}

CHECK_MAIN()
