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
#include "describe/record.hpp"

namespace vorn::physics {

// The parameters of the model; every trial of an ensemble uses the same ones. A new parameter is keyword-only
// (so that no caller's positional arguments move), with the default that leaves results as they were.
struct PhysicalModel {
    double attenuation_db_km = kFibreLossDbKm;
    double efficiency = 1.0;
    double satellite_loss_db = 30.0;
    double swap_success_probability = 1.0;
    std::optional<double> cutoff_ms;
    double signal_speed_km_ms = kFibreSpeedKmMs;
    std::optional<double> max_waiting_time_ms;

    friend bool operator==(const PhysicalModel&, const PhysicalModel&) = default;
};

constexpr auto description(const PhysicalModel*) {
    using namespace describe;
    using M = PhysicalModel;
    return record<M>(
        field<&M::attenuation_db_km>("attenuation_db_km", "Fibre loss (0.2 is telecom fibre at 1550 nm)", "dB/km",
                                     kOptional),
        field<&M::efficiency>("efficiency",
                              "Chance that a photon that reaches the far end is heralded there (sources, coupling "
                              "and detectors together), in (0, 1]",
                              kOptional),
        field<&M::satellite_loss_db>("satellite_loss_db",
                                     "Fixed loss of a satellite link, before its visibility and weather factor", "dB",
                                     kOptional),
        field<&M::swap_success_probability>("swap_success_probability",
                                            "Chance that one entanglement swap succeeds, in (0, 1]", kOptional),
        field<&M::cutoff_ms>("cutoff_ms",
                             "A memory that has held a qubit of an unfinished pair this long frees it, and the links "
                             "under that pair attempt again (None: pairs are kept as long as it takes)",
                             "ms", kOptional),
        field<&M::signal_speed_km_ms>(
            "signal_speed_km_ms", "Speed of light in the fibre; a herald needs distance / speed", "km/ms", kOptional),
        field<&M::max_waiting_time_ms>("max_waiting_time_ms",
                                       "A trial with no end-to-end pair after this long is given up and counts as not "
                                       "delivered (None: it waits as long as it takes)",
                                       "ms", kOptional));
}

// Throws InvalidValue "<parameter>: must be ..., got <value>" for a parameter out of its range.
void check_model(const PhysicalModel& model);

// One link of the chain as the model sees it.
struct Hop {
    double transmissivity = 1.0;
    double success_probability = 1.0;
    double attempt_ms = 0.0;
    double werner = 1.0;

    friend bool operator==(const Hop&, const Hop&) = default;
};

constexpr auto description(const Hop*) {
    using namespace describe;
    return record<Hop>(
        field<&Hop::transmissivity>("transmissivity",
                                    "Share of photons that the channel alone lets through, in (0, 1]: fibre "
                                    "10^(-attenuation_db_km × distance_km / 10), satellite 10^(-satellite_loss_db / "
                                    "10) × visibility × weather_factor"),
        field<&Hop::success_probability>("success_probability",
                                         "Chance that one attempt heralds a pair, efficiency × transmissivity"),
        field<&Hop::attempt_ms>("attempt_ms",
                                "Length of one attempt, max(1000 / generation_rate_hz, distance_km / "
                                "signal_speed_km_ms)",
                                "ms"),
        field<&Hop::werner>("werner_parameter",
                            "Werner parameter w of a fresh pair, (4 × base_fidelity − 1) / 3 (1 is perfect)"));
}

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
