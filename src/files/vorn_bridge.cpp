#include "files/vorn_bridge.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <unordered_map>

#include "core/failure.hpp"
#include "core/figure_rules.hpp"
#include "core/number_text.hpp"
#include "files/json_number.hpp"

namespace vorn::files {
namespace {

// The number m whose m / factor comes closest to `value`: equal to it wherever such an m exists, else
// one unit in the last place off; of equally close ones the one the file writes shortest.
double scaled_exactly(double value, double factor) {
    const double candidate = value * factor;
    double best = candidate;
    double best_error = std::fabs(best / factor - value);
    std::size_t best_length = json_number_text(best).size();
    double below = candidate;
    double above = candidate;
    for (int step = 0; step < 8; ++step) {
        below = std::nextafter(below, -std::numeric_limits<double>::infinity());
        above = std::nextafter(above, std::numeric_limits<double>::infinity());
        for (const double m : {below, above}) {
            const double error = std::fabs(m / factor - value);
            const std::size_t length = json_number_text(m).size();
            if (error == best_error ? length < best_length : error < best_error) {
                best = m;
                best_error = error;
                best_length = length;
            }
        }
    }
    return best;
}

[[noreturn]] void unwritable(const std::string& field, double value, const std::string& reason) {
    throw InvalidValue("config." + field + " " + debug_number_text(value) +
                       " cannot be written to a .vorn file: " + reason);
}

std::optional<VornConfig> config_section(const std::optional<SimulationConfig>& config) {
    const SimulationConfig engine_default = SimulationConfig::engine_default();
    if (!config) return std::nullopt;
    const PhysicalConfig& physical = config->physical;
    if (physical.baseline_purify_factor == engine_default.physical.baseline_purify_factor &&
        physical.speed_of_light_in_fiber_km_ms == engine_default.physical.speed_of_light_in_fiber_km_ms &&
        config->total_time_cutoff_ms == engine_default.total_time_cutoff_ms &&
        config->step_resolution_ms == engine_default.step_resolution_ms)
        return std::nullopt;  // a file without config gives an engine the default configuration
    const std::string always = "an engine made from one always has ";
    if (physical.speed_of_light_in_fiber_km_ms != kFibreSpeedKmMs)
        unwritable("physical.speed_of_light_in_fiber_km_ms", physical.speed_of_light_in_fiber_km_ms,
                   always + debug_number_text(kFibreSpeedKmMs));
    if (config->step_resolution_ms != kStepMs)
        unwritable("step_resolution_ms", config->step_resolution_ms, always + debug_number_text(kStepMs));
    const double attempts = config->total_time_cutoff_ms / kMsPerAttempt;
    if (!(attempts == std::floor(attempts) && attempts >= 0.0 && attempts < 4294967296.0 &&
          attempts * kMsPerAttempt == config->total_time_cutoff_ms))
        unwritable("total_time_cutoff_ms", config->total_time_cutoff_ms,
                   "it keeps the cut-off as a whole number of " + plain_number_text(kMsPerAttempt) + " ms attempts");
    VornConfig section;
    section.alpha_loss = scaled_exactly(physical.baseline_purify_factor, kLossPerPurifyFactor);
    if (const FigureRule& rule = *figure_rule("alpha_loss"); !rule.holds(*section.alpha_loss))
        unwritable("physical.baseline_purify_factor", physical.baseline_purify_factor,
                   broken_rule_text("its fibre loss alpha_loss", rule, *section.alpha_loss));
    section.max_attempts = static_cast<std::uint32_t>(attempts);
    return section;
}

}  // namespace

NetworkTopologyPayload network_definitions_from_vorn(const VornFile& file) {
    NetworkTopologyPayload payload;
    payload.nodes.reserve(file.nodes.size());
    for (const VornNode& node : file.nodes)
        payload.nodes.push_back(
            {node.id, node.memory_lifetime_ms ? *node.memory_lifetime_ms / kMsPerSecond : kNodeLifetimeS});
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
    config.physical.baseline_purify_factor =
        file.config->alpha_loss ? purify_factor_of_loss(*file.config->alpha_loss) : kSectionPurifyFactor;
    config.physical.speed_of_light_in_fiber_km_ms = kFibreSpeedKmMs;
    config.total_time_cutoff_ms = file.config->max_attempts ? *file.config->max_attempts * kMsPerAttempt : kCutoffMs;
    config.step_resolution_ms = kStepMs;
    return config;
}

VornFile vorn_file_from_network(const NetworkTopologyPayload& network, const std::optional<SimulationConfig>& config,
                                std::optional<VornConstraints> constraints, VornMetadata metadata) {
    VornFile file;
    file.metadata = std::move(metadata);
    file.config = config_section(config);
    file.constraints = std::move(constraints);
    file.nodes.reserve(network.nodes.size());
    for (const NodeDefinition& node : network.nodes)
        file.nodes.push_back({node.id, scaled_exactly(node.memory_lifetime_t2, kMsPerSecond)});
    file.links.reserve(network.links.size());
    std::unordered_map<std::string, std::size_t> seen;
    for (const LinkDefinition& link : network.links) {
        const std::string key = link.from + "->" + link.to;
        const std::size_t count = ++seen[key];
        VornLink entry;
        entry.id = count == 1 ? key : key + "#" + std::to_string(count);
        entry.figures = link;
        entry.link_type = link.link_type == LinkType::Satellite ? VornLinkType::Satellite : VornLinkType::Fiber;
        if (link.satellite_conditions) entry.satellite = VornSatelliteExtension{*link.satellite_conditions};
        file.links.push_back(std::move(entry));
    }
    return file;
}

}  // namespace vorn::files
