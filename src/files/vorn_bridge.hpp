// Between a .vorn file and the records an engine defines its network and configuration from, both ways.
#pragma once

#include <optional>

#include "core/network_records.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {

// What a file's config section stands for: the cut-off is max_attempts attempts of 50 ms; a section
// without alpha_loss gives a purify factor of 0.22 itself, not a tenth of it; a node without
// memory_lifetime_ms has a T2 of 1 s.
inline constexpr double kMsPerAttempt = 50.0;
inline constexpr double kSectionPurifyFactor = 0.22;
inline constexpr double kNodeLifetimeS = 1.0;

// Nodes and links in file order. memory_lifetime_t2 is memory_lifetime_ms / 1000 (1.0 s when
// absent); a link is Satellite exactly when its link_type is satellite; satellite conditions come
// from the link's satellite section. Capacities, node types, link ids and the sections are unused.
NetworkTopologyPayload network_definitions_from_vorn(const VornFile& file);

// Without config: the engine's default configuration (purify factor 0.12, cut-off 5000 ms).
// With config: purify factor alpha_loss / 10, or 0.22 without alpha_loss; cut-off
// max_attempts x 50 ms, or 5000 ms. Light speed 200 km/ms and step 0.1 ms in both cases.
SimulationConfig simulation_config_from_vorn(const VornFile& file);

// A file named by `metadata` from which the two functions above give back `network` and `config`
// (absent: an engine's default configuration), and that keeps `constraints`:
// - T2 (s) becomes the memory_lifetime_ms that gives it back exactly when divided by 1000 (for the 2 %
//   of values that no number of ms gives back, the closest: one unit in the last place off);
// - links keep their order, type and satellite conditions; their ids are "A->B" ("A->B#2" for a
//   second link between the same ends);
// - the engine's default configuration writes no config section; another is written as alpha_loss
//   (10 x the purify factor) and max_attempts (cut-off / 50 ms). One that a file cannot hold (another
//   signal speed or step, a cut-off that is no whole number of attempts, a negative fibre loss) throws
//   InvalidValue naming it.
VornFile vorn_file_from_network(const NetworkTopologyPayload& network, const std::optional<SimulationConfig>& config,
                                std::optional<VornConstraints> constraints, VornMetadata metadata);

}  // namespace vorn::files
