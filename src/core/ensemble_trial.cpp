#include "core/ensemble_trial.hpp"

#include <algorithm>

#include "core/link_physics.hpp"
#include "core/timeline.hpp"

namespace vorn {
namespace {

constexpr std::uint64_t kTailCyclesPerPoll = 4096;

std::uint64_t failed_attempts(const TrialPlan& plan, RequestGenerator& draws) {
    std::uint64_t failed = 0;
    for (std::uint64_t below : plan.success_below) failed += (draws.next_u64() >> 12) >= below;
    return failed;
}

bool any_pair_lost(std::size_t pairs, LossGenerator& losses) {
    bool lost = false;
    for (std::size_t i = 0; i < pairs; ++i) lost |= losses.next() < kLossProbability;
    return lost;
}

// The remaining cycles only count failures: their draws decide nothing else.
std::uint64_t tail_failures(const TrialPlan& plan, std::uint64_t cycles, RequestGenerator& draws,
                            InterruptionPoll& poll) {
    std::uint64_t failed = 0;
    while (cycles > 0) {
        const std::uint64_t chunk = std::min(cycles, kTailCyclesPerPoll);
        failed += draws.count_at_or_above(plan.success_below, chunk);
        poll.advance(chunk * plan.success_below.size());
        cycles -= chunk;
    }
    return failed;
}

}  // namespace

TrialPlan TrialPlan::build(const Admission& admission, const EntanglementRequest& request,
                           const TimelineSettings& settings, InterruptionPoll& poll) {
    TrialPlan plan;
    for (const RouteHop& hop : admission.hops)
        plan.success_below.push_back(RequestGenerator::below_count(
            attempt_success_probability(hop.distance_km, hop.base_fidelity, request.fidelity_target)));
    plan.losses_matter = admission.path.size() >= 3;
    plan.fidelity_target = request.fidelity_target;
    plan.max_latency_ms = request.max_latency_ms;
    plan.cutoff_ms = settings.total_time_cutoff_ms;
    plan.cycle_limit = vorn::cycle_limit(plan.max_latency_ms, plan.cutoff_ms);
    plan.purify_factor = settings.baseline_purify_factor;
    plan.admitted_fidelity = admission.fidelity;
    double swapped = 1.0;
    for (const RouteHop& hop : admission.hops) swapped *= hop.base_fidelity;
    for (std::size_t i = 0; i + 2 < admission.path.size(); ++i) swapped = purify(swapped, plan.purify_factor);
    plan.swapped_fidelity = swapped;
    plan.tail_after_first_cycle = plan.tail(0.0, 1, poll);
    return plan;
}

TrialTail TrialPlan::tail(double clock_ms, std::uint64_t cycles, InterruptionPoll& poll) const {
    TrialTail tail;
    for (;;) {
        clock_ms += kCycleMs;
        if (!(clock_ms < max_latency_ms && clock_ms < cutoff_ms && cycles < cycle_limit)) break;
        ++cycles;
        ++tail.cycles;
        poll.advance();
    }
    tail.clock_ms = clock_ms;
    return tail;
}

TrialOutcome run_trial(const TrialPlan& plan, RequestGenerator& draws, LossGenerator& losses, InterruptionPoll& poll) {
    TrialOutcome outcome;
    double clock = 0.0;
    double fidelity = plan.admitted_fidelity;
    for (;;) {
        ++outcome.cycles;
        poll.advance(plan.success_below.size());
        outcome.congestion_drops = failed_attempts(plan, draws);
        if (outcome.congestion_drops > 0) break;
        if (plan.losses_matter && !any_pair_lost(plan.success_below.size(), losses)) fidelity = plan.swapped_fidelity;
        if (fidelity < plan.fidelity_target && fidelity > 0.5) {
            clock += kPurificationMs;
            fidelity = purify(fidelity, plan.purify_factor);
        }
        if (fidelity >= plan.fidelity_target) return {true, clock, fidelity, 0, outcome.cycles};
        if (clock >= plan.max_latency_ms) return {false, clock, 0.0, 0, outcome.cycles};
        clock += kCycleMs;
        if (!(clock < plan.max_latency_ms && clock < plan.cutoff_ms && outcome.cycles < plan.cycle_limit))
            return {false, clock, 0.0, 0, outcome.cycles};
    }
    const TrialTail tail = outcome.cycles == 1 ? plan.tail_after_first_cycle : plan.tail(clock, outcome.cycles, poll);
    outcome.congestion_drops += tail_failures(plan, tail.cycles, draws, poll);
    outcome.cycles += tail.cycles;
    outcome.latency_ms = tail.clock_ms;
    return outcome;
}

}  // namespace vorn
