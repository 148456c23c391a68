// The cycles of the timeline and of every ensemble trial against the rules stepped through literally:
// uniform draws, pairs named by their nodes in a time-ordered queue, the delivered pairs as a set of
// unordered node pairs, bit for bit and draw for draw; the literal rules against the documented figures.
#include <map>
#include <queue>

#include "check.hpp"
#include "core/cycles.hpp"
#include "core/ensemble.hpp"
#include "core/network.hpp"
#include "fixtures.hpp"
#include "timeline.hpp"

using namespace vorn;
using fixtures::chain;
using fixtures::config_with;

struct ReferenceRun {
    SimulationResult result;
    std::uint64_t congestion_drops = 0;
    Heatmap utilisation;
};

static const InternalLink* joining_link(const QuantumNetwork& network, const std::string& a, const std::string& b) {
    for (const InternalLink& link : network.links())
        if ((link.from == a && link.to == b) || (link.from == b && link.to == a)) return &link;
    return nullptr;
}

static void count(Heatmap& heatmap, const std::string& key, std::uint64_t n = 1) {
    auto found = std::find_if(heatmap.begin(), heatmap.end(), [&](const auto& entry) { return entry.first == key; });
    if (found == heatmap.end()) found = heatmap.insert(found, {key, 0});
    found->second += n;
}

// One request as the rules put it, its loss draws (uniform values) from `loss_draw`. Loss draws that
// cannot change the outcome are skipped, as the implementation does, so that both take the same loss draws.
static ReferenceRun reference_timeline(const QuantumNetwork& network, const SimulationConfig& config,
                                       const EntanglementRequest& request, KeyedStream draws,
                                       const std::function<double()>& loss_draw) {
    ReferenceRun run;
    const TimelineSettings settings = TimelineSettings::from_config(config);
    const Admission admission = admit(network, request, settings);
    if (admission.refusal) return {*admission.refusal, 0, {}};
    const std::vector<std::string>& path = admission.path;
    const double target = request.fidelity_target, k = settings.baseline_purify_factor;
    struct Event {
        std::string first, second;
        double fidelity, time_ms;
    };
    auto later = [](const Event& a, const Event& b) { return a.time_ms > b.time_ms; };
    std::priority_queue<Event, std::vector<Event>, decltype(later)> queue(later);
    std::vector<std::tuple<std::string, std::string, double>> established;
    std::vector<std::string> keys;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) keys.push_back(path[i] + "->" + path[i + 1]);

    double t = 0.0, fidelity = admission.fidelity;
    std::uint64_t cycles = 0;
    const std::uint64_t limit = cycle_limit(request.max_latency_ms, settings.total_time_cutoff_ms);
    auto next_cycle = [&] {
        t += kCycleMs;
        return t < request.max_latency_ms && t < settings.total_time_cutoff_ms && cycles < limit;
    };
    auto end = [&](bool success) {
        run.result = {success, t, success ? fidelity : 0.0, path};
        return run;
    };
    for (;;) {
        ++cycles;
        for (std::size_t i = 0; i + 1 < path.size(); ++i) {
            count(run.utilisation, keys[i]);
            const InternalLink* link = joining_link(network, path[i], path[i + 1]);
            const double p = link ? attempt_success_probability(link->distance_km, link->base_fidelity, target) : 0.0;
            if (fixtures::next_uniform(draws) < p)
                queue.push({path[i], path[i + 1], link ? link->base_fidelity : 0.0, t});
            else
                ++run.congestion_drops;
        }
        while (!queue.empty() && queue.top().time_ms <= t) {
            const Event event = queue.top();
            queue.pop();
            if (path.size() >= 3 && run.congestion_drops == 0 && loss_draw() < kLossProbability) continue;
            established.emplace_back(event.first, event.second, event.fidelity);
        }
        if (run.congestion_drops > 0) {
            established.clear();
            if (next_cycle()) continue;
            return end(false);
        }
        std::map<std::pair<std::string, std::string>, double> delivered;
        for (const auto& [a, b, f] : established) delivered[std::minmax(a, b)] = f;
        bool every_hop = path.size() >= 3 && !delivered.empty();
        for (std::size_t i = 0; i + 1 < path.size(); ++i)
            every_hop = every_hop && delivered.count(std::minmax(path[i], path[i + 1]));
        if (every_hop) {
            fidelity = 1.0;
            for (std::size_t i = 0; i + 1 < path.size(); ++i) fidelity *= delivered[std::minmax(path[i], path[i + 1])];
            for (std::size_t i = 0; i + 2 < path.size(); ++i) fidelity = purify(fidelity, k);
        }
        established.clear();
        if (fidelity < target && fidelity > 0.5) {
            t += kPurificationMs;
            fidelity = purify(fidelity, k);
        }
        if (fidelity >= target) return end(true);
        if (t >= request.max_latency_ms) return end(false);
        run.congestion_drops = 0;
        if (!next_cycle()) return end(false);
    }
}

// The first seed whose first draws succeed (true) or fail against the given probabilities, in order.
static std::uint64_t seed_with_attempts(const std::vector<double>& probability, const std::vector<bool>& succeed) {
    for (std::uint64_t seed = 0;; ++seed) {
        KeyedStream generator = fixtures::seeded(seed);
        bool matches = true;
        for (std::size_t i = 0; i < succeed.size() && matches; ++i)
            matches = (fixtures::next_uniform(generator) < probability[i % probability.size()]) == succeed[i];
        if (matches) return seed;
    }
}

// A loss generator whose first draws lose (true) or deliver a pair, in order.
static LossGenerator losses_with(const std::vector<bool>& lost) {
    for (std::uint64_t seed = 0;; ++seed) {
        LossGenerator probe(seed);
        bool matches = true;
        for (bool l : lost) matches = matches && ((probe.next() < kLossProbability) == l);
        if (matches) return LossGenerator(seed);
    }
}

static bool same_next_draw(LossGenerator a, LossGenerator b) { return a.next() == b.next(); }

static std::function<double()> draws_of(LossGenerator& losses) {
    return [&] { return losses.next(); };
}

// The keyed ensemble: trial i's loss draws are the uniform draws of stream 1 of the key of seed + i.
static void check_keyed_against_reference(const fixtures::Scenario& s, std::uint64_t runs, std::uint64_t seed) {
    const KeyedEnsemble keyed = execute_keyed_ensemble(s.network, s.config, s.request, runs, seed);
    std::uint64_t successes = 0, drops = 0;
    ExactSum latency, fidelity;
    Heatmap utilisation;
    for (std::uint64_t i = 0; i < runs; ++i) {
        KeyedStream stream(key_words(kKeyedLossDraws.key, seed + i), kKeyedLossDraws.stream);
        const ReferenceRun reference = reference_timeline(s.network, s.config, s.request, fixtures::seeded(seed + i),
                                                          [&] { return fixtures::next_uniform(stream); });
        if (reference.result.success) ++successes, fidelity.add(reference.result.final_fidelity);
        latency.add(reference.result.latency_ms);
        drops += reference.congestion_drops;
        for (const auto& [key, n] : reference.utilisation) count(utilisation, key, n);
    }
    const double n = static_cast<double>(runs);
    const MonteCarloStats& stats = keyed.stats;
    CHECK_FOR(s.name, keyed.successes == successes && stats.aggregate_congestion_drops == drops &&
                          stats.link_utilization_heatmap == utilisation &&
                          keyed.latency_ms.partials() == latency.partials() &&
                          keyed.fidelity.partials() == fidelity.partials() &&
                          check::same_double(stats.empirical_success_rate, static_cast<double>(successes) / n) &&
                          check::same_double(stats.mean_latency_ms, latency.total() / n) &&
                          check::same_double(stats.mean_fidelity,
                                             successes ? fidelity.total() / static_cast<double>(successes) : 0.0));
}

// Trial i with the generator of seed + i, three ways: stepped literally, through the timeline, and
// as part of the ensemble, whose statistics are summed from the literal trials as the ensemble's
// rules say. All three start from the same loss generator.
static void check_against_reference(const fixtures::Scenario& s, std::uint64_t runs, std::uint64_t seed) {
    auto fail = [&](const std::string& what) { check::fail(__FILE__, __LINE__, s.name + ": " + what); };
    LossGenerator& thread_losses = LossGenerator::for_this_thread();
    const LossGenerator start(seed ^ 0x5eed);

    thread_losses = start;
    const MonteCarloStats ensemble = execute_ensemble(s.network, s.config, s.request, runs, seed);
    const LossGenerator after_ensemble = thread_losses;

    thread_losses = start;
    LossGenerator reference_losses = start;
    std::uint64_t successes = 0;
    double fidelity_sum = 0.0, latency_sum = 0.0;
    MonteCarloStats summed;
    for (std::uint64_t i = 0; i < runs; ++i) {
        const KeyedStream generator = fixtures::seeded(seed + i);
        const ReferenceRun reference =
            reference_timeline(s.network, s.config, s.request, generator, draws_of(reference_losses));
        NetworkOrchestratorPolicy policy(s.config);
        SimulationRuntime runtime;
        const SimulationResult result = policy.coordinate_timeline(s.network, runtime, s.request, &generator);
        if (!fixtures::same_result(result, reference.result) ||
            runtime.congestion_drops != reference.congestion_drops || policy.link_utilization != reference.utilisation)
            return fail("timeline differs in trial " + std::to_string(i));

        if (reference.result.success) ++successes, fidelity_sum += reference.result.final_fidelity;
        latency_sum += reference.result.latency_ms;
        summed.aggregate_congestion_drops += reference.congestion_drops;
        for (const auto& [key, n] : reference.utilisation) count(summed.link_utilization_heatmap, key, n);
    }
    const double n = static_cast<double>(runs);
    if (!(ensemble.total_runs == runs &&
          check::same_double(ensemble.empirical_success_rate, static_cast<double>(successes) / n) &&
          check::same_double(ensemble.mean_latency_ms, latency_sum / n) &&
          check::same_double(ensemble.mean_fidelity, successes ? fidelity_sum / static_cast<double>(successes) : 0.0) &&
          ensemble.aggregate_congestion_drops == summed.aggregate_congestion_drops &&
          ensemble.link_utilization_heatmap == summed.link_utilization_heatmap))
        fail("ensemble differs from the trials summed");
    if (!same_next_draw(thread_losses, reference_losses)) fail("the timeline took other loss draws");
    if (!same_next_draw(after_ensemble, reference_losses)) fail("the ensemble took other loss draws");
    check_keyed_against_reference(s, runs, seed);
}

// The figures of the documented examples, on small routes whose draws are chosen by picking seeds: the fixed
// points the literal rules are anchored to. Route admission (fallback, propagation, cut-off) is checked only
// here, since the literal rules admit a request as the timeline does. Refusals a caller sees (no route, a route
// to itself, bounds that are not positive) are tested from Python.
TEST_CASE("outcomes of single requests, by the timeline and by the literal rules") {
    const fixtures::Links worked = {{"A", "M", 50, 0.9}, {"M", "Z", 50, 0.9}},
                          zero = {{"A", "M", 0, 0.95}, {"M", "Z", 0, 0.95}};
    const double worked_f = 1.0 * 0.9 * 0.9;
    const double sum_10_05 = 0.0 + 0.85 + 2.5 + 0.85 + 2.5 + 0.85 + 2.5;
    // hops in path order; attempts and lost: whether the first draws succeed and the first loss draws lose.
    // Congestion drops are checked against the literal rules trial by trial, below.
    const struct {
        const char* name;
        fixtures::Links hops;
        EntanglementRequest request;
        SimulationConfig config;
        std::vector<bool> attempts, lost;
        SimulationResult expected;
        Heatmap utilisation;
    } cases[] = {
        // clang-format off
        {"worked example, both pairs arrive", worked, {"A", "Z", 0.8, 10.0, {}}, config_with(0.12), {true, true},
         {false, false}, {true, 0.0, purify(worked_f, 0.12), {"A", "M", "Z"}}, {{"A->M", 1}, {"M->Z", 1}}},
        {"worked example, one pair lost", worked, {"A", "Z", 0.8, 10.0, {}}, config_with(0.12), {true, true},
         {false, true}, {true, 0.0, worked_f, {"A", "M", "Z"}}, {{"A->M", 1}, {"M->Z", 1}}},
        {"worked example, an attempt fails", worked, {"A", "Z", 0.8, 10.0, {}}, config_with(0.12), {true, false}, {},
         {false, 10.0, 0.0, {"A", "M", "Z"}}, {{"A->M", 4}, {"M->Z", 4}}},
        {"one link, purified once, losses ignored", {{"A", "B", 10, 0.7}}, {"A", "B", 0.8, 10.0, {}}, config_with(0.12),
         {true}, {true}, {true, 0.85, purify(0.7, 0.12), {"A", "B"}}, {{"A->B", 1}}},
        {"fidelity route below target falls back to the latency route",
         {{"A", "B", 100, 0.6}, {"A", "C", 1, 0.7}, {"C", "B", 1, 0.7}},
         {"A", "B", 0.9, 100.0, StrategyType::HighestFidelity}, config_with(0.12), {}, {},
         {false, 0.0, 0.0, {"A", "C", "B"}}, {}},
        {"propagation delay above the bound", {{"A", "M", 100, 0.9}, {"M", "Z", 100, 0.9}}, {"A", "Z", 0.8, 0.5, {}},
         config_with(0.12), {}, {}, {false, 1.0, 0.0, {"A", "M", "Z"}}, {}},
        {"zero cut-off", {{"A", "B", 0, 0.9}}, {"A", "B", 0.8, 10.0, {}}, config_with(0.12, 0.0), {}, {},
         {false, 0.0, 0.0, {"A", "B"}}, {}},
        {"negative factor: purification time accumulates until the bound", zero, {"A", "Z", 0.9, 10.0, {}},
         config_with(-0.1), {true, true, true, true, true, true}, {false, false, false, true, false, false},
         {false, sum_10_05, 0.0, {"A", "M", "Z"}}, {{"A->M", 3}, {"M->Z", 3}}},
        {"unreachable bounds end at the cycle cap", worked, {"A", "Z", 0.8, kInf, {}}, config_with(0.12, kInf),
         {false}, {}, {false, 2.5 * kMaxCyclesPerRequest, 0.0, {"A", "M", "Z"}},
         {{"A->M", kMaxCyclesPerRequest}, {"M->Z", kMaxCyclesPerRequest}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        std::vector<double> probability;
        for (const auto& [a, b, km, f] : c.hops)
            probability.push_back(attempt_success_probability(km, f, c.request.fidelity_target));
        const KeyedStream generator = fixtures::seeded(seed_with_attempts(probability, c.attempts));
        const QuantumNetwork network = fixtures::network_of(c.hops);
        LossGenerator losses = losses_with(c.lost);
        const ReferenceRun reference = reference_timeline(network, c.config, c.request, generator, draws_of(losses));
        LossGenerator::for_this_thread() = losses_with(c.lost);
        NetworkOrchestratorPolicy policy(c.config);
        SimulationRuntime runtime;
        const SimulationResult r = policy.coordinate_timeline(network, runtime, c.request, &generator);
        CHECK_FOR(c.name, fixtures::same_result(r, c.expected) && policy.link_utilization == c.utilisation);
        CHECK_FOR(c.name,
                  fixtures::same_result(reference.result, c.expected) && reference.utilisation == c.utilisation);
    }
}

// Every scenario with the best kernel; the others skip the longest runs, whose literal steps take most
// of the time and whose kernel work the generator's own tests cover.
static void check_scenarios(bool best_kernel) {
    const auto engine = SimulationConfig::engine_default();
    std::uint64_t seed = 12345;
    for (const auto& s : fixtures::scenarios()) check_against_reference(s, 300, seed++);
    // Forty hops, the last three with keys that read alike (a->b->c twice).
    std::vector<std::string> alike(37);
    for (int i = 0; i < 37; ++i) alike[i] = "N" + std::to_string(i);
    alike.insert(alike.end(), {"a", "b->c", "a->b", "c"});
    check_against_reference(
        {"forty hops, keys that read alike", chain(41, 5, 0.99, alike), {"N0", "c", 0.6, 20.0, {}}, engine}, 50, 12);
    const fixtures::Scenario repeaters = {"repeater chain", chain(4, 100, 0.92), {"N0", "N3", 0.8, 100.0, {}}, engine};
    check_against_reference(repeaters, best_kernel ? 3000 : 300, 1);
    check_against_reference(repeaters, 19, ~std::uint64_t{0} - 4);  // seeds wrap past 2^64
    check_against_reference(repeaters, 0, 0);
    if (best_kernel)
        check_against_reference(
            {"unreachable bounds", chain(3, 100, 0.92), {"N0", "N2", 0.8, kInf, {}}, config_with(0.12, kInf)}, 2, 77);

    std::mt19937_64 random(99);
    const double factors[] = {-0.1, 0.0, 0.022, 0.12}, bounds[] = {1.0, 4.0, 10.0, 40.0};
    for (int i = 0; i < 150; ++i) {
        auto [network, request] = fixtures::random_chain(random, bounds[random() % 4]);
        check_against_reference({"random " + std::to_string(i), network, request,
                                 config_with(factors[random() % 4], random() % 3 ? 5000.0 : 6.0)},
                                40, random());
    }
}

TEST_CASE("timeline and ensemble trials follow the rules stepped literally, bit for bit, with every kernel") {
    fixtures::with_each_kernel([](const std::string& kernel) {
        std::printf("     (kernel %s)\n", kernel.c_str());
        check_scenarios(chacha12::active_kernel() == chacha12::best_kernel());
    });
}

TEST_CASE("attempt probabilities and purification of the documented examples") {
    const struct {
        double km, fidelity, target, expected, tolerance;
    } attempts[] = {
        {50, 0.9, 0.8, 0.95, 1e-15},    {100, 0.7, 0.8, 0.8575, 1e-15}, {0, 0.9, 0.9, 0.98, 0},
        {1000, 0.5, 0.9, 0.5081, 1e-4}, {kNaN, 0.9, 0.8, 0.5, 0},       {1e9, 0.0, 1.0, 0.5, 0},
    };
    for (const auto& a : attempts)
        CHECK(std::fabs(attempt_success_probability(a.km, a.fidelity, a.target) - a.expected) <= a.tolerance);
    const struct {
        double fidelity, factor, expected, tolerance;
    } purifications[] = {
        {0.81, 0.12, 0.9855, 1e-4}, {0.9, 0.0, 0.9311, 1e-4}, {0.5, 0.12, 0.745, 1e-3}, {1.0, 0.12, 0.999, 0},
        {0.0, 0.12, 0.999, 0},      {-0.5, 0.12, 0.5, 0},     {kNaN, 0.12, 0.5, 0},     {0.9, kNaN, 0.999, 0},
    };
    for (const auto& p : purifications) CHECK(std::fabs(purify(p.fidelity, p.factor) - p.expected) <= p.tolerance);
}

CHECK_MAIN()
