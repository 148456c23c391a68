// Everything a request settles before its clock starts: the route, and whether it may run at all.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/failure.hpp"
#include "core/network_records.hpp"
#include "core/request.hpp"

namespace vorn {

class QuantumNetwork;

// The configuration values a timeline runs with.
struct TimelineSettings {
    double baseline_purify_factor = kEnginePurifyFactor;
    double speed_of_light_in_fiber_km_ms = kFibreSpeedKmMs;
    double total_time_cutoff_ms = kCutoffMs;

    static TimelineSettings from_config(const SimulationConfig& config) {
        return {config.physical.baseline_purify_factor, config.physical.speed_of_light_in_fiber_km_ms,
                config.total_time_cutoff_ms};
    }
};

// A hop of the admitted route, with the figures of its joining link.
struct RouteHop {
    double distance_km = 0.0;
    double base_fidelity = 0.0;
};

struct Admission {
    // Set when the request ends before any cycle: no route, fidelity out of reach, propagation
    // delay above the bound, or a bound that is not positive.
    std::optional<SimulationResult> refusal;
    std::vector<std::string> path;
    std::vector<RouteHop> hops;
    double fidelity = 0.0;  // the route's fidelity, which the cycles start from
};

// The default strategy stands in for an absent one; a route whose fidelity is below the target gives
// way to the route of the strategy's below_target, where it has one (strategies.hpp).
Admission admit(const QuantumNetwork& network, const EntanglementRequest& request, const TimelineSettings& settings,
                Interruption* interruption = nullptr);

// Admission in two stages, for requests that differ only in their latency bound. The first chooses
// the route and refuses what no bound can save (no route, a target out of reach); it does not read
// the request's bound.
Admission admit_route(const QuantumNetwork& network, const EntanglementRequest& request,
                      const TimelineSettings& settings, Interruption* interruption = nullptr);
// Time for a pair to cross every hop of the route.
double propagation_ms(const Admission& admission, const TimelineSettings& settings);
// The second stage: the latency that a refusal by the bound reports (the propagation delay when it
// exceeds the bound, 0.0 for a bound or cut-off that is not positive), or nothing when the cycles run.
std::optional<double> bound_refusal(double propagation_ms, double max_latency_ms, const TimelineSettings& settings);

}  // namespace vorn
