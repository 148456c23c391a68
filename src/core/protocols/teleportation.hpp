// Teleportation of one state: a resource pair from one end-to-end request, the state's fidelity
// scaled by the pair's, and a fixed classical delay per relay node the caller names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/engine.hpp"
#include "core/failure.hpp"
#include "describe/record.hpp"

namespace vorn {

struct TeleportationParameters {
    std::string source_node;
    std::string target_node;
    std::vector<std::string> relay_nodes;  // named on the path only; they do not steer the route
    double state_fidelity = 0.95;
    double classical_bandwidth_ms = 100.0;
};

constexpr auto description(const TeleportationParameters*) {
    using namespace describe;
    using P = TeleportationParameters;
    return record<P>(
        field<&P::source_node>("source_node", "Node holding the state to teleport"),
        field<&P::target_node>("target_node", "Node receiving the state"),
        field<&P::relay_nodes>("relay_nodes",
                               "Relays named on the path, each adding a classical delay; they do not "
                               "steer the route",
                               kAbsent),
        field<&P::state_fidelity>("state_fidelity", "Fidelity of the state to teleport (0.95 when omitted)", kOptional),
        field<&P::classical_bandwidth_ms>("classical_bandwidth_ms",
                                          "Classical delay per relay node (100.0 when omitted)", "ms", kOptional));
}

struct TeleportationOutcome {
    bool success = false;
    double teleportation_fidelity = 0.0;
    double resource_entanglement_fidelity = 0.0;
    double latency_ms = 0.0;        // the request's, plus the relay delay
    std::vector<std::string> path;  // source, relay nodes, target
    std::uint64_t classical_bits_transferred = 0;
};

constexpr auto description(const TeleportationOutcome*) {
    using namespace describe;
    using O = TeleportationOutcome;
    return record<O>(
        field<&O::success>("success", "Whether the resource pair's fidelity exceeded 0.5"),
        field<&O::teleportation_fidelity>("teleportation_fidelity", "Fidelity of the teleported state"),
        field<&O::resource_entanglement_fidelity>("resource_entanglement_fidelity", "Fidelity of the pair used"),
        field<&O::latency_ms>("latency_ms", "Simulated latency of the request plus the relay delay", "ms"),
        field<&O::path>("path", "Source, the relay nodes in order, target"),
        field<&O::classical_bits_transferred>("classical_bits_transferred", "Classical bits sent", "bits"));
}

// A summary of many outcomes, for callers to fill.
struct TeleportationStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_teleportation_fidelity = 0.0;
    double teleportation_fidelity_stddev = 0.0;
    double mean_latency_ms = 0.0;
};

constexpr auto description(const TeleportationStats*) {
    using namespace describe;
    using S = TeleportationStats;
    return record<S>(
        field<&S::total_runs>("total_runs", "Number of runs summarised"),
        field<&S::success_rate>("success_rate", "Fraction of runs that succeeded"),
        field<&S::mean_teleportation_fidelity>("mean_teleportation_fidelity", "Mean fidelity of the teleported states"),
        field<&S::teleportation_fidelity_stddev>("teleportation_fidelity_stddev",
                                                 "Standard deviation of that fidelity"),
        field<&S::mean_latency_ms>("mean_latency_ms", "Mean simulated latency", "ms"));
}

// Never fails; `interruption` (may be null) reaches the one request.
TeleportationOutcome execute_teleportation(const Engine& engine, const TeleportationParameters& parameters,
                                           Interruption* interruption = nullptr);

}  // namespace vorn
