#include "files/vorn_bridge.hpp"

namespace vorn::files {

NetworkTopologyPayload network_definitions_from_vorn(const VornFile& file) {
    NetworkTopologyPayload payload;
    payload.nodes.reserve(file.nodes.size());
    for (const VornNode& node : file.nodes)
        payload.nodes.push_back({node.id, node.memory_lifetime_ms ? *node.memory_lifetime_ms / 1000.0 : 1.0});
    payload.links.reserve(file.links.size());
    for (const VornLink& link : file.links) {
        const LinkType type = link.link_type == VornLinkType::Satellite ? LinkType::Satellite : LinkType::Fiber;
        std::optional<SatelliteConditions> conditions;
        if (link.satellite) conditions = link.satellite->conditions;
        payload.links.push_back({{link.figures, type}, conditions});
    }
    return payload;
}

SimulationConfig simulation_config_from_vorn(const VornFile& file) {
    if (!file.config) return SimulationConfig::engine_default();
    SimulationConfig config;
    // A file's config without alpha_loss means a factor of 0.22 itself, not a tenth of it.
    config.physical.baseline_purify_factor = file.config->alpha_loss ? *file.config->alpha_loss / 10.0 : 0.22;
    config.physical.speed_of_light_in_fiber_km_ms = 200.0;
    config.total_time_cutoff_ms = file.config->max_attempts ? *file.config->max_attempts * 50.0 : 5000.0;
    config.step_resolution_ms = 0.1;
    return config;
}

}  // namespace vorn::files
