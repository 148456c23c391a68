#include "core/ensemble.hpp"

#include <algorithm>
#include <array>

#include "core/admission.hpp"
#include "core/cycles.hpp"
#include "core/interruption_poll.hpp"
#include "core/request_generator.hpp"

namespace vorn {
namespace {

// Sums in trial order, as one trial after another would add them.
struct Totals {
    std::uint64_t successes = 0;
    double fidelity_sum = 0.0;
    double latency_sum = 0.0;
    std::uint64_t congestion_drops = 0;
    std::uint64_t cycles = 0;

    void add(const CycleOutcome& outcome) {
        if (outcome.success) {
            ++successes;
            fidelity_sum += outcome.fidelity;
        }
        latency_sum += outcome.latency_ms;
        congestion_drops += outcome.congestion_drops;
        cycles += outcome.cycles;
    }
};

// Every trial of a refused request ends the same way, without a cycle.
void add_refusals(Totals& totals, const SimulationResult& refusal, std::uint64_t runs, InterruptionPoll& poll) {
    for (std::uint64_t i = 0; i < runs; ++i) {
        totals.latency_sum += refusal.latency_ms;
        poll.advance();
    }
}

void add_trials(Totals& totals, const CyclePlan& plan, const CycleBounds& bounds, std::uint64_t runs,
                std::uint64_t seed, InterruptionPoll& poll) {
    LossGenerator& losses = LossGenerator::for_this_thread();
    std::array<RequestGenerator, 8> generators;
    for (std::uint64_t first = 0; first < runs; first += generators.size()) {
        RequestGenerator::from_consecutive_seeds(seed + first, generators);
        const std::uint64_t batch = std::min<std::uint64_t>(generators.size(), runs - first);
        for (std::uint64_t k = 0; k < batch; ++k) {
            PairCount pairs;
            totals.add(run_cycles(plan, bounds, generators[k], losses, poll, pairs));
        }
    }
}

MonteCarloStats statistics(const Totals& totals, std::uint64_t runs, const std::vector<std::string>& path) {
    MonteCarloStats stats;
    stats.total_runs = runs;
    stats.empirical_success_rate = static_cast<double>(totals.successes) / static_cast<double>(runs);
    stats.mean_latency_ms = totals.latency_sum / static_cast<double>(runs);
    stats.mean_fidelity = totals.successes > 0 ? totals.fidelity_sum / static_cast<double>(totals.successes) : 0.0;
    stats.aggregate_congestion_drops = totals.congestion_drops;
    add_path_counts(stats.link_utilization_heatmap, path, totals.cycles);
    return stats;
}

}  // namespace

// Route finding is deterministic, so the admission (and with it the route and every hop's figures)
// is worked out once instead of once per trial.
MonteCarloStats execute_ensemble(const QuantumNetwork& network, const SimulationConfig& config,
                                 const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                                 Interruption* interruption) {
    const TimelineSettings settings = TimelineSettings::from_config(config);
    const Admission admission = admit(network, request, settings, interruption);
    InterruptionPoll poll(interruption, kWorkPerClockCheck);
    Totals totals;
    if (admission.refusal)
        add_refusals(totals, *admission.refusal, runs, poll);
    else
        add_trials(totals, CyclePlan(admission, request.fidelity_target, settings),
                   CycleBounds(request.max_latency_ms, settings.total_time_cutoff_ms), runs, seed, poll);
    return statistics(totals, runs, admission.path);
}

}  // namespace vorn
