// The network model's figures for a network of nodes and links: each link as the physical model sees it,
// each node's memories, and each demand's route as the engine finds it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/physics/model.hpp"
#include "core/physics/network_model.hpp"
#include "core/strategy_type.hpp"

namespace vorn::physics {

struct DemandPair {
    std::string from_node;
    std::string to;
    double arrival_rate_per_ms = 0.0;  // 0: saturated
    std::int64_t max_outstanding = 0;  // 0: no bound
};

struct NetworkSetup {
    NetworkFigures figures;  // of the nodes of `network` in order and the links some route takes
    std::vector<Demand> demands;
    std::vector<std::vector<std::vector<std::string>>> paths;  // each demand's routes, by their nodes' ids
    std::vector<std::size_t> link_definitions;                 // per link of `figures`, its index in the definitions
};

// Memories of one node, or per link end, at most: far beyond any device, and no sum of them overflows.
inline constexpr std::uint64_t kMaxMemories = std::uint64_t{1} << 30;

// `memories` per node of `network` (absent: `memories_per_link_end` for each link at it). Each demand
// takes up to `paths` routes: the engine's for the strategy, then the best others by expected rate
// (best_routes.hpp); with more than one, every link's figures must suit the model. Throws InvalidValue
// for a demand between unknown or equal nodes or without a route, for `paths` 0, and for memories, a
// link's figures or the model out of range.
NetworkSetup network_setup(const QuantumNetwork& network, const std::vector<LinkDefinition>& links,
                           const std::vector<DemandPair>& demands, std::uint64_t paths,
                           const std::vector<std::optional<std::uint64_t>>& memories,
                           std::uint64_t memories_per_link_end, std::optional<StrategyType> strategy,
                           const PhysicalModel& model, Interruption* interruption);

}  // namespace vorn::physics
