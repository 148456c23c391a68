// The records a caller describes a network with, and the physical constants and configuration
// defaults they start from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/physical_constants.hpp"
#include "core/request.hpp"
#include "describe/record.hpp"

namespace vorn {

enum class LinkType : std::uint8_t { Fiber = 0, Satellite = 1 };

constexpr auto description(const LinkType*) {
    using namespace describe;
    return enumeration<LinkType>(
        Member<LinkType>{LinkType::Fiber, "Fiber", "an optical fibre"},
        Member<LinkType>{LinkType::Satellite, "Satellite", "a free-space link via a satellite"});
}

struct SatelliteConditions {
    double visibility = 1.0;
    double weather_factor = 1.0;

    double effective_rate(double base_rate) const { return base_rate * visibility * weather_factor; }
    friend bool operator==(const SatelliteConditions&, const SatelliteConditions&) = default;
};

constexpr auto description(const SatelliteConditions*) {
    using namespace describe;
    using S = SatelliteConditions;
    return record<S>(field<&S::visibility>("visibility",
                                           "Visibility factor of the satellite pass, a factor of the "
                                           "effective generation rate",
                                           kOptional),
                     field<&S::weather_factor>("weather_factor",
                                               "Weather factor, a factor of the effective "
                                               "generation rate",
                                               kOptional));
}

struct NodeDefinition {
    std::string id;
    double memory_lifetime_t2 = 0.0;  // seconds

    friend bool operator==(const NodeDefinition&, const NodeDefinition&) = default;
};

constexpr auto description(const NodeDefinition*) {
    using namespace describe;
    return record<NodeDefinition>(
        field<&NodeDefinition::id>("id",
                                   "Identifier of the node, unique in its network (a later node with the "
                                   "same id replaces the earlier one)")
            .read_by(route_finding("the two end nodes must be nodes of the network; the nodes between them are "
                                   "whatever the links name")),
        field<&NodeDefinition::memory_lifetime_t2>("memory_lifetime_t2",
                                                   "Coherence time T2 of the node's quantum "
                                                   "memory",
                                                   "s")
            .read_by(physical_model("a stored qubit's share of the Werner parameter decays as exp(-t / T2)")));
}

// The two ends and the three figures that every record of a link carries, wherever it is kept.
struct LinkFigures {
    std::string from;
    std::string to;
    double distance_km = 0.0;
    double base_fidelity = 0.0;
    double generation_rate_hz = 0.0;

    friend bool operator==(const LinkFigures&, const LinkFigures&) = default;
};

constexpr auto description(const LinkFigures*) {
    using namespace describe;
    using L = LinkFigures;
    constexpr Reading joins = route_finding(
        "a hop's figures come from its joining link, the first in the network's list that joins its two nodes in "
        "either direction; a parallel link after it is never read");
    return record<L>(
        field<&L::from>("from_node", "Identifier of one end node").read_by(joins),
        field<&L::to>("to", "Identifier of the other end node").read_by(joins),
        field<&L::distance_km>("distance_km", "Length of the channel", "km")
            .read_by(route_finding("the LowestLatency score, the total length (also the route HighestFidelity falls "
                                   "back to below the target)",
                                   strategy_bits(StrategyType::LowestLatency, StrategyType::HighestFidelity)),
                     timeline("attempt success probability; the travel time at admission (length / signal speed)"),
                     physical_model("fibre loss, and the herald's travel time in every attempt")),
        field<&L::base_fidelity>("base_fidelity",
                                 "Fidelity of one freshly generated entangled pair, a "
                                 "fraction in [0, 1]")
            .read_by(route_finding("the HighestFidelity score (the product) and the HighestSuccess score (the sum of "
                                   "fidelity × rate)",
                                   strategy_bits(StrategyType::HighestFidelity, StrategyType::HighestSuccess)),
                     timeline("admission estimate; attempt success probability; the fidelity of every delivered "
                              "pair, swapped and purified"),
                     physical_model("the Werner parameter of a fresh pair, (4F - 1) / 3")),
        field<&L::generation_rate_hz>("generation_rate_hz", "Rate of attempted pair generation", "Hz")
            .read_by(route_finding("only the HighestSuccess score (the sum of fidelity × rate); a cycle of the "
                                   "timeline lasts 2.5 ms whatever the rate",
                                   strategy_bits(StrategyType::HighestSuccess)),
                     physical_model("the length of an attempt, the source's period 1 / rate or the herald's "
                                    "travel time if longer")));
}

inline const LinkFigures& figures_of(const LinkFigures& link) { return link; }

// A link as the network keeps it.
struct InternalLink : LinkFigures {
    LinkType link_type = LinkType::Fiber;
};

constexpr auto description(const InternalLink*) {
    using namespace describe;
    return record<InternalLink>(
        base<LinkFigures>(),
        field<&InternalLink::link_type>("link_type", "Kind of channel (Fiber when omitted)", kOptional)
            .read_by(physical_model("fibre loss over the distance, or the fixed loss of a satellite link")));
}

// A link as a caller defines it: the network drops the satellite conditions when it takes the link.
struct LinkDefinition : InternalLink {
    std::optional<SatelliteConditions> satellite_conditions;
};

constexpr auto description(const LinkDefinition*) {
    using namespace describe;
    return record<LinkDefinition>(base<InternalLink>(),
                                  field<&LinkDefinition::satellite_conditions>(
                                      "satellite_conditions", "Conditions of a satellite link's pass", kOptional)
                                      .read_by(physical_model("a satellite link's transmissivity, times its "
                                                              "visibility and weather factor; the network drops "
                                                              "them, so the timeline never sees them")));
}

// The defaults of configurations, one home each (the companion reads them through vorn._native); the
// physical constants are in core/physical_constants.hpp.
// Configurations and files give a fibre loss in dB/km; the purify factor is a tenth of it.
inline constexpr double kLossPerPurifyFactor = 10.0;
inline constexpr double kRecordPurifyFactor = 0.022;  // of a PhysicalConfig built without a loss
inline constexpr double kEnginePurifyFactor = 0.12;   // of an engine built without a configuration
inline constexpr double kCutoffMs = 5000.0;
inline constexpr double kStepMs = 0.1;

inline double purify_factor_of_loss(double alpha_loss_db_km) { return alpha_loss_db_km / kLossPerPurifyFactor; }
inline double loss_of_purify_factor(double purify_factor) { return kLossPerPurifyFactor * purify_factor; }

struct PhysicalConfig {
    double baseline_purify_factor = kRecordPurifyFactor;
    double speed_of_light_in_fiber_km_ms = kFibreSpeedKmMs;

    static PhysicalConfig from_alpha_loss(std::optional<double> alpha_loss_db_km) {
        PhysicalConfig config;
        if (alpha_loss_db_km) config.baseline_purify_factor = purify_factor_of_loss(*alpha_loss_db_km);
        return config;
    }
};

constexpr auto description(const PhysicalConfig*) {
    using namespace describe;
    using P = PhysicalConfig;
    return record<P>(
        field<&P::baseline_purify_factor>("baseline_purify_factor",
                                          "Fidelity that the timeline adds to what its purification map "
                                          "gives (a tenth of the fibre loss in dB/km)",
                                          kAbsent)
            .read_by(timeline("added to the output of the purification map: admission estimate, swapping, "
                              "purification")),
        field<&P::speed_of_light_in_fiber_km_ms>("speed_of_light_in_fiber_km_ms",
                                                 "Signal speed in the fibre; a hop's propagation delay is its "
                                                 "length divided by it",
                                                 "km/ms", kAbsent)
            .read_by(timeline("the travel time at admission only (length / speed against the latency bound)")));
}

struct SimulationConfig {
    PhysicalConfig physical;
    double total_time_cutoff_ms = kCutoffMs;
    double step_resolution_ms = kStepMs;

    // What an engine built without a configuration runs with (not the record's own defaults).
    static SimulationConfig engine_default() {
        SimulationConfig config;
        config.physical.baseline_purify_factor = kEnginePurifyFactor;
        return config;
    }
};

constexpr auto description(const SimulationConfig*) {
    using namespace describe;
    using C = SimulationConfig;
    return record<C>(field<&C::physical>("physical", "Physical constants", kAbsent),
                     field<&C::total_time_cutoff_ms>("total_time_cutoff_ms",
                                                     "Horizon of one request's simulated timeline", "ms", kAbsent)
                         .read_by(timeline("ends the cycles; a request fails at once when it is not positive")),
                     field<&C::step_resolution_ms>("step_resolution_ms",
                                                   "Time step, recorded in the Monte Carlo context; the timeline does "
                                                   "not use it",
                                                   "ms", kAbsent));
}

struct NetworkTopologyPayload {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
};

constexpr auto description(const NetworkTopologyPayload*) {
    using namespace describe;
    using N = NetworkTopologyPayload;
    return record<N>(field<&N::nodes>("nodes", "The network's nodes"),
                     field<&N::links>("links", "The network's links"));
}

}  // namespace vorn
