// The request generator: ChaCha12 keystream as a source of seeded 32-bit and 64-bit draws, and the
// uniform value in [0, 1] that a 64-bit draw stands for.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vorn {

class RequestGenerator {
public:
    using Key = std::array<std::uint8_t, 32>;
    static constexpr int kBufferBlocks = 8;

    // All-zero key: the draws of a request made without a generator.
    RequestGenerator() : RequestGenerator(Key{}) {}
    // `stream` is the 64-bit nonce (state words 14 and 15): each stream of a key is an independent
    // keystream. Generation draws use stream 0.
    explicit RequestGenerator(const Key& key, std::uint64_t stream = 0);

    // The key of seed s: eight PCG32 outputs of the states s·M + I, (s·M + I)·M + I, ...
    static Key key_from_seed(std::uint64_t seed);
    // Generators for seeds first, first+1, ... (wrapping), their first blocks computed together.
    static void from_consecutive_seeds(std::uint64_t first, std::span<RequestGenerator, 8> out);

    std::uint32_t next_u32() {
        if (pos_ == len_) refill();
        return buffer_[pos_++];
    }
    // Low word first.
    std::uint64_t next_u64() {
        if (len_ - pos_ >= 2) {
            std::uint64_t low = buffer_[pos_], high = buffer_[pos_ + 1];
            pos_ += 2;
            return low | (high << 32);
        }
        std::uint64_t low = next_u32();
        return low | (std::uint64_t{next_u32()} << 32);
    }

    // Computes the next blocks now if none are waiting, without drawing: copies made afterwards
    // start with them, so a generator copied for many requests computes its first blocks once.
    void prefetch() {
        if (pos_ == len_) refill();
    }

    // Draws rounds × thresholds.size() 64-bit values; draw j is compared with
    // thresholds[j % size] and counted when its top 52 bits are at or above it.
    std::uint64_t count_at_or_above(std::span<const std::uint64_t> thresholds, std::uint64_t rounds);

    // A value in [0, 1]: the top 52 bits as the fraction of a number in [1, 2), minus 1,
    // times the double just above 1.
    static double uniform_from_bits(std::uint64_t x);
    // The number of 52-bit fractions m whose uniform value is below p, so that
    // uniform_from_bits(x) < p exactly when (x >> 12) < below_count(p).
    static std::uint64_t below_count(double p);

private:
    void refill();

    std::array<std::uint32_t, 8> key_{};
    std::uint64_t stream_ = 0;
    std::uint64_t counter_ = 0;  // next block to generate
    std::uint32_t pos_ = 0;
    std::uint32_t len_ = 0;
    alignas(32) std::uint32_t buffer_[kBufferBlocks * 16] = {};
};

}  // namespace vorn
