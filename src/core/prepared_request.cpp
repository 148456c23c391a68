#include "core/prepared_request.hpp"

#include <bit>

#include "core/link_physics.hpp"
#include "core/request_generator.hpp"
#include "core/cycles.hpp"

namespace vorn {

PreparedRequest::PreparedRequest(const QuantumNetwork& network, const TimelineSettings& settings,
                                 const EntanglementRequest& request, Interruption* interruption)
    : from_node_(request.from_node), to_node_(request.to),
      strategy_(request.strategy.value_or(StrategyType::HighestFidelity)),
      admission_(admit_route(network, request, settings, interruption)), settings_(settings),
      fidelity_target_(request.fidelity_target) {
    if (admission_.refusal) return;
    propagation_ms_ = propagation_ms(admission_, settings_);
    swaps_ = admission_.path.size() >= 3;

    std::vector<std::uint64_t> success_below;
    double swapped = 1.0;
    for (const RouteHop& hop : admission_.hops) {
        success_below.push_back(RequestGenerator::below_count(
            attempt_success_probability(hop.distance_km, hop.base_fidelity, fidelity_target_)));
        swapped *= hop.base_fidelity;
    }
    for (std::size_t i = 0; i + 2 < admission_.path.size(); ++i) swapped = purify(swapped, settings_.baseline_purify_factor);
    swapped_fidelity_ = swapped;

    // Attempt probabilities are at most 0.98, so a failure comes within the first few hundred draws
    // of the fixed stream.
    if (success_below.empty()) return;
    RequestGenerator draws;
    for (std::uint64_t cycle = 1;; ++cycle) {
        bool failed = false;
        for (std::uint64_t below : success_below) failed |= (draws.next_u64() >> 12) >= below;
        if (failed) {
            first_failing_cycle_ = cycle;
            return;
        }
    }
}

bool PreparedRequest::serves(const EntanglementRequest& request) const {
    return std::bit_cast<std::uint64_t>(request.fidelity_target) == std::bit_cast<std::uint64_t>(fidelity_target_) &&
           request.strategy.value_or(StrategyType::HighestFidelity) == strategy_ && request.from_node == from_node_ &&
           request.to == to_node_;
}

// The timeline's cycles, step for step, up to success, a bound, or the first failed attempt.
PreparedRequest::CycleEnd PreparedRequest::cycles(double max_latency_ms, std::uint64_t cycle_limit,
                                                  LossGenerator& losses, InterruptionPoll& poll) const {
    const std::size_t hops = admission_.hops.size();
    double clock = 0.0;
    double fidelity = admission_.fidelity;
    for (std::uint64_t cycle = 1;; ++cycle) {
        poll.advance(hops + 1);
        if (cycle == first_failing_cycle_) return {false, true, clock, 0.0, cycle};
        if (swaps_) {
            // One loss draw per arrived pair; the swap needs them all.
            bool lost = false;
            for (std::size_t i = 0; i < hops; ++i) lost |= losses.next() < kLossProbability;
            if (!lost) fidelity = swapped_fidelity_;
        }
        if (fidelity < fidelity_target_ && fidelity > 0.5) {
            clock += kPurificationMs;
            fidelity = purify(fidelity, settings_.baseline_purify_factor);
        }
        if (fidelity >= fidelity_target_) return {true, false, clock, fidelity, cycle};
        if (clock >= max_latency_ms) return {false, false, clock, 0.0, cycle};
        clock += kCycleMs;
        if (!(clock < max_latency_ms && clock < settings_.total_time_cutoff_ms && cycle < cycle_limit))
            return {false, false, clock, 0.0, cycle};
    }
}

SimulationResult PreparedRequest::run(double max_latency_ms, LossGenerator& losses, InterruptionPoll& poll) const {
    if (admission_.refusal) return *admission_.refusal;
    if (auto latency = bound_refusal(propagation_ms_, max_latency_ms, settings_))
        return {false, *latency, 0.0, admission_.path};
    const std::uint64_t limit = cycle_limit(max_latency_ms, settings_.total_time_cutoff_ms);
    CycleEnd end = cycles(max_latency_ms, limit, losses, poll);
    if (end.failed_attempt) {
        // Every later cycle fails too: the clock steps on until a bound stops it.
        for (;;) {
            end.clock_ms += kCycleMs;
            if (!(end.clock_ms < max_latency_ms && end.clock_ms < settings_.total_time_cutoff_ms && end.cycles < limit))
                break;
            ++end.cycles;
            poll.advance(admission_.hops.size() + 1);
        }
    }
    return {end.success, end.clock_ms, end.fidelity, admission_.path};
}

PreparedRequest::Outcome PreparedRequest::attempt(double max_latency_ms, LossGenerator& losses,
                                                  InterruptionPoll& poll) const {
    if (admission_.refusal || bound_refusal(propagation_ms_, max_latency_ms, settings_)) return {};
    const CycleEnd end =
        cycles(max_latency_ms, cycle_limit(max_latency_ms, settings_.total_time_cutoff_ms), losses, poll);
    if (!end.success) return {};
    return {true, end.clock_ms, end.fidelity};
}

}  // namespace vorn
