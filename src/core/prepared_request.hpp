// A request made ready once and then run any number of times under different latency bounds, as the
// rounds of a protocol do. Everything that depends on the network, the end nodes, the target and the
// strategy is settled when it is prepared: the route, its admission, each hop's attempt threshold,
// and even the generation draws, which every request without a generator takes from the same
// all-zero key. A run then costs only its cycles and their loss draws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/admission.hpp"
#include "core/failure.hpp"
#include "core/interruption_poll.hpp"
#include "core/loss_generator.hpp"
#include "core/network.hpp"
#include "core/request.hpp"

namespace vorn {

class PreparedRequest {
public:
    // The request's latency bound is not read: each run gives its own.
    PreparedRequest(const QuantumNetwork& network, const TimelineSettings& settings,
                    const EntanglementRequest& request, Interruption* interruption = nullptr);

    // Exactly what the timeline returns for this request under `max_latency_ms` without a generator,
    // loss draws included (they come from `losses`).
    SimulationResult run(double max_latency_ms, LossGenerator& losses, InterruptionPoll& poll) const;

    // The same run, for callers that need only whether it succeeds, and then when and how well: a run
    // that fails is not followed to the clock at which it ends, and reports latency 0.0.
    struct Outcome {
        bool success = false;
        double latency_ms = 0.0;
        double fidelity = 0.0;
    };
    Outcome attempt(double max_latency_ms, LossGenerator& losses, InterruptionPoll& poll) const;

    // The route's node ids, source first; empty when there is none.
    const std::vector<std::string>& path() const { return admission_.path; }

    // Whether this serves `request` under any bound: the same end nodes, target (bit for bit) and
    // strategy (an absent one being HighestFidelity), on the network it was prepared from.
    bool serves(const EntanglementRequest& request) const;

    // Work units (cycles and draws) between two clock checks of a poll, as the timeline counts them.
    static constexpr std::uint64_t kWorkPerClockCheck = std::uint64_t{1} << 16;

private:
    struct CycleEnd {
        bool success = false;
        bool failed_attempt = false;  // the clock then runs on to a bound before the request ends
        double clock_ms = 0.0;
        double fidelity = 0.0;
        std::uint64_t cycles = 0;
    };
    CycleEnd cycles(double max_latency_ms, std::uint64_t cycle_limit, LossGenerator& losses,
                    InterruptionPoll& poll) const;

    std::string from_node_;
    std::string to_node_;
    StrategyType strategy_;
    Admission admission_;
    TimelineSettings settings_;
    double fidelity_target_ = 0.0;
    double propagation_ms_ = 0.0;
    double swapped_fidelity_ = 0.0;  // after a cycle in which every pair arrived
    bool swaps_ = false;             // three or more nodes: only then can a lost pair matter
    // The first cycle in which an attempt fails under the all-zero key's draws; every cycle before
    // it generates a pair on every hop. Never, on a route without hops.
    std::uint64_t first_failing_cycle_ = UINT64_MAX;
};

}  // namespace vorn
