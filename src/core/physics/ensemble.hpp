// Ensembles of the model's trials, run by the ensemble driver (core/ensemble/driver.hpp). Every total is
// exact, so ensembles over consecutive seed ranges add up to the ensemble of the whole range.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>

#include "core/ensemble/driver.hpp"
#include "core/ensemble/exact_sum.hpp"
#include "core/failure.hpp"
#include "core/physics/chain_model.hpp"
#include "core/physics/log_histogram.hpp"
#include "core/physics/model.hpp"
#include "core/random/keyed_stream.hpp"

namespace vorn::physics {

struct EnsembleTotals {
    std::uint64_t runs = 0;
    std::uint64_t delivered = 0;
    // Over the delivered trials:
    ExactSum waiting_time_ms;
    ExactSum waiting_time_ms_squared;
    ExactSum fidelity;
    ExactSum fidelity_squared;
    ExactSum error_rate_z;  // an X or Y error
    ExactSum error_rate_z_squared;
    ExactSum error_rate_x;  // a Z or Y error
    ExactSum error_rate_x_squared;
    LogHistogram waiting_time_ms_histogram;
};

// A chain without hops (no route) delivers nothing. `interruption` (may be null) is polled every
// few milliseconds; when it asks to stop, Interrupted is thrown.
std::unique_ptr<EnsembleTotals> run_ensemble(const Chain& chain, const PhysicalModel& model, std::uint64_t runs,
                                             std::uint64_t seed, Interruption* interruption = nullptr);

// The trial model of the chain: one ChainModel run per seed, its outcome given to `visit`.
template <class Visit>
class ChainTrialModel {
public:
    static constexpr SeedStream kDraws = kPhysicalModelDraws;

    // The chain must have at least one hop.
    ChainTrialModel(const Chain& chain, const PhysicalModel& model, InterruptionPoll& poll, Visit& visit)
        : trials_(figures_of(chain), model), poll_(poll), visit_(visit) {}

    void run_batch(const chacha12::LaneStates& lanes, int count) {
        chacha12::blocks(lanes, blocks_, count);
        for (int k = 0; k < count; ++k) {
            stream_.start(chacha12::key_of_lane(lanes, k), kDraws.stream, blocks_ + k * chacha12::kBlockWords);
            visit_(trials_.run(stream_, poll_));
        }
    }

private:
    ChainModel trials_;
    InterruptionPoll& poll_;
    Visit& visit_;
    KeyedStream stream_;
    alignas(64) std::uint32_t blocks_[chacha12::kLanes * chacha12::kBlockWords];
};

// Events between two looks at the clock: a few tens of microseconds of work.
inline constexpr std::uint64_t kEventsPerClockCheck = 2048;

// The outcome of each trial, in trial order; without a route, none delivers and each waits forever.
template <class Visit>
void for_each_trial(const Chain& chain, const PhysicalModel& model, std::uint64_t runs, std::uint64_t seed,
                    Interruption* interruption, Visit&& visit) {
    InterruptionPoll poll(interruption, kEventsPerClockCheck);
    if (chain.hops.empty()) {
        const ChainOutcome never{false, std::numeric_limits<double>::infinity()};
        for (std::uint64_t i = 0; i < runs; ++i) {
            visit(never);
            poll.advance();
        }
        return;
    }
    ChainTrialModel<std::remove_reference_t<Visit>> trials(chain, model, poll, visit);
    run_seed_range(trials, seed, runs);
}

}  // namespace vorn::physics
