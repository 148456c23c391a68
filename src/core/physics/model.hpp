// The physical model of a repeater chain: heralded link generation over lossy channels, Werner
// pairs that decay in memory, and swapping as soon as both pairs of a node are there.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.hpp"
#include "core/network.hpp"
#include "core/request.hpp"

namespace vorn::physics {

struct PhysicalModel {
    double attenuation_db_km = kFibreLossDbKm;    // fibre loss, dB per km
    double efficiency = 1.0;                      // sources, coupling and detectors together, in (0, 1]
    double satellite_loss_db = 30.0;              // fixed loss of a satellite link, dB
    double swap_success_probability = 1.0;        // of one entanglement swap, in (0, 1]
    std::optional<double> cutoff_ms;              // a memory holding a qubit longer than this frees it
    double signal_speed_km_ms = kFibreSpeedKmMs;  // light in fibre; sets how long a herald takes
    std::optional<double> max_waiting_time_ms;    // a trial not delivered by then is given up
};

// Throws InvalidValue "<parameter>: must be ..., got <value>" for a parameter out of its range.
void check_model(const PhysicalModel& model);

// One link of the chain as the model sees it.
struct Hop {
    double transmissivity = 1.0;       // of the channel alone
    double success_probability = 1.0;  // of one attempt: efficiency × transmissivity
    double attempt_ms = 0.0;           // max(source period, herald travel time)
    double werner = 1.0;               // Werner parameter of a fresh pair, (4F − 1) / 3
};

struct Chain {
    std::vector<std::string> path;  // empty when there is no route
    std::vector<Hop> hops;          // hop k joins path[k] and path[k + 1]
    // For each node of the path, the rate (per ms) at which a stored qubit's share of the Werner
    // parameter decays: 1 / T2 with T2 in ms; 0 for an endless memory, infinite for none.
    std::vector<double> decay_per_ms;
};

// The chain along the route that route finding picks under `strategy` (absent: HighestFidelity).
// `links` are the definitions `network` was built from (the network drops satellite conditions).
// Throws InvalidValue for the same node at both ends, and for figures of the route's links or nodes
// that the model cannot use (a fidelity outside [0, 1], a link that never succeeds, ...).
Chain chain_between(const QuantumNetwork& network, const std::vector<LinkDefinition>& links, std::string_view from_node,
                    std::string_view to, std::optional<StrategyType> strategy, const PhysicalModel& model,
                    Interruption* interruption = nullptr);

Hop hop_of(const LinkDefinition& link, const PhysicalModel& model);

}  // namespace vorn::physics
