#include "core/topology/comparison.hpp"

#include <cmath>

#include "core/debug_text.hpp"
#include "core/engine.hpp"
#include "core/ensemble.hpp"
#include "core/number_text.hpp"
#include "core/saturating_count.hpp"
#include "core/topology/catalog.hpp"

namespace vorn {
namespace {

std::string node_list_text(const std::vector<NodeDefinition>& nodes) {
    std::string text = "[";
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (i > 0) text += ", ";
        text += debug_quoted(nodes[i].id);
    }
    return text + "]";
}

void check_end_node(const NetworkTopologyPayload& payload, const std::string& node, const char* role,
                    const std::string& topology_name) {
    for (const NodeDefinition& defined : payload.nodes)
        if (defined.id == node) return;
    throw InvalidValue(std::string(role) + " node '" + node + "' not found in topology '" + topology_name +
                       "'. Available nodes: " + node_list_text(payload.nodes));
}

}  // namespace

void rank_results(TopologyComparisonReport& report) {
    const auto& results = report.results;
    if (results.empty()) {
        report.recommended_topology = "unknown";
        report.summary = "No topologies evaluated";
        return;
    }
    const TopologyComparisonResult* best_success = &results.front();
    const TopologyComparisonResult* best_latency = &results.front();
    double fidelity_sum = 0.0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const TopologyComparisonResult& result = results[i];
        if (i > 0 && result.success_rate >= best_success->success_rate) best_success = &result;
        if (i > 0 && result.mean_latency_ms < best_latency->mean_latency_ms) best_latency = &result;
        fidelity_sum += result.mean_fidelity;
    }
    report.recommended_topology = best_success->topology_name;
    report.summary =
        "Evaluated " + std::to_string(results.size()) + " topologies. Recommended: " + report.recommended_topology +
        ". " + "Best success rate: " + std::to_string(saturating_count(best_success->success_rate * 100.0)) + " (" +
        best_success->topology_name + "), Best latency: " + fixed_number_text(best_latency->mean_latency_ms, 2) +
        "ms (" + best_latency->topology_name +
        "). Average fidelity: " + fixed_number_text(fidelity_sum / static_cast<double>(results.size()), 4) + ".";
}

TopologyComparisonReport compare_topologies(const std::vector<TopologyEndpoints>& endpoints, double fidelity_target,
                                            double max_latency_ms, std::uint64_t runs,
                                            std::optional<StrategyType> strategy, Interruption* interruption) {
    for (const TopologyEndpoints& endpoint : endpoints) check_topology_name(endpoint.topology_name);

    TopologyComparisonReport report;
    report.fidelity_target = fidelity_target;
    report.max_latency_ms = max_latency_ms;
    report.runs = runs;
    if (!endpoints.empty()) {
        report.source_node = endpoints.front().from_node;
        report.target_node = endpoints.front().to_node;
    }
    // Every end node too is checked before the first ensemble runs, so that a bad endpoint late in
    // the list costs no simulation; the first error in endpoint order is the one reported.
    std::vector<NetworkTopologyPayload> payloads;
    payloads.reserve(endpoints.size());
    for (const TopologyEndpoints& endpoint : endpoints) {
        const NetworkTopologyPayload& payload = payloads.emplace_back(build_named_topology(endpoint.topology_name));
        check_end_node(payload, endpoint.from_node, "Source", endpoint.topology_name);
        check_end_node(payload, endpoint.to_node, "Target", endpoint.topology_name);
    }
    const SimulationConfig config = SimulationConfig::engine_default();
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        const TopologyEndpoints& endpoint = endpoints[i];
        const NetworkTopologyPayload& payload = payloads[i];
        const QuantumNetwork network = QuantumNetwork::from_definitions(payload.nodes, payload.links);
        const EntanglementRequest request{endpoint.from_node, endpoint.to_node, fidelity_target, max_latency_ms,
                                          strategy};
        MonteCarloStats stats = execute_ensemble(network, config, request, runs, clock_seed(), interruption);
        report.results.push_back({endpoint.topology_name, stats.empirical_success_rate, stats.mean_latency_ms,
                                  stats.mean_fidelity, std::move(stats.link_utilization_heatmap)});
    }
    rank_results(report);
    return report;
}

}  // namespace vorn
