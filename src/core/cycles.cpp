#include "core/cycles.hpp"

namespace vorn {

CyclePlan::CyclePlan(const Admission& admission, double fidelity_target, const TimelineSettings& settings)
    : swaps(admission.path.size() >= 3),
      fidelity_target(fidelity_target),
      purify_factor(settings.baseline_purify_factor),
      admitted_fidelity(admission.fidelity) {
    success_below.reserve(admission.hops.size());
    double swapped = 1.0;
    for (const RouteHop& hop : admission.hops) {
        success_below.push_back(RequestGenerator::below_count(
            attempt_success_probability(hop.distance_km, hop.base_fidelity, fidelity_target)));
        swapped *= hop.base_fidelity;
    }
    for (std::size_t i = 0; i + 2 < admission.path.size(); ++i) swapped = purify(swapped, purify_factor);
    swapped_fidelity = swapped;
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
