#include "core/protocols/qkd.hpp"

#include <cmath>

#include "core/cycles.hpp"
#include "core/interruption_poll.hpp"
#include "core/repeated_sum.hpp"
#include "core/saturating_count.hpp"

namespace vorn {

// The network cannot change during the run, so the route and everything the rounds share are
// prepared once; each round is then that request run under the budget left.
QKDResult run_qkd(const Engine& engine, const QKDParameters& parameters, Interruption* interruption) {
    std::uint64_t completed = 0, failed = 0;
    double elapsed = 0.0, fidelity_sum = 0.0;
    QKDResult result;
    if (engine.network() && parameters.rounds > 0) {
        const PreparedRequest request = engine.prepare_request(
            {parameters.from_node, parameters.to_node, parameters.fidelity_target, 0.0, StrategyType::HighestFidelity},
            interruption);
        LossGenerator& losses = LossGenerator::for_this_thread();
        InterruptionPoll poll(interruption, kWorkPerClockCheck);
        for (std::uint64_t round = 0; round < parameters.rounds; ++round) {
            if (elapsed >= parameters.max_latency_ms) {
                ++failed;
                break;
            }
            const PreparedRequest::Outcome outcome = request.attempt(parameters.max_latency_ms - elapsed, losses, poll);
            double latency = kCycleMs;
            if (outcome.success) {
                fidelity_sum += outcome.fidelity;
                latency = outcome.latency_ms;
                ++completed;
                // A round that takes no time leaves the budget as it was, so a request that repeats
                // exactly succeeds the same way in every round left: count them without running them.
                if (latency == 0.0 && request.repeats_exactly()) {
                    const std::uint64_t left = parameters.rounds - round - 1;
                    fidelity_sum = add_repeatedly(fidelity_sum, outcome.fidelity, left);
                    completed += left;
                    break;
                }
            } else {
                ++failed;
            }
            elapsed += latency;
            poll.advance();
        }
        // Every round takes the same route, so the last completed one's path is the route.
        if (completed > 0) result.execution_path = request.path();
    }

    const double qber = completed == 0 ? 1.0 : (1.0 - fidelity_sum / static_cast<double>(completed)) * 0.5;
    std::uint64_t key = 0;
    if (completed > 0 && parameters.error_rate_tolerance > qber) {
        const std::uint64_t sifted =
            saturating_count((1.0 - parameters.sifting_overhead_ratio) * static_cast<double>(completed));
        key = saturating_count(static_cast<double>(sifted) * parameters.privacy_amplification_factor);
    }
    result.success = completed > 0;
    result.secret_key_length_bits = key;
    result.efficiency_rate =
        parameters.rounds == 0 ? 0.0 : static_cast<double>(key) / static_cast<double>(parameters.rounds);
    result.qber = qber;
    result.latency_ms = elapsed;
    result.rounds_completed = completed;
    result.rounds_failed = failed;
    return result;
}

}  // namespace vorn
