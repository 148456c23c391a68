// Python classes of the engine and of Monte Carlo statistics.
#include "core/sensitivity.hpp"
#include "python/classes.hpp"
#include "python/toolkit/interruption.hpp"

namespace vorn::py {

namespace {

Engine make_engine(std::optional<SimulationConfig> config) {
    return Engine(config.value_or(SimulationConfig::engine_default()));
}

void define_network(Engine& engine, std::vector<NodeDefinition> nodes, std::vector<LinkDefinition> links) {
    engine.define_network(std::move(nodes), links);
}

SimulationResult request_entanglement(const Engine& engine, std::string from_node, std::string to,
                                      double fidelity_target, double max_latency_ms,
                                      std::optional<StrategyType> strategy) {
    SignalCheck signals;
    return engine.request_entanglement({std::move(from_node), std::move(to), fidelity_target, max_latency_ms, strategy},
                                       &signals);
}

MonteCarloStats simulate(const Engine& engine, std::string from_node, std::string to, double fidelity_target,
                         double max_latency_ms, std::uint64_t runs, std::optional<StrategyType> strategy,
                         std::optional<std::uint64_t> seed) {
    if (!engine.network()) throw RuntimeFailure("No network defined. Call define_network() first.");
    SignalCheck signals;
    return engine.simulate({std::move(from_node), std::move(to), fidelity_target, max_latency_ms, strategy}, runs, seed,
                           &signals);
}

// The statistics' own constructor: its last parameter is `context`, its attribute `_context`.
MonteCarloStats make_stats(std::uint64_t total_runs, double empirical_success_rate, double mean_latency_ms,
                           double mean_fidelity, std::uint64_t aggregate_congestion_drops,
                           Entries<std::uint64_t> link_utilization_heatmap, std::optional<MonteCarloContext> context) {
    return {total_runs,        empirical_success_rate,     mean_latency_ms,
            mean_fidelity,     aggregate_congestion_drops, std::move(link_utilization_heatmap.items),
            std::move(context)};
}

Entries<double> sensitivity_analysis(const MonteCarloStats& stats, std::uint64_t seed_base) {
    if (!stats.context) throw ValueFailure("No simulation context available. Pass store_context=True to simulate().");
    SignalCheck signals;
    return {analyse_sensitivity(*stats.context, stats.empirical_success_rate, seed_base, &signals)};
}

constexpr const char* kSensitivityDoc =
    "Perturb each simulation parameter \u00b110 %, re-run the ensemble, and report\n"
    "which parameters most influence `empirical_success_rate`.\n"
    "\n"
    "Returns a dict sorted by absolute impact (descending):\n"
    "  {\"memory_lifetime_t2:node_A\": 0.34, \"base_fidelity:link_0->link_B\": 0.28, ...}";

}  // namespace

void describe_engine(ClassTable<Engine>& table) {
    table.constructor<&make_engine>({"config"})
        .opaque()
        .method<&define_network>("define_network", {"nodes", "links"})
        .method<&request_entanglement>("request_entanglement",
                                       {"from_node", "to", "fidelity_target", "max_latency_ms", "strategy"})
        .method<&simulate>("simulate",
                           {"from_node", "to", "fidelity_target", "max_latency_ms", "runs", "strategy", "seed"});
}

PyTypeObject* Bound<MonteCarloStats>::type() noexcept {
    return lazy_type<MonteCarloStats>([](auto& table) {
        table
            .template constructor<&make_stats>({"total_runs", "empirical_success_rate", "mean_latency_ms",
                                                "mean_fidelity", "aggregate_congestion_drops",
                                                "link_utilization_heatmap", "context"})
            .described_fields()
            .attribute_doc("_context", "Optional context for post-hoc analysis (perturbation-based sensitivity).")
            .template method<&sensitivity_analysis>(
                "sensitivity_analysis",
                {{"seed_base", "Seed of the first perturbed ensemble; each ensemble takes the next one"}},
                kSensitivityDoc);
    });
}

PyTypeObject* Bound<MonteCarloContext>::type() noexcept {
    return lazy_type<MonteCarloContext>([](auto& table) { table.described_fields(); });
}

}  // namespace vorn::py
