// The random sources of the loss draws: a small fast generator per thread, seeded by the OS, and the
// streams keyed by an ensemble trial's seed for ensembles that must repeat exactly.
#pragma once

#include <cstdint>
#include <optional>

#include "core/request_generator.hpp"

namespace vorn {

// A delivered pair is lost when its loss draw, uniform in [0, 1], is below this.
inline constexpr double kLossProbability = 0.1;

class LossGenerator {
public:
    explicit LossGenerator(std::uint64_t seed);

    // Uniform in [0, 1) with 53 random bits.
    double next() {
        const std::uint64_t result = state_[0] + state_[3];
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = (state_[3] << 45) | (state_[3] >> 19);
        return static_cast<double>(result >> 11) * 0x1.0p-53;
    }

    bool pair_lost() { return next() < kLossProbability; }

    // The calling thread's generator, seeded from std::random_device on first use.
    static LossGenerator& for_this_thread();

private:
    std::uint64_t state_[4];
};

// The loss draws of the trial with seed s: stream 1 of the ChaCha12 generator keyed from s, whose
// stream 0 makes the trial's generation draws. They depend on nothing but the trial's own seed, so a
// trial draws the same losses in every ensemble that runs it. Each draw is a uniform value taken as
// the generation draws take theirs.
class KeyedLosses {
public:
    explicit KeyedLosses(std::uint64_t seed) : seed_(seed) {}

    bool pair_lost() {
        if (!stream_)
            stream_.emplace(RequestGenerator::key_from_seed(seed_), 1);  // a trial that draws no loss computes no block
        return RequestGenerator::uniform_from_bits(stream_->next_u64()) < kLossProbability;
    }

private:
    std::uint64_t seed_;
    std::optional<RequestGenerator> stream_;
};

}  // namespace vorn
