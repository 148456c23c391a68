// Seeded Monte Carlo ensembles of one request, and the context kept for later analysis.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/exact_sum.hpp"
#include "core/failure.hpp"
#include "core/heatmap.hpp"
#include "core/network.hpp"
#include "core/request.hpp"

namespace vorn {

struct MonteCarloContext {
    std::optional<std::uint64_t> seed;
    std::vector<NodeDefinition> nodes;
    std::vector<LinkFigures> links;
    std::string from_node;
    std::string to_node;
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;
    double total_time_cutoff_ms = 0.0;
    double step_resolution_ms = 0.0;
    double baseline_purify_factor = 0.0;
    std::optional<StrategyType> strategy;
};

struct MonteCarloStats {
    std::uint64_t total_runs = 0;
    double empirical_success_rate = 0.0;
    double mean_latency_ms = 0.0;
    double mean_fidelity = 0.0;
    std::uint64_t aggregate_congestion_drops = 0;
    Heatmap link_utilization_heatmap;
    std::optional<MonteCarloContext> context;
};

// Runs trials 0..runs-1 with generators keyed from seed + i, each with the outcome of the timeline
// given that generator; loss draws come from this thread's loss generator. `interruption` (may be
// null) is polled every few milliseconds; when it asks to stop, Interrupted is thrown. The result
// has no context.
MonteCarloStats execute_ensemble(const QuantumNetwork& network, const SimulationConfig& config,
                                 const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                                 Interruption* interruption = nullptr);

// An ensemble that repeats exactly: the trials and generation draws of execute_ensemble, with each
// trial's loss draws from its own keyed stream (KeyedLosses) instead of the thread's generator, and
// its sums kept exactly. Every field then follows from the seed alone, and the sums of ensembles over
// consecutive seed ranges (trial i of seed s being trial 0 of seed s + i) add up to those of one
// ensemble over the whole range, bit for bit.
struct KeyedEnsemble {
    MonteCarloStats stats;  // the means are the rounded sums divided, as execute_ensemble divides
    std::uint64_t successes = 0;
    ExactSum latency_ms;  // over every trial
    ExactSum fidelity;    // over the successful trials
};
KeyedEnsemble execute_keyed_ensemble(const QuantumNetwork& network, const SimulationConfig& config,
                                     const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed,
                                     Interruption* interruption = nullptr);

}  // namespace vorn
