#include "core/physics/ensemble.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace vorn::physics {
namespace {

// Events between two looks at the clock: a few tens of microseconds of work.
constexpr std::uint64_t kEventsPerClockCheck = 2048;

template <class Visit>
void for_each_trial(const Chain& chain, const PhysicalModel& model, std::uint64_t runs, std::uint64_t seed,
                    Interruption* interruption, Visit&& visit) {
    if (chain.hops.empty()) return;
    ChainTrials trials(chain, model);
    InterruptionPoll poll(interruption, kEventsPerClockCheck);
    std::array<KeyedStream, KeyedStream::kBatch> streams;
    for (std::uint64_t first = 0; first < runs; first += streams.size()) {
        KeyedStream::start_batch(seed + first, streams);
        const std::uint64_t batch = std::min<std::uint64_t>(streams.size(), runs - first);
        for (std::uint64_t k = 0; k < batch; ++k) visit(trials.run(streams[k], poll));
    }
}

}  // namespace

std::unique_ptr<EnsembleTotals> run_ensemble(const Chain& chain, const PhysicalModel& model, std::uint64_t runs,
                                             std::uint64_t seed, Interruption* interruption) {
    auto totals = std::make_unique<EnsembleTotals>();
    totals->runs = runs;
    for_each_trial(chain, model, runs, seed, interruption, [&](const TrialOutcome& outcome) {
        if (!outcome.delivered) return;
        ++totals->delivered;
        totals->waiting_time_ms.add(outcome.waiting_time_ms);
        totals->waiting_time_ms_squared.add(outcome.waiting_time_ms * outcome.waiting_time_ms);
        totals->fidelity.add(outcome.fidelity);
        totals->fidelity_squared.add(outcome.fidelity * outcome.fidelity);
        totals->waiting_time_ms_histogram.add(outcome.waiting_time_ms);
    });
    return totals;
}

std::vector<TrialOutcome> run_trials(const Chain& chain, const PhysicalModel& model, std::uint64_t runs,
                                     std::uint64_t seed, Interruption* interruption) {
    std::vector<TrialOutcome> outcomes;
    if (chain.hops.empty()) {
        outcomes.assign(runs, TrialOutcome{false, std::numeric_limits<double>::infinity(), 0.0});
        return outcomes;
    }
    outcomes.reserve(runs);
    for_each_trial(chain, model, runs, seed, interruption,
                   [&](const TrialOutcome& outcome) { outcomes.push_back(outcome); });
    return outcomes;
}

}  // namespace vorn::physics
