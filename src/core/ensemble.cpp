#include "core/ensemble.hpp"

#include <algorithm>
#include <array>

#include "core/admission.hpp"
#include "core/ensemble_trial.hpp"
#include "core/interruption_poll.hpp"
#include "core/request_generator.hpp"

namespace vorn {
namespace {

constexpr std::uint64_t kDrawsPerClockCheck = 1u << 16;

// Sums in trial order, as one trial after another would add them.
struct Totals {
    std::uint64_t successes = 0;
    double fidelity_sum = 0.0;
    double latency_sum = 0.0;
    std::uint64_t congestion_drops = 0;
    std::uint64_t cycles = 0;

    void add(const TrialOutcome& outcome) {
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

void add_trials(Totals& totals, const TrialPlan& plan, std::uint64_t runs, std::uint64_t seed, LossGenerator& losses,
                InterruptionPoll& poll) {
    std::array<RequestGenerator, 8> generators;
    for (std::uint64_t first = 0; first < runs; first += generators.size()) {
        RequestGenerator::from_consecutive_seeds(seed + first, generators);
        const std::uint64_t batch = std::min<std::uint64_t>(generators.size(), runs - first);
        for (std::uint64_t k = 0; k < batch; ++k) {
            totals.add(run_trial(plan, generators[k], losses, poll));
            poll.advance();
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
    add_hop_counts(stats.link_utilization_heatmap, hop_keys(path), totals.cycles);
    return stats;
}

}  // namespace

// Route finding is deterministic, so the admission (and with it the route and every hop's figures)
// is worked out once instead of once per trial.
MonteCarloStats execute_ensemble(const QuantumNetwork& network, const SimulationConfig& config,
                                 const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                                 Interruption* interruption, LossGenerator* losses) {
    const TimelineSettings settings = TimelineSettings::from_config(config);
    const Admission admission = admit(network, request, settings, interruption);
    InterruptionPoll poll(interruption, kDrawsPerClockCheck);
    Totals totals;
    if (admission.refusal) {
        add_refusals(totals, *admission.refusal, runs, poll);
    } else {
        LossGenerator& loss_source = losses ? *losses : LossGenerator::for_this_thread();
        add_trials(totals, TrialPlan::build(admission, request, settings, poll), runs, seed, loss_source, poll);
    }
    return statistics(totals, runs, admission.path);
}

}  // namespace vorn
