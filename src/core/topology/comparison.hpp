// One entanglement request evaluated over several reference networks, with a recommendation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/failure.hpp"
#include "core/heatmap.hpp"
#include "core/request.hpp"
#include "describe/record.hpp"

namespace vorn {

struct TopologyEndpoints {
    std::string topology_name;
    std::string from_node;
    std::string to_node;
};

constexpr auto description(const TopologyEndpoints*) {
    using namespace describe;
    using E = TopologyEndpoints;
    return record<E>(field<&E::topology_name>("topology_name", "Name of a reference topology"),
                     field<&E::from_node>("from_node", "Node of that topology where the pair starts"),
                     field<&E::to_node>("to_node", "Node of that topology where the pair ends"));
}

struct TopologyComparisonResult {
    std::string topology_name;
    double success_rate = 0.0;
    double mean_latency_ms = 0.0;
    double mean_fidelity = 0.0;
    Heatmap link_utilization;
};

constexpr auto description(const TopologyComparisonResult*) {
    using namespace describe;
    using R = TopologyComparisonResult;
    return record<R>(
        field<&R::topology_name>("topology_name", "The endpoint's topology"),
        field<&R::success_rate>("success_rate", "Fraction of trials that succeeded"),
        field<&R::mean_latency_ms>("mean_latency_ms", "Mean simulated latency", "ms"),
        field<&R::mean_fidelity>("mean_fidelity", "Mean fidelity of the delivered pairs"),
        field<&R::link_utilization, Mapping>("link_utilization", "Generation attempts by hop key (\"A->B\")"));
}

struct TopologyComparisonReport {
    std::string source_node;
    std::string target_node;
    std::vector<TopologyComparisonResult> results;
    std::string recommended_topology = "unknown";
    std::string summary = "No topologies evaluated";
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;
    std::uint64_t runs = 0;
};

constexpr auto description(const TopologyComparisonReport*) {
    using namespace describe;
    using R = TopologyComparisonReport;
    return record<R>(field<&R::source_node>("source_node", "The first endpoint's start node"),
                     field<&R::target_node>("target_node", "The first endpoint's end node"),
                     field<&R::results>("results", "One result per endpoint, in order"),
                     field<&R::recommended_topology>("recommended_topology", "The topology recommended"),
                     field<&R::summary>("summary", "The comparison in words"),
                     field<&R::fidelity_target>("fidelity_target", "Fidelity target of the request"),
                     field<&R::max_latency_ms>("max_latency_ms", "Latency bound of the request", "ms"),
                     field<&R::runs>("runs", "Trials per topology"));
}

// Every name is checked before anything runs, then each endpoint's network gets a fresh engine of
// the default configuration and an unseeded ensemble of `runs` trials. An unknown name or end node
// is an InvalidValue; `interruption` (may be null) can stop the ensembles.
TopologyComparisonReport compare_topologies(const std::vector<TopologyEndpoints>& endpoints, double fidelity_target,
                                            double max_latency_ms, std::uint64_t runs,
                                            std::optional<StrategyType> strategy, Interruption* interruption = nullptr);

// The ranking and the summary over results already gathered. A result replaces the best success rate
// when its rate is at least as high (the later of equal rates wins) and the best latency only when its
// latency is strictly lower (the earlier wins); a NaN figure never replaces, so with NaN throughout
// (ensembles of no trials) the first result is best in both respects.
void rank_results(TopologyComparisonReport& report);

}  // namespace vorn
