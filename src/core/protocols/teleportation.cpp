#include "core/protocols/teleportation.hpp"

#include <cmath>

#include "core/link_physics.hpp"

namespace vorn {
namespace {

constexpr double kRelayHopKm = 50.0;
constexpr std::uint64_t kMeasurementBits = 2;

}  // namespace

TeleportationOutcome execute_teleportation(const Engine& engine, const TeleportationParameters& parameters,
                                           Interruption* interruption) {
    TeleportationOutcome outcome;
    double resource = 0.0, latency = 0.0;
    outcome.path.reserve(parameters.relay_nodes.size() + 2);
    outcome.path.push_back(parameters.source_node);
    outcome.path.insert(outcome.path.end(), parameters.relay_nodes.begin(), parameters.relay_nodes.end());
    if (engine.network()) {
        const SimulationResult pair =
            engine.request_entanglement({parameters.source_node, parameters.target_node, parameters.state_fidelity,
                                         parameters.classical_bandwidth_ms, StrategyType::HighestFidelity},
                                        interruption);
        resource = pair.final_fidelity;
        latency = pair.latency_ms;
        outcome.path.push_back(parameters.target_node);
        if (!parameters.relay_nodes.empty())
            latency += static_cast<double>(parameters.relay_nodes.size()) * kRelayHopKm / kFibreSpeedKmMs;
    }
    outcome.success = resource > 0.5;
    outcome.teleportation_fidelity =
        resource > 0.0 ? std::fmin(parameters.state_fidelity * resource, kFidelityCap) : 0.0;
    outcome.resource_entanglement_fidelity = resource;
    outcome.latency_ms = latency;
    outcome.classical_bits_transferred = kMeasurementBits;
    return outcome;
}

}  // namespace vorn
