// Python classes of the network records, requests, results and strategies.
#include "python/classes.hpp"

namespace vorn::py {

namespace {

NodeDefinition make_node(std::string id, double memory_lifetime_t2) { return {std::move(id), memory_lifetime_t2}; }

SatelliteConditions make_conditions(std::optional<double> visibility, std::optional<double> weather_factor) {
    return {visibility.value_or(1.0), weather_factor.value_or(1.0)};
}
double effective_rate(const SatelliteConditions& conditions, double base_rate) {
    return conditions.effective_rate(base_rate);
}

LinkDefinition make_link(std::string from_node, std::string to, double distance_km, double base_fidelity,
                         double generation_rate_hz, std::optional<LinkType> link_type,
                         std::optional<SatelliteConditions> satellite_conditions) {
    return {{{std::move(from_node), std::move(to), distance_km, base_fidelity, generation_rate_hz},
             link_type.value_or(LinkType::Fiber)},
            satellite_conditions};
}

PhysicalConfig make_physical(std::optional<double> alpha_loss_db_km) {
    return PhysicalConfig::from_alpha_loss(alpha_loss_db_km);
}

SimulationConfig make_config(std::optional<double> total_time_cutoff_ms, std::optional<double> step_resolution_ms,
                             std::optional<double> alpha_loss_db_km) {
    SimulationConfig config;
    config.physical = PhysicalConfig::from_alpha_loss(alpha_loss_db_km);
    if (total_time_cutoff_ms) config.total_time_cutoff_ms = *total_time_cutoff_ms;
    if (step_resolution_ms) config.step_resolution_ms = *step_resolution_ms;
    return config;
}

NetworkTopologyPayload make_payload(std::vector<NodeDefinition> nodes, std::vector<LinkDefinition> links) {
    return {std::move(nodes), std::move(links)};
}

std::uint64_t to_u8(const StrategyType& strategy) { return static_cast<std::uint64_t>(strategy); }

EntanglementRequest make_request(std::string from_node, std::string to, double fidelity_target, double max_latency_ms,
                                 std::optional<StrategyType> strategy) {
    return {std::move(from_node), std::move(to), fidelity_target, max_latency_ms, strategy};
}

SimulationResult make_result(bool success, double latency_ms, double final_fidelity,
                             std::vector<std::string> execution_path) {
    return {success, latency_ms, final_fidelity, std::move(execution_path)};
}

}  // namespace

PyTypeObject* Bound<NodeDefinition>::type() noexcept {
    return lazy_type<NodeDefinition>([](auto& table) {
        table.template constructor<&make_node>({"id", "memory_lifetime_t2"})
            .field("id", &NodeDefinition::id)
            .field("memory_lifetime_t2", &NodeDefinition::memory_lifetime_t2);
    });
}

PyTypeObject* Bound<LinkType>::type() noexcept {
    return lazy_type<LinkType>(
        [](auto& table) { table.member("Fiber", LinkType::Fiber).member("Satellite", LinkType::Satellite); });
}

PyTypeObject* Bound<SatelliteConditions>::type() noexcept {
    return lazy_type<SatelliteConditions>([](auto& table) {
        table.template constructor<&make_conditions>({"visibility", "weather_factor"})
            .field("visibility", &SatelliteConditions::visibility)
            .field("weather_factor", &SatelliteConditions::weather_factor)
            .template method<&effective_rate>("effective_rate", {"base_rate"},
                                              "Calculate effective generation rate based on conditions");
    });
}

PyTypeObject* Bound<LinkDefinition>::type() noexcept {
    return lazy_type<LinkDefinition>([](auto& table) {
        table
            .template constructor<&make_link>({"from_node", "to", "distance_km", "base_fidelity", "generation_rate_hz",
                                               "link_type", "satellite_conditions"})
            .field("from_node", &LinkDefinition::from)
            .field("to", &LinkDefinition::to)
            .field("distance_km", &LinkDefinition::distance_km)
            .field("base_fidelity", &LinkDefinition::base_fidelity)
            .field("generation_rate_hz", &LinkDefinition::generation_rate_hz)
            .field("link_type", &LinkDefinition::link_type)
            .field("satellite_conditions", &LinkDefinition::satellite_conditions);
    });
}

PyTypeObject* Bound<PhysicalConfig>::type() noexcept {
    return lazy_type<PhysicalConfig>([](auto& table) {
        table.template constructor<&make_physical>({"alpha_loss_db_km"})
            .field("baseline_purify_factor", &PhysicalConfig::baseline_purify_factor)
            .field("speed_of_light_in_fiber_km_ms", &PhysicalConfig::speed_of_light_in_fiber_km_ms);
    });
}

PyTypeObject* Bound<SimulationConfig>::type() noexcept {
    return lazy_type<SimulationConfig>([](auto& table) {
        table.template constructor<&make_config>({"total_time_cutoff_ms", "step_resolution_ms", "alpha_loss_db_km"})
            .field("physical", &SimulationConfig::physical)
            .field("total_time_cutoff_ms", &SimulationConfig::total_time_cutoff_ms)
            .field("step_resolution_ms", &SimulationConfig::step_resolution_ms);
    });
}

PyTypeObject* Bound<NetworkTopologyPayload>::type() noexcept {
    return lazy_type<NetworkTopologyPayload>([](auto& table) {
        table.template constructor<&make_payload>({"nodes", "links"})
            .field("nodes", &NetworkTopologyPayload::nodes)
            .field("links", &NetworkTopologyPayload::links);
    });
}

PyTypeObject* Bound<StrategyType>::type() noexcept {
    return lazy_type<StrategyType>([](auto& table) {
        table.member("LowestLatency", StrategyType::LowestLatency)
            .member("HighestFidelity", StrategyType::HighestFidelity)
            .member("HighestSuccess", StrategyType::HighestSuccess)
            .template method<&to_u8>("to_u8", {});
    });
}

PyTypeObject* Bound<EntanglementRequest>::type() noexcept {
    return lazy_type<EntanglementRequest>([](auto& table) {
        table.template constructor<&make_request>({"from_node", "to", "fidelity_target", "max_latency_ms", "strategy"})
            .field("from_node", &EntanglementRequest::from_node)
            .field("to", &EntanglementRequest::to)
            .field("fidelity_target", &EntanglementRequest::fidelity_target)
            .field("max_latency_ms", &EntanglementRequest::max_latency_ms)
            .field("strategy", &EntanglementRequest::strategy);
    });
}

PyTypeObject* Bound<SimulationResult>::type() noexcept {
    return lazy_type<SimulationResult>([](auto& table) {
        table.template constructor<&make_result>({"success", "latency_ms", "final_fidelity", "execution_path"})
            .field("success", &SimulationResult::success)
            .field("latency_ms", &SimulationResult::latency_ms)
            .field("final_fidelity", &SimulationResult::final_fidelity)
            .field("execution_path", &SimulationResult::execution_path);
    });
}

}  // namespace vorn::py
