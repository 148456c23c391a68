// Which inputs of an ensemble matter most for its success rate: each one lowered and raised by 10 %.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/ensemble.hpp"
#include "core/failure.hpp"

namespace vorn {

// Parameter keys with their impacts, largest impact first; equal impacts (NaN among them) keep the
// order of evaluation: node lifetimes, then per link its length, fidelity and rate, then fibre loss.
using SensitivityRanking = std::vector<std::pair<std::string, double>>;

// Runs, for every parameter of `context`, a lower (x 0.9) and an upper (x 1.1) variant as a fresh
// fibre-only ensemble of max(200, 50 x nodes) trials, with two consecutive seeds per parameter from
// `seed_base` on (wrapping). The impact is (|upper - b| + |lower - b|) / b for the baseline success
// rate b, or 0 when b is below 0.01. The fibre-loss variants set the purify factor to a tenth of
// 0.2 dB/km lowered or raised by 10 %, whatever the context held. `interruption` may be null.
SensitivityRanking analyse_sensitivity(const MonteCarloContext& context, double baseline, std::uint64_t seed_base,
                                       Interruption* interruption = nullptr);

}  // namespace vorn
