// One ensemble trial, with everything that is the same for all trials worked out beforehand.
#pragma once

#include <cstdint>
#include <vector>

#include "core/admission.hpp"
#include "core/interruption_poll.hpp"
#include "core/loss_generator.hpp"
#include "core/request.hpp"
#include "core/request_generator.hpp"

namespace vorn {

// The cycles a request still runs once it can no longer succeed, and where its clock stops.
struct TrialTail {
    std::uint64_t cycles = 0;
    double clock_ms = 0.0;
};

struct TrialPlan {
    // Per hop: an attempt succeeds exactly when the top 52 bits of its 64-bit draw are below this.
    std::vector<std::uint64_t> success_below;
    bool losses_matter = false;  // only routes of three or more nodes swap, so only they feel a loss
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;
    double cutoff_ms = 0.0;
    std::uint64_t cycle_limit = 0;
    double purify_factor = 0.0;
    double admitted_fidelity = 0.0;
    double swapped_fidelity = 0.0;  // after a cycle in which every pair arrived
    TrialTail tail_after_first_cycle;

    // `admission` must have admitted the request (no refusal).
    static TrialPlan build(const Admission& admission, const EntanglementRequest& request,
                           const TimelineSettings& settings, InterruptionPoll& poll);
    // Stepping the clock from `clock_ms` after cycle number `cycles` failed. Far bounds make this
    // long, so it polls too.
    TrialTail tail(double clock_ms, std::uint64_t cycles, InterruptionPoll& poll) const;
};

struct TrialOutcome {
    bool success = false;
    double latency_ms = 0.0;
    double fidelity = 0.0;
    std::uint64_t congestion_drops = 0;
    std::uint64_t cycles = 0;
};

// The same outcome, draw for draw, as the timeline's cycles with these generators.
TrialOutcome run_trial(const TrialPlan& plan, RequestGenerator& draws, LossGenerator& losses, InterruptionPoll& poll);

}  // namespace vorn
