// The physical model of a repeater chain: heralded link generation over lossy channels, Werner
// pairs that decay in memory, and swapping as soon as both pairs of a node are there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.hpp"
#include "core/network.hpp"
#include "core/physics/bell_diagonal.hpp"
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
    // The chain protocol's choices, by name (see the tables below).
    std::string heralding = "midpoint";
    std::string memory_noise = "dephasing";
    double swap_gate_error = 0.0;    // two-qubit depolarising probability of a swap, in [0, 1]
    double measurement_error = 0.0;  // flip probability of each outcome bit of a swap, in [0, 1]
    std::int64_t modes = 1;          // independent attempts per time slot of a link
    std::int64_t distillation_rounds = 0;
    std::string distillation = "dejmps";
};

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

// The member of `table` called `name`; throws InvalidValue "<parameter>: must be one of ..., got '<name>'".
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
    double transmissivity = 1.0;       // of the channel alone
    double success_probability = 1.0;  // of one attempt in one mode: efficiency × transmissivity
    double attempt_ms = 0.0;           // one time slot: max(source period, herald time)
    double werner = 1.0;               // Werner parameter of a fresh pair, (4F − 1) / 3
    double distance_km = 0.0;
    double source_period_ms = 0.0;  // 1000 / generation rate
};

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
