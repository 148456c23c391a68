#include "core/prepared_request.hpp"

#include <bit>

#include "core/strategies.hpp"

namespace vorn {
namespace {

// The generation draws of every request without a generator: the all-zero key, with its first
// blocks computed once for the process instead of once per request.
const KeyedStream& zero_key_draws() {
    static const KeyedStream draws = [] {
        KeyedStream stream;
        stream.prefetch();
        return stream;
    }();
    return draws;
}

}  // namespace

PreparedRequest::PreparedRequest(const QuantumNetwork& network, const TimelineSettings& settings,
                                 const EntanglementRequest& request, Interruption* interruption)
    : from_node_(request.from_node),
      to_node_(request.to),
      strategy_(chosen_strategy(request)),
      fidelity_target_(request.fidelity_target),
      settings_(settings),
      admission_(admit_route(network, request, settings, interruption)) {
    if (admission_.refusal) return;
    propagation_ms_ = propagation_ms(admission_, settings_);
    plan_.emplace(admission_, fidelity_target_, settings_);
}

bool PreparedRequest::serves(const EntanglementRequest& request) const {
    return std::bit_cast<std::uint64_t>(request.fidelity_target) == std::bit_cast<std::uint64_t>(fidelity_target_) &&
           chosen_strategy(request) == strategy_ && request.from_node == from_node_ && request.to == to_node_;
}

SimulationResult PreparedRequest::run(double max_latency_ms, LossGenerator& losses, InterruptionPoll& poll) const {
    if (admission_.refusal) return *admission_.refusal;
    if (auto latency = bound_refusal(propagation_ms_, max_latency_ms, settings_))
        return {false, *latency, 0.0, admission_.path};
    const CycleBounds bounds(max_latency_ms, settings_.total_time_cutoff_ms);
    KeyedStream draws = zero_key_draws();
    PairCount pairs;
    const CycleOutcome outcome = run_cycles(*plan_, bounds, draws, losses, poll, pairs);
    return {outcome.success, outcome.latency_ms, outcome.fidelity, admission_.path};
}

PreparedRequest::Outcome PreparedRequest::attempt(double max_latency_ms, LossGenerator& losses,
                                                  InterruptionPoll& poll) const {
    if (admission_.refusal || bound_refusal(propagation_ms_, max_latency_ms, settings_)) return {};
    const CycleBounds bounds(max_latency_ms, settings_.total_time_cutoff_ms);
    KeyedStream draws = zero_key_draws();
    PairCount pairs;
    const CycleOutcome outcome = run_cycles_until_failure(*plan_, bounds, draws, losses, poll, pairs, plan_->start());
    if (!outcome.success) return {};
    return {true, outcome.latency_ms, outcome.fidelity};
}

}  // namespace vorn
