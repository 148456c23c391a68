// Teleportation of one state: a resource pair from one end-to-end request, the state's fidelity
// scaled by the pair's, and a fixed classical delay per relay node the caller names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/engine.hpp"
#include "core/failure.hpp"

namespace vorn {

struct TeleportationParameters {
    std::string source_node;
    std::string target_node;
    std::vector<std::string> relay_nodes;  // named on the path only; they do not steer the route
    double state_fidelity = 0.95;
    double classical_bandwidth_ms = 100.0;
};

struct TeleportationOutcome {
    bool success = false;
    double teleportation_fidelity = 0.0;
    double resource_entanglement_fidelity = 0.0;
    double latency_ms = 0.0;        // the request's, plus the relay delay
    std::vector<std::string> path;  // source, relay nodes, target
    std::uint64_t classical_bits_transferred = 0;
};

// A summary of many outcomes, for callers to fill.
struct TeleportationStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_teleportation_fidelity = 0.0;
    double teleportation_fidelity_stddev = 0.0;
    double mean_latency_ms = 0.0;
};

// Never fails; `interruption` (may be null) reaches the one request.
TeleportationOutcome execute_teleportation(const Engine& engine, const TeleportationParameters& parameters,
                                           Interruption* interruption = nullptr);

}  // namespace vorn
