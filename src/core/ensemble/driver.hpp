// The one loop of every seeded ensemble: a trial model run over a range of seeds, sixteen trials at a
// time. Trial i of seed s is trial 0 of seed s + i (modulo 2^64), and each trial draws only from the
// streams of its own seed, so ensembles over consecutive seed ranges are, trial for trial, the
// ensemble over the whole range: that is what lets shards and merges repeat a result bit for bit.
//
// A trial model is a class with
//   static constexpr SeedStream kDraws;
//       which key of a seed and which of its streams the trials draw from (core/random/seeds.hpp)
//   void run_batch(const chacha12::LaneStates& lanes, int count);
//       runs the trials of lanes 0 .. count-1 in lane order. Lane l holds block 0 of the kDraws stream
//       of the batch's l-th seed: its key words, counter 0 and nonce. Compute the blocks with
//       chacha12::blocks (or compare draws in the kernel's registers) and start a KeyedStream on a
//       lane's key (chacha12::key_of_lane) and block. Another stream of the same key, such as the
//       keyed loss draws, shares the lanes' key words.
// The model polls for interruptions (core/interruption_poll.hpp) as it works: at least one unit of its
// InterruptionPoll per trial, and more for the parts of a trial that can run long (events, draws,
// cycles), so that Ctrl-C reaches a long ensemble, or one long trial, within milliseconds. (The model
// counts its own work rather than the driver counting trials: a second count per batch would cost the
// engine's batches as much as half an instruction per trial.)
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "core/random/chacha12_block.hpp"
#include "core/random/keyed_stream.hpp"
#include "core/random/seeds.hpp"

namespace vorn {

template <class TrialModel>
void run_seed_range(TrialModel& model, std::uint64_t first_seed, std::uint64_t runs) {
    SeedKeys<TrialModel::kDraws.key> keys(first_seed);
    alignas(64) chacha12::LaneStates lanes;
    chacha12::set_counter_and_stream(lanes, 0, TrialModel::kDraws.stream);
    for (std::uint64_t done = 0; done < runs; done += chacha12::kLanes) {
        const int count = static_cast<int>(std::min<std::uint64_t>(chacha12::kLanes, runs - done));
        keys.fill(lanes);
        model.run_batch(lanes, count);
    }
}

// The trial model of a function of one trial's stream: `run(stream)` for each seed of the range, in
// order, on stream Draws.stream of the seed's key.
template <SeedStream Draws, class Run>
class StreamTrials {
public:
    static constexpr SeedStream kDraws = Draws;

    explicit StreamTrials(Run& run) : run_(run) {}

    void run_batch(const chacha12::LaneStates& lanes, int count) {
        chacha12::blocks(lanes, blocks_, count);
        for (int k = 0; k < count; ++k) {
            stream_.start(chacha12::key_of_lane(lanes, k), Draws.stream, blocks_ + k * chacha12::kBlockWords);
            run_(stream_);
        }
    }

private:
    Run& run_;
    KeyedStream stream_;
    alignas(64) std::uint32_t blocks_[chacha12::kLanes * chacha12::kBlockWords];
};

template <SeedStream Draws, class Run>
void for_each_seed_stream(std::uint64_t first_seed, std::uint64_t runs, Run&& run) {
    StreamTrials<Draws, std::remove_reference_t<Run>> trials(run);
    run_seed_range(trials, first_seed, runs);
}

}  // namespace vorn
