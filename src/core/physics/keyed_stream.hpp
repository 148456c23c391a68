// The random draws of one trial: a ChaCha12 keystream keyed by the trial's own seed, apart from the
// engine's generation stream of the same seed. A trial's draws therefore depend on its seed alone,
// wherever and in whichever batch it runs.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/chacha12_block.hpp"

namespace vorn::physics {

class KeyedStream {
public:
    static constexpr int kBatch = chacha12::kLanes;

    // Streams for seeds first, first + 1, ... (wrapping), their first blocks computed together.
    static void start_batch(std::uint64_t first_seed, std::span<KeyedStream, kBatch> out);

    std::uint64_t next_u64() {
        if (pos_ == len_) refill();
        const std::uint64_t low = buffer_[pos_], high = buffer_[pos_ + 1];
        pos_ += 2;
        return low | high << 32;
    }
    // A value in (0, 1]: the top 53 bits plus one, over 2^53.
    double next_open_closed() { return static_cast<double>((next_u64() >> 11) + 1) * 0x1p-53; }

private:
    void refill();

    std::array<std::uint32_t, 8> key_{};
    std::uint64_t counter_ = 0;  // next block
    std::uint32_t pos_ = 0;
    std::uint32_t len_ = 0;
    alignas(32) std::uint32_t buffer_[kBatch * chacha12::kBlockWords] = {};
};

}  // namespace vorn::physics
