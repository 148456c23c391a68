// A request made ready once and then run any number of times under different latency bounds, as the
// rounds of a protocol do. Everything that depends on the network, the end nodes, the target and the
// strategy is settled when it is prepared: the route, the admission as far as no bound enters it, and
// the cycle plan with each hop's attempt threshold. A run then costs only its cycles.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/admission.hpp"
#include "core/cycles.hpp"
#include "core/failure.hpp"
#include "core/interruption_poll.hpp"
#include "core/loss_generator.hpp"
#include "core/network_records.hpp"
#include "core/random/keyed_stream.hpp"
#include "core/request.hpp"

namespace vorn {

class QuantumNetwork;

class PreparedRequest {
public:
    // The request's latency bound is not read: each run gives its own.
    PreparedRequest(const QuantumNetwork& network, const TimelineSettings& settings, const EntanglementRequest& request,
                    Interruption* interruption = nullptr);

    // Exactly what the timeline returns for this request under `max_latency_ms` without a generator:
    // the same generation draws from the all-zero key, the same loss draws from `losses`.
    SimulationResult run(double max_latency_ms, LossGenerator& losses, InterruptionPoll& poll) const;

    // The same run, for callers that need only whether it succeeds, and then when and how well: a run
    // that fails is not followed to the clock at which it ends, and reports latency 0.0.
    struct Outcome {
        bool success = false;
        double latency_ms = 0.0;
        double fidelity = 0.0;
    };
    Outcome attempt(double max_latency_ms, LossGenerator& losses, InterruptionPoll& poll) const;

    // Whether every run under the same bound ends the same way: a route of fewer than three nodes
    // swaps nothing, so it takes no loss draws, and the generation draws always come from the zero key.
    bool repeats_exactly() const { return admission_.path.size() < 3; }

    // The route's node ids, source first; empty when there is none.
    const std::vector<std::string>& path() const { return admission_.path; }

    // Whether this serves `request` under any bound: the same end nodes, target (bit for bit) and
    // strategy (an absent one being the default), on the network it was prepared from.
    bool serves(const EntanglementRequest& request) const;

private:
    std::string from_node_;
    std::string to_node_;
    StrategyType strategy_;
    double fidelity_target_ = 0.0;
    TimelineSettings settings_;
    Admission admission_;
    double propagation_ms_ = 0.0;
    std::optional<CyclePlan> plan_;  // when the route is admitted
};

}  // namespace vorn
