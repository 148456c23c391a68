// The cycles of the timeline and of every ensemble trial against the rules stepped through literally:
// uniform draws, pairs named by their nodes in a time-ordered queue, the delivered pairs as a set of
// unordered node pairs, bit for bit and draw for draw.
#include <algorithm>
#include <map>
#include <queue>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "check.hpp"
#include "fixtures.hpp"
#include "core/cycles.hpp"
#include "core/ensemble.hpp"
#include "core/timeline.hpp"

using namespace vorn;
using fixtures::chain;
using fixtures::config_with;

namespace {

const double kInf = std::numeric_limits<double>::infinity();

struct ReferenceRun {
    SimulationResult result;
    std::uint64_t congestion_drops = 0;
    Heatmap utilisation;
};

const InternalLink* joining_link(const QuantumNetwork& network, const std::string& a, const std::string& b) {
    for (const InternalLink& link : network.links())
        if ((link.from == a && link.to == b) || (link.from == b && link.to == a)) return &link;
    return nullptr;
}

void count(Heatmap& heatmap, const std::string& key, std::uint64_t n = 1) {
    auto found = std::find_if(heatmap.begin(), heatmap.end(), [&](const auto& entry) { return entry.first == key; });
    if (found == heatmap.end()) found = heatmap.insert(found, {key, 0});
    found->second += n;
}

// One request as the rules put it. Loss draws that cannot change the outcome are skipped, as the
// implementation does, so that both take the same loss draws.
ReferenceRun reference_timeline(const QuantumNetwork& network, const SimulationConfig& config,
                                const EntanglementRequest& request, RequestGenerator draws, LossGenerator& losses) {
    ReferenceRun run;
    const TimelineSettings settings = TimelineSettings::from_config(config);
    const Admission admission = admit(network, request, settings);
    if (admission.refusal) {
        run.result = *admission.refusal;
        return run;
    }
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
            if (fixtures::next_uniform(draws) < p) queue.push({path[i], path[i + 1], link ? link->base_fidelity : 0.0, t});
            else ++run.congestion_drops;
        }
        while (!queue.empty() && queue.top().time_ms <= t) {
            const Event event = queue.top();
            queue.pop();
            if (path.size() >= 3 && run.congestion_drops == 0 && losses.next() < kLossProbability) continue;
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
        for (std::size_t i = 0; i + 1 < path.size(); ++i) every_hop = every_hop && delivered.count(std::minmax(path[i], path[i + 1]));
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

bool same_next_draw(LossGenerator a, LossGenerator b) { return a.next() == b.next(); }

// Trial i with the generator of seed + i, three ways: stepped literally, through the timeline, and
// as part of the ensemble, whose statistics are summed from the literal trials as the ensemble's
// rules say. All three start from the same loss generator.
void check_against_reference(const fixtures::Scenario& s, std::uint64_t runs, std::uint64_t seed) {
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
        const RequestGenerator generator = fixtures::seeded(seed + i);
        const ReferenceRun reference = reference_timeline(s.network, s.config, s.request, generator, reference_losses);
        NetworkOrchestratorPolicy policy(s.config);
        SimulationRuntime runtime;
        const SimulationResult result = policy.coordinate_timeline(s.network, runtime, s.request, &generator);
        if (!fixtures::same_result(result, reference.result) || runtime.congestion_drops != reference.congestion_drops ||
            policy.link_utilization != reference.utilisation)
            return fail("timeline differs in trial " + std::to_string(i));

        if (reference.result.success) ++successes, fidelity_sum += reference.result.final_fidelity;
        latency_sum += reference.result.latency_ms;
        summed.aggregate_congestion_drops += reference.congestion_drops;
        for (const auto& [key, n] : reference.utilisation) count(summed.link_utilization_heatmap, key, n);
    }
    const double n = static_cast<double>(runs);
    const bool same_stats = ensemble.total_runs == runs &&
                            check::same_double(ensemble.empirical_success_rate, static_cast<double>(successes) / n) &&
                            check::same_double(ensemble.mean_latency_ms, latency_sum / n) &&
                            check::same_double(ensemble.mean_fidelity, successes ? fidelity_sum / static_cast<double>(successes) : 0.0) &&
                            ensemble.aggregate_congestion_drops == summed.aggregate_congestion_drops &&
                            ensemble.link_utilization_heatmap == summed.link_utilization_heatmap;
    if (!same_stats) fail("ensemble differs from the trials summed");
    if (!same_next_draw(thread_losses, reference_losses)) fail("the timeline took other loss draws");
    if (!same_next_draw(after_ensemble, reference_losses)) fail("the ensemble took other loss draws");
}

}  // namespace

TEST_CASE("timeline and ensemble trials follow the rules stepped literally, bit for bit") {
    const auto engine = SimulationConfig::engine_default();
    std::uint64_t seed = 12345;
    for (const auto& s : fixtures::scenarios()) check_against_reference(s, 300, seed++);
    // Forty hops, the last three with keys that read alike (a->b->c twice).
    std::vector<std::string> alike(37);
    for (int i = 0; i < 37; ++i) alike[i] = "N" + std::to_string(i);
    alike.insert(alike.end(), {"a", "b->c", "a->b", "c"});
    check_against_reference({"forty hops, keys that read alike", chain(41, 5, 0.99, alike), {"N0", "c", 0.6, 20.0, {}}, engine},
                            50, 12);
    const fixtures::Scenario repeaters = {"repeater chain", chain(4, 100, 0.92), {"N0", "N3", 0.8, 100.0, {}}, engine};
    check_against_reference(repeaters, 3000, 1);
    check_against_reference(repeaters, 19, ~std::uint64_t{0} - 4);  // seeds wrap past 2^64
    check_against_reference(repeaters, 0, 0);
    check_against_reference({"unreachable bounds", chain(3, 100, 0.92), {"N0", "N2", 0.8, kInf, {}}, config_with(0.12, kInf)},
                            2, 77);

    std::mt19937_64 random(99);
    const double factors[] = {-0.1, 0.0, 0.022, 0.12}, bounds[] = {1.0, 4.0, 10.0, 40.0};
    for (int i = 0; i < 150; ++i) {
        auto [network, request] = fixtures::random_chain(random, bounds[random() % 4]);
        check_against_reference({"random " + std::to_string(i), network, request,
                                 config_with(factors[random() % 4], random() % 3 ? 5000.0 : 6.0)}, 40, random());
    }
}

CHECK_MAIN()
