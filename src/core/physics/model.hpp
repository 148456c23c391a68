// The physical model of a repeater chain: heralded link generation over lossy channels, Werner
// pairs that decay in memory, and swapping as soon as both pairs of a node are there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.hpp"
#include "core/physical_constants.hpp"
#include "core/physics/bell_diagonal.hpp"
#include "core/strategy_type.hpp"
#include "describe/record.hpp"

namespace vorn {
class QuantumNetwork;
struct LinkDefinition;
}  // namespace vorn

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
    // The chain protocol's choices; the names are those of the tables below.
    std::string heralding = "midpoint";
    std::string memory_noise = "dephasing";
    double swap_gate_error = 0.0;
    double measurement_error = 0.0;
    std::int64_t modes = 1;
    std::int64_t distillation_rounds = 0;
    std::string distillation = "dejmps";

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
                             "A memory that has held a qubit of an unfinished pair this long since the pair arrived "
                             "frees it, and the links under that pair attempt again (None: pairs are kept as long as "
                             "it takes)",
                             "ms", kOptional),
        field<&M::signal_speed_km_ms>("signal_speed_km_ms",
                                      "Speed of light in the fibre; heralds and swap outcomes need distance / speed",
                                      "km/ms", kOptional),
        field<&M::max_waiting_time_ms>("max_waiting_time_ms",
                                       "A trial with no end-to-end pair after this long is given up and counts as not "
                                       "delivered (None: it waits as long as it takes)",
                                       "ms", kOptional),
        field<&M::heralding>("heralding",
                             "How a link heralds its pairs: 'midpoint' (both nodes emit, a station halfway heralds "
                             "to both after distance / speed) or 'sender_receiver' (one node emits, the other absorbs "
                             "and heralds back: the sender learns after twice that)",
                             kKeywordOnly),
        field<&M::memory_noise>("memory_noise",
                                "What a node's T2 does to a qubit stored for t: 'dephasing' (a Z error with "
                                "probability (1 − e^(−t/T2)) / 2) or 'depolarizing' (fully mixed with probability "
                                "1 − e^(−t/T2))",
                                kKeywordOnly),
        field<&M::swap_gate_error>("swap_gate_error",
                                   "Chance that a swap's two-qubit gate leaves both qubits fully mixed, in [0, 1]",
                                   kKeywordOnly),
        field<&M::measurement_error>(
            "measurement_error", "Chance that each of a swap's two outcome bits is flipped, in [0, 1]", kKeywordOnly),
        field<&M::modes>("modes",
                         "Independent attempts of a link in one time slot, at least 1: a slot succeeds with "
                         "1 − (1 − p)^modes",
                         kKeywordOnly),
        field<&M::distillation_rounds>("distillation_rounds",
                                       "Recurrence rounds on each link's pairs before the chain uses them, 0 to 16 "
                                       "(each consumes two pairs and keeps one when it succeeds)",
                                       kKeywordOnly),
        field<&M::distillation>("distillation",
                                "The recurrence protocol: 'dejmps' (on Bell-diagonal pairs) or 'bbpssw' (on pairs "
                                "twirled into Werner states)",
                                kKeywordOnly));
}

enum class Heralding {
    Midpoint,        // both nodes emit; a station halfway heralds to both after L/c
    SenderReceiver,  // one node emits, the other absorbs after L/c and heralds back to the sender
};

template <class E>
struct Named {
    std::string_view name;
    E value;
};
inline constexpr Named<Heralding> kHeraldings[] = {{"midpoint", Heralding::Midpoint},
                                                   {"sender_receiver", Heralding::SenderReceiver}};
inline constexpr Named<MemoryNoise> kMemoryNoises[] = {{"dephasing", MemoryNoise::Dephasing},
                                                       {"depolarizing", MemoryNoise::Depolarizing}};
inline constexpr Named<Distillation> kDistillations[] = {{"dejmps", Distillation::Dejmps},
                                                         {"bbpssw", Distillation::Bbpssw}};

inline constexpr std::int64_t kMaxDistillationRounds = 16;  // 2^16 fresh pairs per distilled one at least

// The member of `table` called `name`; throws InvalidValue "<parameter>: must be 'a' or 'b', got '<name>'".
template <class E, std::size_t N>
E named(const Named<E> (&table)[N], std::string_view name, const char* parameter) {
    std::string names;
    for (const Named<E>& member : table) {
        if (member.name == name) return member.value;
        names += (names.empty() ? "'" : " or '") + std::string(member.name) + "'";
    }
    throw InvalidValue(std::string(parameter) + ": must be " + names + ", got '" + std::string(name) + "'");
}

// Throws InvalidValue "<parameter>: must be ..., got <value>" for a parameter out of its range.
void check_model(const PhysicalModel& model);

// One link of the chain as the model sees it.
struct Hop {
    double transmissivity = 1.0;
    double success_probability = 1.0;
    double attempt_ms = 0.0;
    double werner = 1.0;
    double distance_km = 0.0;
    double source_period_ms = 0.0;

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
                                         "Chance that one attempt in one mode heralds a pair, efficiency × "
                                         "transmissivity"),
        field<&Hop::attempt_ms>("attempt_ms",
                                "One time slot: max(1000 / generation_rate_hz, the herald's time: distance_km / "
                                "signal_speed_km_ms from a station halfway, twice that back to a sender)",
                                "ms"),
        field<&Hop::werner>("werner_parameter",
                            "Werner parameter w of a fresh pair, (4 × base_fidelity − 1) / 3 (1 is perfect)"),
        field<&Hop::distance_km>("distance_km", "Length of the link", "km"),
        field<&Hop::source_period_ms>("source_period_ms", "The source's period, 1000 / generation_rate_hz", "ms"));
}

// How long after its photon left a pair's last node to learn of it learns it: the herald's time, L / c
// from a station halfway, 2L / c back to a sender.
inline double herald_ms(double flight_ms, Heralding heralding) {
    return heralding == Heralding::SenderReceiver ? 2.0 * flight_ms : flight_ms;
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
