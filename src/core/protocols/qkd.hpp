// BB84-style key distribution: one end-to-end entanglement request per round, a raw key bit per
// completed round, and the key that sifting and privacy amplification leave of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/engine.hpp"
#include "core/failure.hpp"

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

// A summary of many runs, for callers to fill.
struct QKDStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_key_length_bits = 0.0;
    double mean_efficiency = 0.0;
    double mean_qber = 0.0;
};

// Never fails. Rounds run one after another while the budget lasts; each failed round costs 2.5 ms.
// `interruption` (may be null) is polled every few milliseconds and ends the run with Interrupted.
QKDResult run_qkd(const Engine& engine, const QKDParameters& parameters, Interruption* interruption = nullptr);

}  // namespace vorn
