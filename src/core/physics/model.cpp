#include "core/physics/model.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/figure_rules.hpp"
#include "core/network.hpp"
#include "core/number_text.hpp"
#include "core/routing.hpp"

namespace vorn::physics {
namespace {

[[noreturn]] void refuse(const std::string& what, const std::string& rule, double value) {
    throw InvalidValue(what + " must be " + rule + ", got " + debug_number_text(value));
}

void require(bool holds, const std::string& what, const char* rule, double value) {
    if (!holds) refuse(what, rule, value);
}

std::string link_name(const LinkDefinition& link) { return "link '" + link.from + "'-'" + link.to + "'"; }

}  // namespace

void check_model(const PhysicalModel& model) {
    require(std::isfinite(model.attenuation_db_km) && model.attenuation_db_km >= 0.0,
            "attenuation_db_km:", "finite and non-negative", model.attenuation_db_km);
    require(model.efficiency > 0.0 && model.efficiency <= 1.0, "efficiency:", "within (0, 1]", model.efficiency);
    require(std::isfinite(model.satellite_loss_db) && model.satellite_loss_db >= 0.0,
            "satellite_loss_db:", "finite and non-negative", model.satellite_loss_db);
    require(model.swap_success_probability > 0.0 && model.swap_success_probability <= 1.0,
            "swap_success_probability:", "within (0, 1]", model.swap_success_probability);
    if (model.cutoff_ms) require(*model.cutoff_ms >= 0.0, "cutoff_ms:", "non-negative", *model.cutoff_ms);
    require(model.signal_speed_km_ms > 0.0, "signal_speed_km_ms:", "positive", model.signal_speed_km_ms);
    if (model.max_waiting_time_ms)
        require(*model.max_waiting_time_ms >= 0.0, "max_waiting_time_ms:", "non-negative", *model.max_waiting_time_ms);
    named(kHeraldings, model.heralding, "heralding");
    named(kMemoryNoises, model.memory_noise, "memory_noise");
    require(model.swap_gate_error >= 0.0 && model.swap_gate_error <= 1.0, "swap_gate_error:", "within [0, 1]",
            model.swap_gate_error);
    require(model.measurement_error >= 0.0 && model.measurement_error <= 1.0, "measurement_error:", "within [0, 1]",
            model.measurement_error);
    if (model.modes < 1) throw InvalidValue("modes: must be at least 1, got " + std::to_string(model.modes));
    if (model.distillation_rounds < 0 || model.distillation_rounds > kMaxDistillationRounds)
        throw InvalidValue("distillation_rounds: must be within [0, " + std::to_string(kMaxDistillationRounds) +
                           "], got " + std::to_string(model.distillation_rounds));
    named(kDistillations, model.distillation, "distillation");
}

Hop hop_of(const LinkDefinition& link, const PhysicalModel& model) {
    check_figures(link);
    Hop hop;
    if (link.link_type == LinkType::Satellite) {
        const SatelliteConditions conditions = link.satellite_conditions.value_or(SatelliteConditions{});
        hop.transmissivity =
            std::pow(10.0, -model.satellite_loss_db / 10.0) * conditions.visibility * conditions.weather_factor;
    } else {
        hop.transmissivity = std::pow(10.0, -model.attenuation_db_km * link.distance_km / 10.0);
    }
    hop.success_probability = model.efficiency * hop.transmissivity;
    if (!(hop.success_probability > 0.0))
        throw InvalidValue("links: " + link_name(link) + " never succeeds (its success probability is 0)");
    hop.distance_km = link.distance_km;
    hop.source_period_ms = kMsPerSecond / link.generation_rate_hz;
    hop.attempt_ms = std::max(hop.source_period_ms, herald_ms(link.distance_km / model.signal_speed_km_ms,
                                                              named(kHeraldings, model.heralding, "heralding")));
    hop.werner = (4.0 * link.base_fidelity - 1.0) / 3.0;
    return hop;
}

Chain chain_between(const QuantumNetwork& network, const std::vector<LinkDefinition>& links, std::string_view from_node,
                    std::string_view to, std::optional<StrategyType> strategy, const PhysicalModel& model,
                    Interruption* interruption) {
    check_model(model);
    check_distinct_ends(from_node, to);
    const std::optional<RouteInfo> route =
        find_route(network, from_node, to, strategy.value_or(StrategyType::HighestFidelity), interruption);
    Chain chain;
    if (!route) return chain;
    for (std::size_t link : route->hop_links) chain.hops.push_back(hop_of(links[link], model));
    for (const std::string& id : route->path) {
        const auto found = std::find_if(network.nodes().begin(), network.nodes().end(),
                                        [&](const NodeDefinition& node) { return node.id == id; });
        if (found == network.nodes().end())
            throw InvalidValue("nodes: no node '" + id + "', which a link on the route names");
        check_figures(*found);
        chain.decay_per_ms.push_back(1.0 / (kMsPerSecond * found->memory_lifetime_t2));
    }
    chain.path = route->path;
    return chain;
}

}  // namespace vorn::physics
