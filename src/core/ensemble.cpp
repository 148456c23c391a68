#include "core/ensemble.hpp"

#include <algorithm>
#include <array>

#include "core/admission.hpp"
#include "core/cycles.hpp"
#include "core/interruption_poll.hpp"
#include "core/request_generator.hpp"

namespace vorn {
namespace {

// A sum in trial order, as one trial after another would add them.
struct RunningSum {
    double value = 0.0;

    void add(double term) { value += term; }
    double total() const { return value; }
};

template <class Sum>
struct Totals {
    std::uint64_t successes = 0;
    Sum fidelity;
    Sum latency_ms;
    std::uint64_t congestion_drops = 0;
    std::uint64_t cycles = 0;

    void add(const CycleOutcome& outcome) {
        if (outcome.success) {
            ++successes;
            fidelity.add(outcome.fidelity);
        }
        latency_ms.add(outcome.latency_ms);
        congestion_drops += outcome.congestion_drops;
        cycles += outcome.cycles;
    }
};

// Every trial of a refused request ends the same way, without a cycle.
void add_refusals(Totals<RunningSum>& totals, const SimulationResult& refusal, std::uint64_t runs,
                  InterruptionPoll& poll) {
    for (std::uint64_t i = 0; i < runs; ++i) {
        totals.latency_ms.add(refusal.latency_ms);
        poll.advance();
    }
}

void add_refusals(Totals<ExactSum>& totals, const SimulationResult& refusal, std::uint64_t runs, InterruptionPoll&) {
    totals.latency_ms.add_times(refusal.latency_ms, runs);
}

// The thread's loss generator serves every trial.
struct ThreadLosses {
    LossGenerator& generator = LossGenerator::for_this_thread();
    LossGenerator& for_trial(std::uint64_t) { return generator; }
};

// Each trial draws its losses from the stream of its own seed.
struct LossesBySeed {
    KeyedLosses for_trial(std::uint64_t seed) { return KeyedLosses(seed); }
};

template <class Sum, class LossSource>
void add_trials(Totals<Sum>& totals, const CyclePlan& plan, const CycleBounds& bounds, std::uint64_t runs,
                std::uint64_t seed, LossSource losses, InterruptionPoll& poll) {
    std::array<RequestGenerator, 8> generators;
    for (std::uint64_t first = 0; first < runs; first += generators.size()) {
        RequestGenerator::from_consecutive_seeds(seed + first, generators);
        const std::uint64_t batch = std::min<std::uint64_t>(generators.size(), runs - first);
        for (std::uint64_t k = 0; k < batch; ++k) {
            PairCount pairs;
            auto&& trial_losses = losses.for_trial(seed + first + k);
            totals.add(run_cycles(plan, bounds, generators[k], trial_losses, poll, pairs));
        }
    }
}

template <class Sum>
MonteCarloStats statistics(const Totals<Sum>& totals, std::uint64_t runs, const std::vector<std::string>& path) {
    MonteCarloStats stats;
    stats.total_runs = runs;
    stats.empirical_success_rate = static_cast<double>(totals.successes) / static_cast<double>(runs);
    stats.mean_latency_ms = totals.latency_ms.total() / static_cast<double>(runs);
    stats.mean_fidelity = totals.successes > 0 ? totals.fidelity.total() / static_cast<double>(totals.successes) : 0.0;
    stats.aggregate_congestion_drops = totals.congestion_drops;
    add_path_counts(stats.link_utilization_heatmap, path, totals.cycles);
    return stats;
}

// Route finding is deterministic, so the admission (and with it the route and every hop's figures)
// is worked out once instead of once per trial.
template <class Sum, class LossSource>
MonteCarloStats run_ensemble(Totals<Sum>& totals, const QuantumNetwork& network, const SimulationConfig& config,
                             const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                             LossSource losses, Interruption* interruption) {
    const TimelineSettings settings = TimelineSettings::from_config(config);
    const Admission admission = admit(network, request, settings, interruption);
    InterruptionPoll poll(interruption, kWorkPerClockCheck);
    if (admission.refusal)
        add_refusals(totals, *admission.refusal, runs, poll);
    else
        add_trials(totals, CyclePlan(admission, request.fidelity_target, settings),
                   CycleBounds(request.max_latency_ms, settings.total_time_cutoff_ms), runs, seed, losses, poll);
    return statistics(totals, runs, admission.path);
}

}  // namespace

MonteCarloStats execute_ensemble(const QuantumNetwork& network, const SimulationConfig& config,
                                 const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                                 Interruption* interruption) {
    Totals<RunningSum> totals;
    return run_ensemble(totals, network, config, request, runs, seed, ThreadLosses{}, interruption);
}

KeyedEnsemble execute_keyed_ensemble(const QuantumNetwork& network, const SimulationConfig& config,
                                     const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                                     Interruption* interruption) {
    Totals<ExactSum> totals;
    KeyedEnsemble ensemble;
    ensemble.stats = run_ensemble(totals, network, config, request, runs, seed, LossesBySeed{}, interruption);
    ensemble.successes = totals.successes;
    ensemble.latency_ms = std::move(totals.latency_ms);
    ensemble.fidelity = std::move(totals.fidelity);
    return ensemble;
}

}  // namespace vorn
