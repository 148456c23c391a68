// The orchestrated timeline: one request admitted, then simulated in cycles on a simulated clock.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <queue>
#include <vector>

#include "core/admission.hpp"
#include "core/failure.hpp"
#include "core/heatmap.hpp"
#include "core/loss_generator.hpp"
#include "core/network.hpp"
#include "core/request.hpp"
#include "core/request_generator.hpp"

namespace vorn {

inline constexpr double kCycleMs = 2.5;
inline constexpr double kPurificationMs = 0.85;
inline constexpr double kLossProbability = 0.1;

// Cycles end when the clock reaches the latency bound or the cut-off. A request that can no longer
// succeed (one failed attempt is enough) would otherwise cycle forever when neither bound can be
// reached: both infinite, or so large (beyond 2^52 ms, some 140,000 years) that 2.5 ms steps stop
// moving the clock. Only then is the number of cycles capped, at 2^20 — 2,621.44 s of simulated
// clock, over 500 times the default cut-off — and the request ends as if a bound had been reached.
// Any reachable bound is honoured however many cycles it takes.
inline constexpr std::uint64_t kMaxCyclesPerRequest = std::uint64_t{1} << 20;
inline constexpr double kUnreachableBoundMs = 4503599627370496.0;  // 2^52

inline std::uint64_t cycle_limit(double max_latency_ms, double cutoff_ms) {
    // A NaN bound ends the first cycle by itself; fmin looks past it to the other bound.
    return std::fmin(max_latency_ms, cutoff_ms) < kUnreachableBoundMs ? UINT64_MAX : kMaxCyclesPerRequest;
}

// A generated pair in flight on hop `hop` (index into the route's hops).
struct EventWrapper {
    std::size_t hop = 0;
    double fidelity = 0.0;
    double time_ms = 0.0;
};

struct EstablishedPair {
    std::size_t hop = 0;
    double fidelity = 0.0;
};

struct SimulationRuntime {
    struct Later {
        bool operator()(const EventWrapper& a, const EventWrapper& b) const { return a.time_ms > b.time_ms; }
    };
    std::priority_queue<EventWrapper, std::vector<EventWrapper>, Later> event_queue;
    std::vector<EstablishedPair> established_pairs;
    std::uint64_t congestion_drops = 0;  // failed attempts; after the first, every cycle fails
};

class NetworkOrchestratorPolicy {
public:
    explicit NetworkOrchestratorPolicy(const SimulationConfig& config)
        : settings(TimelineSettings::from_config(config)) {}

    Heatmap link_utilization;  // attempts per hop key
    TimelineSettings settings;

    // Runs one request. Generation draws come from a private copy of `generator`, or from the
    // all-zero key when it is null; loss draws from `losses`, or this thread's loss generator.
    // Loss draws that cannot change the outcome (in a cycle with a failed attempt, or on a route of
    // fewer than three nodes) are not taken.
    SimulationResult coordinate_timeline(const QuantumNetwork& network, SimulationRuntime& runtime,
                                         const EntanglementRequest& request,
                                         const RequestGenerator* generator = nullptr,
                                         Interruption* interruption = nullptr, LossGenerator* losses = nullptr);
};

}  // namespace vorn
