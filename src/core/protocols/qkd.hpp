// BB84-style key distribution: one end-to-end entanglement request per round, a raw key bit per
// completed round, and the key that sifting and privacy amplification leave of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/engine.hpp"
#include "core/failure.hpp"
#include "describe/record.hpp"

namespace vorn {

struct QKDParameters {
    std::string from_node;
    std::string to_node;
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;  // the run's budget of simulated time
    std::uint64_t rounds = 100;
    double error_rate_tolerance = 0.11;
    double sifting_overhead_ratio = 0.5;        // fraction of raw bits discarded by sifting
    double privacy_amplification_factor = 0.8;  // fraction of sifted bits kept
};

constexpr auto description(const QKDParameters*) {
    using namespace describe;
    using P = QKDParameters;
    return record<P>(
        field<&P::from_node>("from_node", "Node of one party"),
        field<&P::to_node>("to_node", "Node of the other party"),
        field<&P::fidelity_target>("fidelity_target", "Fidelity each round's pair must reach, a fraction in [0, 1]"),
        field<&P::max_latency_ms>("max_latency_ms", "Budget of simulated time for all rounds together", "ms"),
        field<&P::rounds>("rounds", "Rounds to attempt (100 when omitted)", kOptional),
        field<&P::error_rate_tolerance>(
            "error_rate_tolerance", "Highest QBER at which a key is still distilled (0.11 when omitted)", kOptional),
        field<&P::sifting_overhead_ratio>("sifting_overhead_ratio",
                                          "Fraction of raw bits discarded by sifting (0.5 when omitted)", kOptional),
        field<&P::privacy_amplification_factor>("privacy_amplification_factor",
                                                "Fraction of sifted bits kept by privacy amplification (0.8 when "
                                                "omitted)",
                                                kOptional));
}

struct QKDResult {
    bool success = false;
    std::uint64_t secret_key_length_bits = 0;
    double efficiency_rate = 0.0;  // key bits per requested round
    double qber = 0.0;
    double latency_ms = 0.0;
    std::vector<std::string> execution_path;  // of the last completed round
    std::uint64_t rounds_completed = 0;
    std::uint64_t rounds_failed = 0;  // plus one when the budget stopped the run
};

constexpr auto description(const QKDResult*) {
    using namespace describe;
    using R = QKDResult;
    return record<R>(
        field<&R::success>("success", "Whether at least one round completed"),
        field<&R::secret_key_length_bits>("secret_key_length_bits", "Length of the final key", "bits"),
        field<&R::efficiency_rate>("efficiency_rate", "Key bits per requested round"),
        field<&R::qber>("qber", "Quantum bit error rate, a fraction"),
        field<&R::latency_ms>("latency_ms", "Simulated time the rounds consumed", "ms"),
        field<&R::execution_path>("execution_path", "Route of the last completed round"),
        field<&R::rounds_completed>("rounds_completed", "Rounds whose request succeeded"),
        field<&R::rounds_failed>("rounds_failed", "Rounds that failed, plus one when the budget stopped the run"));
}

// A summary of many runs, for callers to fill.
struct QKDStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_key_length_bits = 0.0;
    double mean_efficiency = 0.0;
    double mean_qber = 0.0;
};

constexpr auto description(const QKDStats*) {
    using namespace describe;
    using S = QKDStats;
    return record<S>(field<&S::total_runs>("total_runs", "Number of runs summarised"),
                     field<&S::success_rate>("success_rate", "Fraction of runs that succeeded"),
                     field<&S::mean_key_length_bits>("mean_key_length_bits", "Mean final key length", "bits"),
                     field<&S::mean_efficiency>("mean_efficiency", "Mean key bits per requested round"),
                     field<&S::mean_qber>("mean_qber", "Mean quantum bit error rate, a fraction"));
}

// Never fails. Rounds run one after another while the budget lasts; each failed round costs 2.5 ms.
// `interruption` (may be null) is polled every few milliseconds and ends the run with Interrupted.
QKDResult run_qkd(const Engine& engine, const QKDParameters& parameters, Interruption* interruption = nullptr);

// A product truncated toward zero to an unsigned 64-bit count: 0 for a negative or NaN value, the
// largest count beyond the range.
std::uint64_t saturating_count(double value);

}  // namespace vorn
