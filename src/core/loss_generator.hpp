// The engine's loss draws and their two sources: a small fast generator per thread, seeded by the OS,
// for vorn_core's own requests and ensembles, and the streams keyed by a trial's seed for ensembles
// that must repeat exactly.
#pragma once

#include <cstdint>

#include "core/random/keyed_stream.hpp"
#include "core/random/seeds.hpp"
#include "core/random/uniform.hpp"

namespace vorn {

// A delivered pair is lost when its loss draw, uniform in [0, 1], is below this.
inline constexpr double kLossProbability = 0.1;

class LossGenerator {
public:
    explicit LossGenerator(std::uint64_t seed);

    // Uniform in [0, 1) with 53 random bits.
    double next() { return half_open_uniform(next_bits()); }

    // The same decision as next() < kLossProbability, without the conversion.
    bool pair_lost() { return (next_bits() >> 11) < kLostBelow; }

    // The calling thread's generator, seeded from std::random_device on first use.
    static LossGenerator& for_this_thread();

private:
    // xoshiro256+.
    std::uint64_t next_bits() {
        const std::uint64_t result = state_[0] + state_[3];
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = (state_[3] << 45) | (state_[3] >> 19);
        return result;
    }

    static constexpr std::uint64_t kLostBelow = half_open_uniform_below(kLossProbability);

    std::uint64_t state_[4];
};

// The loss draws of the trial with seed s: their own stream of s's key (kKeyedLossDraws), apart from
// the trial's generation draws. They depend on nothing but the trial's own seed, so a trial draws the
// same losses in every ensemble that runs it. Each draw is a uniform value taken as the generation
// draws take theirs.
class KeyedLosses {
public:
    KeyedLosses() = default;
    explicit KeyedLosses(std::uint64_t seed) : stream_(key_words(kKeyedLossDraws.key, seed), kKeyedLossDraws.stream) {}

    // Starts afresh on the loss stream of `key`, whose first block has been computed already.
    void start(const chacha12::KeyWords& key, const std::uint32_t* first_block) {
        stream_.start(key, kKeyedLossDraws.stream, first_block);
    }

    bool pair_lost() { return closed_uniform(stream_.next_u64()) < kLossProbability; }

private:
    KeyedStream stream_;
};

}  // namespace vorn
