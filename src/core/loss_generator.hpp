// The loss draws' random source: a small fast generator, one per thread, seeded by the OS.
#pragma once

#include <cstdint>

namespace vorn {

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

    // The calling thread's generator, seeded from std::random_device on first use.
    static LossGenerator& for_this_thread();

private:
    std::uint64_t state_[4];
};

}  // namespace vorn
