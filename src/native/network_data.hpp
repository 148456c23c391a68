// Networks, configurations and strategies as the companion sends them (vorn_core's own records, which
// pickle to any worker, or plain data), turned into core records once per call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/network.hpp"
#include "core/request.hpp"
#include "python/toolkit/described.hpp"

namespace vorn::native {

// A node or a link from any object carrying its fields: vorn_core's NodeDefinition and LinkDefinition,
// objects with the same attributes, or plain tuples of the fields in order ((id, memory_lifetime_t2);
// (from_node, to, distance_km, base_fidelity, generation_rate_hz, "Fiber" or "Satellite" or a
// LinkType, (visibility, weather_factor) or SatelliteConditions or None)).
using NodeData = py::Loose<NodeDefinition>;
using LinkData = py::Loose<LinkDefinition>;
// A SimulationConfig, or any object with its attributes.
using ConfigData = py::Loose<SimulationConfig>;

std::vector<NodeDefinition> nodes_of(std::vector<NodeData> nodes);
std::vector<LinkDefinition> links_of(std::vector<LinkData> links);

// None is the configuration of an engine built without one.
SimulationConfig config_of(std::optional<ConfigData> config);

// None is the engine's default; an unknown value is a ValueError.
std::optional<StrategyType> strategy_of(std::optional<std::uint64_t> value);

// A ValueError "<argument>: no node '<id>' in the network" unless the network has the node.
void require_node(const QuantumNetwork& network, const char* argument, const std::string& id);

}  // namespace vorn::native
