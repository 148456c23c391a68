// The reference networks a caller can ask for by name.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/network_records.hpp"

namespace vorn {

// Fixed networks: nothing random, nothing read from files.
NetworkTopologyPayload telecom_backbone();
// Nodes N0 .. N(n-1) in a line, joined by identical 100 km fibre links; n is at least 1.
NetworkTopologyPayload repeater_chain(std::size_t nodes);
NetworkTopologyPayload hybrid_satellite_fiber();

// One name under which a reference network is known. `canonical` names are also the ones that
// generate_topology accepts; the others are aliases that only the comparison accepts.
struct TopologyName {
    std::string_view name;
    bool canonical;
    NetworkTopologyPayload (*build)();
};

// In the order the comparison lists them when it refuses a name.
extern const std::array<TopologyName, 5> kTopologyNames;

// The entry of `name` (exact match), or null; with `canonical_only`, aliases are not found.
const TopologyName* find_topology(std::string_view name, bool canonical_only);

// The network of a canonical name; InvalidValue, listing the canonical names, for any other.
NetworkTopologyPayload generate_topology(std::string_view name);

// The network of any name in the table; InvalidValue, listing every name, for any other.
NetworkTopologyPayload build_named_topology(std::string_view name);
// The same refusal without building anything, for checking names up front.
void check_topology_name(std::string_view name);

}  // namespace vorn
