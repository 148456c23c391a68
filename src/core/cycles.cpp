#include "core/cycles.hpp"

namespace vorn {

namespace {

std::vector<std::uint64_t> success_below(const Admission& admission, double fidelity_target) {
    std::vector<std::uint64_t> thresholds;
    thresholds.reserve(admission.hops.size());
    for (const RouteHop& hop : admission.hops)
        thresholds.push_back(
            closed_uniform_below(attempt_success_probability(hop.distance_km, hop.base_fidelity, fidelity_target)));
    return thresholds;
}

}  // namespace

CyclePlan::CyclePlan(const Admission& admission, double fidelity_target, const TimelineSettings& settings)
    : thresholds(success_below(admission, fidelity_target)),
      swaps(admission.path.size() >= 3),
      fidelity_target(fidelity_target),
      purify_factor(settings.baseline_purify_factor),
      admitted_fidelity(admission.fidelity) {
    double swapped = 1.0;
    for (const RouteHop& hop : admission.hops) swapped *= hop.base_fidelity;
    for (std::size_t i = 0; i + 2 < admission.path.size(); ++i) swapped = purify(swapped, purify_factor);
    swapped_fidelity = swapped;
}

std::optional<CycleOutcome> complete_cycle(const CyclePlan& plan, const CycleBounds& bounds, CycleState& state,
                                           bool swapped) {
    if (swapped) state.fidelity = plan.swapped_fidelity;
    if (state.fidelity < plan.fidelity_target && state.fidelity > 0.5) {
        state.clock_ms += kPurificationMs;
        state.fidelity = purify(state.fidelity, plan.purify_factor);
    }
    if (state.fidelity >= plan.fidelity_target)
        return CycleOutcome{true, state.clock_ms, state.fidelity, 0, state.cycles};
    if (state.clock_ms >= bounds.max_latency_ms) return CycleOutcome{false, state.clock_ms, 0.0, 0, state.cycles};
    state.clock_ms += kCycleMs;
    if (!bounds.continues(state.clock_ms, state.cycles))
        return CycleOutcome{false, state.clock_ms, 0.0, 0, state.cycles};
    return std::nullopt;
}

CycleTail CycleBounds::tail(double clock_ms, std::uint64_t cycles, InterruptionPoll& poll) const {
    CycleTail tail;
    for (;;) {
        clock_ms += kCycleMs;
        if (!continues(clock_ms, cycles)) break;
        ++cycles;
        ++tail.cycles;
        poll.advance();
    }
    tail.clock_ms = clock_ms;
    return tail;
}

const CycleTail& CycleBounds::tail_after_first_cycle(InterruptionPoll& poll) const {
    if (!tail_after_first_cycle_) tail_after_first_cycle_ = tail(0.0, 1, poll);
    return *tail_after_first_cycle_;
}

}  // namespace vorn
