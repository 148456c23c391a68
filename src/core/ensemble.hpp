// Seeded Monte Carlo ensembles of one request, and the context kept for later analysis.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ensemble/exact_sum.hpp"
#include "core/failure.hpp"
#include "core/heatmap.hpp"
#include "core/network_records.hpp"
#include "core/request.hpp"

namespace vorn {

class QuantumNetwork;

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

constexpr auto description(const MonteCarloContext*) {
    using namespace describe;
    using C = MonteCarloContext;
    return record<C>(
        field<&C::seed>("seed", "Seed the caller passed to simulate (None when the clock chose it)"),
        field<&C::nodes, RecordTuples>("nodes", "The nodes as (id, memory_lifetime_t2 in s)"),
        field<&C::links, RecordTuples>("links",
                                       "The links as (from_node, to, distance_km, base_fidelity, "
                                       "generation_rate_hz), without type or satellite conditions"),
        field<&C::from_node>("from_node", "Node where the requested pair starts"),
        field<&C::to_node>("to_node", "Node where the requested pair ends"),
        field<&C::fidelity_target>("fidelity_target", "Fidelity target of the request, a fraction in [0, 1]"),
        field<&C::max_latency_ms>("max_latency_ms", "Latency bound of the request", "ms"),
        field<&C::total_time_cutoff_ms>("total_time_cutoff_ms", "The engine's horizon of one request", "ms"),
        field<&C::step_resolution_ms>("step_resolution_ms", "The engine's time step (unused by the timeline)", "ms"),
        field<&C::baseline_purify_factor>("baseline_purify_factor", "The engine's purify factor"),
        field<&C::strategy>("strategy", "Strategy the caller passed (None for the default)"));
}

struct MonteCarloStats {
    std::uint64_t total_runs = 0;
    double empirical_success_rate = 0.0;
    double mean_latency_ms = 0.0;
    double mean_fidelity = 0.0;
    std::uint64_t aggregate_congestion_drops = 0;
    Heatmap link_utilization_heatmap;
    std::optional<MonteCarloContext> context;
};

constexpr auto description(const MonteCarloStats*) {
    using namespace describe;
    using S = MonteCarloStats;
    return record<S>(
        field<&S::total_runs>("total_runs", "Number of trials"),
        field<&S::empirical_success_rate>("empirical_success_rate",
                                          "Successful trials divided by the trials (NaN without trials)"),
        field<&S::mean_latency_ms>("mean_latency_ms", "Mean simulated latency over all trials, failed ones included",
                                   "ms"),
        field<&S::mean_fidelity>("mean_fidelity", "Mean fidelity of the delivered pairs (0.0 without a success)"),
        field<&S::aggregate_congestion_drops>("aggregate_congestion_drops",
                                              "Failed generation attempts summed over the trials"),
        field<&S::link_utilization_heatmap, Mapping>(
            "link_utilization_heatmap", "Generation attempts summed over the trials, by hop key (\"A->B\")"),
        field<&S::context>("_context", "What the ensemble ran, for a later sensitivity analysis", kOptional));
}

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
