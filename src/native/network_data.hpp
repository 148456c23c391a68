// vorn_core's records as the companion sends them (vorn_core's own objects, which pickle to any worker,
// or objects with their attributes) and as it gets them back: instances of vorn_core's classes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/network.hpp"
#include "core/request.hpp"
#include "python/classes.hpp"
#include "python/files.hpp"
#include "python/toolkit/described.hpp"

namespace vorn::native {

using NodeData = py::Loose<NodeDefinition>;
using LinkData = py::Loose<LinkDefinition>;
using ConfigData = py::Loose<SimulationConfig>;
using RequestData = py::Loose<EntanglementRequest>;

std::vector<NodeDefinition> nodes_of(std::vector<NodeData> nodes);
std::vector<LinkDefinition> links_of(std::vector<LinkData> links);

// Records to give back, moved.
template <class R>
std::vector<py::Loose<R>> loose(std::vector<R> records) {
    std::vector<py::Loose<R>> out;
    out.reserve(records.size());
    for (R& record : records) out.push_back({std::move(record)});
    return out;
}

// None is the configuration of an engine built without one.
SimulationConfig config_of(std::optional<ConfigData> config);
// The same, its figures checked: a ValueError naming the first out of its range.
SimulationConfig checked_config(std::optional<ConfigData> config);

// None is the engine's default; an unknown value is a ValueError.
std::optional<StrategyType> strategy_of(std::optional<std::uint64_t> value);

// A ValueError "<argument>: no node '<id>' in the network" unless the network has the node.
void require_node(const QuantumNetwork& network, const char* argument, const std::string& id);

// The network of definitions that pass check_definitions (core/figure_rules.hpp), and a request on it
// whose figures pass and whose ends are two different nodes of it; a ValueError naming the first that does not.
QuantumNetwork checked_network(std::vector<NodeData> nodes, std::vector<LinkData> links);
EntanglementRequest checked_request(const QuantumNetwork& network, RequestData request);

}  // namespace vorn::native
