// The random sources of the loss draws: a small fast generator per thread, seeded by the OS, and the
// streams keyed by an ensemble trial's seed for ensembles that must repeat exactly.
#pragma once

#include <cstdint>

#include "core/request_generator.hpp"

namespace vorn {

// A delivered pair is lost when its loss draw, uniform in [0, 1], is below this.
inline constexpr double kLossProbability = 0.1;

class LossGenerator {
public:
    explicit LossGenerator(std::uint64_t seed);

    // Uniform in [0, 1) with 53 random bits.
    double next() { return static_cast<double>(next_bits()) * 0x1.0p-53; }

    // The same decision as next() < kLossProbability, without the conversion.
    bool pair_lost() { return next_bits() < kLostBelow; }

    // The calling thread's generator, seeded from std::random_device on first use.
    static LossGenerator& for_this_thread();

private:
    // The 53 random bits m of the next value m / 2^53.
    std::uint64_t next_bits() {
        const std::uint64_t result = state_[0] + state_[3];
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = (state_[3] << 45) | (state_[3] >> 19);
        return result >> 11;
    }

    // The number of values m / 2^53 below kLossProbability (each exact, so the division is too).
    static constexpr std::uint64_t kLostBelow = [] {
        auto m = static_cast<std::uint64_t>(kLossProbability * 0x1.0p53);
        while (static_cast<double>(m) * 0x1.0p-53 < kLossProbability) ++m;
        while (m > 0 && !(static_cast<double>(m - 1) * 0x1.0p-53 < kLossProbability)) --m;
        return m;
    }();

    std::uint64_t state_[4];
};

// The loss draws of the trial with seed s: stream 1 of the ChaCha12 generator keyed from s, whose
// stream 0 makes the trial's generation draws. They depend on nothing but the trial's own seed, so a
// trial draws the same losses in every ensemble that runs it. Each draw is a uniform value taken as
// the generation draws take theirs.
class KeyedLosses {
public:
    static constexpr std::uint64_t kStream = 1;

    KeyedLosses() = default;
    explicit KeyedLosses(std::uint64_t seed) : stream_(RequestGenerator::key_from_seed(seed), kStream) {}

    // Starts afresh on the loss stream of `key`, whose first block has been computed already.
    void start(const RequestGenerator::KeyWords& key, const std::uint32_t* first_block) {
        stream_.start(key, kStream, first_block);
    }

    bool pair_lost() { return RequestGenerator::uniform_from_bits(stream_.next_u64()) < kLossProbability; }

private:
    RequestGenerator stream_;
};

}  // namespace vorn
