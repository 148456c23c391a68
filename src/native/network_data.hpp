// Networks, configurations and strategies as the companion sends them: plain tuples, which pickle
// to any worker, turned into core records once per call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/network.hpp"
#include "core/request.hpp"

namespace vorn::native {

// (id, memory_lifetime_t2)
using NodeTuple = std::tuple<std::string, double>;
// (from_node, to, distance_km, base_fidelity, generation_rate_hz, "Fiber" or "Satellite",
//  (visibility, weather_factor) or None)
using LinkTuple = std::tuple<std::string, std::string, double, double, double, std::string,
                             std::optional<std::tuple<double, double>>>;
// (total_time_cutoff_ms, step_resolution_ms, baseline_purify_factor, speed_of_light_in_fiber_km_ms)
using ConfigTuple = std::tuple<double, double, double, double>;

NodeDefinition node_of(NodeTuple node);
// An unknown link type name is a ValueError naming it.
LinkDefinition link_of(LinkTuple link);
std::vector<NodeDefinition> nodes_of(std::vector<NodeTuple> nodes);
std::vector<LinkDefinition> links_of(std::vector<LinkTuple> links);

// None is the configuration of an engine built without one.
SimulationConfig config_of(const std::optional<ConfigTuple>& config);

// None is the engine's default; an unknown value is a ValueError.
std::optional<StrategyType> strategy_of(std::optional<std::uint64_t> value);

// The way back, for networks built natively (reference topologies, files) that the companion
// then holds as plain data.
NodeTuple node_tuple(const NodeDefinition& node);
LinkTuple link_tuple(const LinkDefinition& link);
ConfigTuple config_tuple(const SimulationConfig& config);

// A ValueError "<argument>: no node '<id>' in the network" unless the network has the node.
void require_node(const QuantumNetwork& network, const char* argument, const std::string& id);

}  // namespace vorn::native
