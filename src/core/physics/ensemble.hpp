// Ensembles of the model's trials. Trial i of seed s is trial 0 of seed s + i (wrapping), and every
// total is exact, so ensembles over consecutive seed ranges add up to the ensemble of the whole range.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/failure.hpp"
#include "core/physics/chain_trial.hpp"
#include "core/physics/exact_sum.hpp"
#include "core/physics/log_histogram.hpp"
#include "core/physics/model.hpp"

namespace vorn::physics {

struct EnsembleTotals {
    std::uint64_t runs = 0;
    std::uint64_t delivered = 0;
    // Over the delivered trials:
    ExactSum waiting_time_ms;
    ExactSum waiting_time_ms_squared;
    ExactSum fidelity;
    ExactSum fidelity_squared;
    LogHistogram waiting_time_ms_histogram;
};

// A chain without hops (no route) delivers nothing. `interruption` (may be null) is polled every
// few milliseconds; when it asks to stop, Interrupted is thrown.
std::unique_ptr<EnsembleTotals> run_ensemble(const Chain& chain, const PhysicalModel& model, std::uint64_t runs,
                                             std::uint64_t seed, Interruption* interruption = nullptr);

// The outcome of each trial, in trial order; without a route, none delivers and each waits forever.
std::vector<TrialOutcome> run_trials(const Chain& chain, const PhysicalModel& model, std::uint64_t runs,
                                     std::uint64_t seed, Interruption* interruption = nullptr);

}  // namespace vorn::physics
