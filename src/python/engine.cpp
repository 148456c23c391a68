// Python classes of the engine and of Monte Carlo statistics.
#include "core/sensitivity.hpp"
#include "python/classes.hpp"
#include "python/interruption.hpp"

namespace vorn::py {

namespace {

Engine make_engine(std::optional<SimulationConfig> config) {
    return Engine(config.value_or(SimulationConfig::engine_default()));
}

void define_network(Engine& engine, std::vector<NodeDefinition> nodes, std::vector<LinkDefinition> links) {
    engine.define_network(nodes, links);
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

MonteCarloStats make_stats(std::uint64_t total_runs, double empirical_success_rate, double mean_latency_ms,
                           double mean_fidelity, std::uint64_t aggregate_congestion_drops,
                           Entries<std::uint64_t> link_utilization_heatmap, std::optional<MonteCarloContext> context) {
    return {total_runs,        empirical_success_rate,     mean_latency_ms,
            mean_fidelity,     aggregate_congestion_drops, std::move(link_utilization_heatmap.items),
            std::move(context)};
}

// The context lists its nodes and links as plain tuples.
using NodeTuple = std::tuple<std::string, double>;
using LinkTuple = std::tuple<std::string, std::string, double, double, double>;

std::vector<NodeTuple> context_nodes(const MonteCarloContext& context) {
    std::vector<NodeTuple> nodes;
    nodes.reserve(context.nodes.size());
    for (const NodeDefinition& node : context.nodes) nodes.emplace_back(node.id, node.memory_lifetime_t2);
    return nodes;
}
void set_context_nodes(MonteCarloContext& context, std::vector<NodeTuple> nodes) {
    std::vector<NodeDefinition> records;
    records.reserve(nodes.size());
    for (auto& [id, lifetime] : nodes) records.push_back({std::move(id), lifetime});
    context.nodes = std::move(records);
}

std::vector<LinkTuple> context_links(const MonteCarloContext& context) {
    std::vector<LinkTuple> links;
    links.reserve(context.links.size());
    for (const LinkFigures& link : context.links)
        links.emplace_back(link.from, link.to, link.distance_km, link.base_fidelity, link.generation_rate_hz);
    return links;
}
void set_context_links(MonteCarloContext& context, std::vector<LinkTuple> links) {
    std::vector<LinkFigures> records;
    records.reserve(links.size());
    for (auto& [from, to, distance_km, base_fidelity, generation_rate_hz] : links)
        records.push_back({std::move(from), std::move(to), distance_km, base_fidelity, generation_rate_hz});
    context.links = std::move(records);
}

Entries<std::uint64_t> heatmap(const MonteCarloStats& stats) { return {stats.link_utilization_heatmap}; }
void set_heatmap(MonteCarloStats& stats, Entries<std::uint64_t> entries) {
    stats.link_utilization_heatmap = std::move(entries.items);
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
            .field("total_runs", &MonteCarloStats::total_runs)
            .field("empirical_success_rate", &MonteCarloStats::empirical_success_rate)
            .field("mean_latency_ms", &MonteCarloStats::mean_latency_ms)
            .field("mean_fidelity", &MonteCarloStats::mean_fidelity)
            .field("aggregate_congestion_drops", &MonteCarloStats::aggregate_congestion_drops)
            .template property<&heatmap, &set_heatmap>("link_utilization_heatmap")
            .field("_context", &MonteCarloStats::context,
                   "Optional context for post-hoc analysis (perturbation-based sensitivity).")
            .template method<&sensitivity_analysis>("sensitivity_analysis", {"seed_base"}, kSensitivityDoc);
    });
}

PyTypeObject* Bound<MonteCarloContext>::type() noexcept {
    return lazy_type<MonteCarloContext>([](auto& table) {
        table.field("seed", &MonteCarloContext::seed)
            .template property<&context_nodes, &set_context_nodes>("nodes")
            .template property<&context_links, &set_context_links>("links")
            .field("from_node", &MonteCarloContext::from_node)
            .field("to_node", &MonteCarloContext::to_node)
            .field("fidelity_target", &MonteCarloContext::fidelity_target)
            .field("max_latency_ms", &MonteCarloContext::max_latency_ms)
            .field("total_time_cutoff_ms", &MonteCarloContext::total_time_cutoff_ms)
            .field("step_resolution_ms", &MonteCarloContext::step_resolution_ms)
            .field("baseline_purify_factor", &MonteCarloContext::baseline_purify_factor)
            .field("strategy", &MonteCarloContext::strategy);
    });
}

}  // namespace vorn::py
