// From a .vorn file to the records the engine defines its network and configuration from.
#pragma once

#include "core/network.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {

// Nodes and links in file order. memory_lifetime_t2 is memory_lifetime_ms / 1000 (1.0 s when
// absent); a link is Satellite exactly when its link_type is satellite; satellite conditions come
// from the link's satellite section. Capacities, node types, link ids and the sections are unused.
NetworkTopologyPayload network_definitions_from_vorn(const VornFile& file);

// Without config: the engine's default configuration (purify factor 0.12, cut-off 5000 ms).
// With config: purify factor alpha_loss / 10, or 0.22 without alpha_loss; cut-off
// max_attempts x 50 ms, or 5000 ms. Light speed 200 km/ms and step 0.1 ms in both cases.
SimulationConfig simulation_config_from_vorn(const VornFile& file);

}  // namespace vorn::files
