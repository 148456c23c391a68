#include "core/physics/ensemble.hpp"

namespace vorn::physics {

std::unique_ptr<EnsembleTotals> run_ensemble(const Chain& chain, const PhysicalModel& model, std::uint64_t runs,
                                             std::uint64_t seed, Interruption* interruption) {
    auto totals = std::make_unique<EnsembleTotals>();
    totals->runs = runs;
    if (chain.hops.empty()) return totals;
    for_each_trial(chain, model, runs, seed, interruption, [&](const ChainOutcome& outcome) {
        if (!outcome.delivered) return;
        // Neither is ever negative or NaN, and then neither are their squares.
        if (!(outcome.waiting_time_ms >= 0.0 && outcome.fidelity >= 0.0 && outcome.error_rate_z >= 0.0 &&
              outcome.error_rate_x >= 0.0))
            throw Panic("a delivered trial's waiting time, fidelity or error rates are negative or NaN");
        ++totals->delivered;
        totals->waiting_time_ms.add_non_negative(outcome.waiting_time_ms);
        totals->waiting_time_ms_squared.add_non_negative(outcome.waiting_time_ms * outcome.waiting_time_ms);
        totals->fidelity.add_non_negative(outcome.fidelity);
        totals->fidelity_squared.add_non_negative(outcome.fidelity * outcome.fidelity);
        totals->waiting_time_ms_histogram.add(outcome.waiting_time_ms);
        totals->error_rate_z.add_non_negative(outcome.error_rate_z);
        totals->error_rate_z_squared.add_non_negative(outcome.error_rate_z * outcome.error_rate_z);
        totals->error_rate_x.add_non_negative(outcome.error_rate_x);
        totals->error_rate_x_squared.add_non_negative(outcome.error_rate_x * outcome.error_rate_x);
    });
    return totals;
}

}  // namespace vorn::physics
