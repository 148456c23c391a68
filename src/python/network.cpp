// Python classes of the network records, requests, results and strategies.
#include "python/classes.hpp"

namespace vorn::py {

namespace {

double effective_rate(const SatelliteConditions& conditions, double base_rate) {
    return conditions.effective_rate(base_rate);
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

std::uint64_t to_u8(const StrategyType& strategy) { return static_cast<std::uint64_t>(strategy); }

}  // namespace

PyTypeObject* Bound<NodeDefinition>::type() noexcept {
    return lazy_type<NodeDefinition>([](auto& table) { table.described_constructor().described_fields(); });
}

PyTypeObject* Bound<LinkType>::type() noexcept {
    return lazy_type<LinkType>([](auto& table) { table.described_members(); });
}

PyTypeObject* Bound<SatelliteConditions>::type() noexcept {
    return lazy_type<SatelliteConditions>([](auto& table) {
        table.described_constructor().described_fields().template method<&effective_rate>(
            "effective_rate", {{"base_rate", "Generation rate before the conditions apply", "Hz"}},
            "Calculate effective generation rate based on conditions");
    });
}

PyTypeObject* Bound<LinkDefinition>::type() noexcept {
    return lazy_type<LinkDefinition>([](auto& table) { table.described_constructor().described_fields(); });
}

PyTypeObject* Bound<PhysicalConfig>::type() noexcept {
    return lazy_type<PhysicalConfig>(
        [](auto& table) { table.template constructor<&make_physical>({"alpha_loss_db_km"}).described_fields(); });
}

PyTypeObject* Bound<SimulationConfig>::type() noexcept {
    return lazy_type<SimulationConfig>([](auto& table) {
        table.template constructor<&make_config>({"total_time_cutoff_ms", "step_resolution_ms", "alpha_loss_db_km"})
            .described_fields();
    });
}

PyTypeObject* Bound<NetworkTopologyPayload>::type() noexcept {
    return lazy_type<NetworkTopologyPayload>([](auto& table) { table.described_constructor().described_fields(); });
}

PyTypeObject* Bound<StrategyType>::type() noexcept {
    return lazy_type<StrategyType>(
        [](auto& table) { table.described_members().template method<&to_u8>("to_u8", {}, nullptr); });
}

PyTypeObject* Bound<EntanglementRequest>::type() noexcept {
    return lazy_type<EntanglementRequest>([](auto& table) { table.described_constructor().described_fields(); });
}

PyTypeObject* Bound<SimulationResult>::type() noexcept {
    return lazy_type<SimulationResult>([](auto& table) { table.described_constructor().described_fields(); });
}

}  // namespace vorn::py
