// The orchestrated timeline in the documented shape (a policy, a runtime with its event queue of
// pairs, the policy's utilisation counts), on the library's own cycle rules: the reference against
// which the tests check the engine's requests and ensembles, which keep no queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <queue>
#include <vector>

#include "core/admission.hpp"
#include "core/failure.hpp"
#include "core/heatmap.hpp"
#include "core/network.hpp"
#include "core/random/keyed_stream.hpp"
#include "core/request.hpp"

namespace vorn {

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
    std::vector<EstablishedPair> established_pairs;  // delivered in the current cycle
    std::uint64_t congestion_drops = 0;              // failed attempts; after the first, every cycle fails
};

class NetworkOrchestratorPolicy {
public:
    explicit NetworkOrchestratorPolicy(const SimulationConfig& config)
        : settings(TimelineSettings::from_config(config)) {}

    Heatmap link_utilization;  // attempts per hop key
    TimelineSettings settings;

    // Runs one request. Generation draws come from a private copy of `generator`, or from the
    // all-zero key when it is null; loss draws from this thread's loss generator. Loss draws that
    // cannot change the outcome (in a cycle with a failed attempt, or on a route of fewer than three
    // nodes) are not taken. `interruption` (may be null) is polled every few milliseconds; when it
    // asks to stop, Interrupted is thrown.
    SimulationResult coordinate_timeline(const QuantumNetwork& network, SimulationRuntime& runtime,
                                         const EntanglementRequest& request, const KeyedStream* generator = nullptr,
                                         Interruption* interruption = nullptr);
};

}  // namespace vorn
