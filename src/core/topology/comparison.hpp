// One entanglement request evaluated over several reference networks, with a recommendation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/failure.hpp"
#include "core/heatmap.hpp"
#include "core/request.hpp"

namespace vorn {

struct TopologyEndpoints {
    std::string topology_name;
    std::string from_node;
    std::string to_node;
};

struct TopologyComparisonResult {
    std::string topology_name;
    double success_rate = 0.0;
    double mean_latency_ms = 0.0;
    double mean_fidelity = 0.0;
    Heatmap link_utilization;
};

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

// Every name and then every end node is checked before anything runs, then each endpoint's network
// gets a fresh engine of the default configuration and an unseeded ensemble of `runs` trials. An
// unknown name or end node is an InvalidValue; `interruption` (may be null) can stop the ensembles.
TopologyComparisonReport compare_topologies(const std::vector<TopologyEndpoints>& endpoints, double fidelity_target,
                                            double max_latency_ms, std::uint64_t runs,
                                            std::optional<StrategyType> strategy, Interruption* interruption = nullptr);

// The ranking and the summary over results already gathered. A result replaces the best success rate
// when its rate is at least as high (the later of equal rates wins) and the best latency only when its
// latency is strictly lower (the earlier wins); a NaN figure never replaces, so with NaN throughout
// (ensembles of no trials) the first result is best in both respects.
void rank_results(TopologyComparisonReport& report);

}  // namespace vorn
