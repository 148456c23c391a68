// The request generator: ChaCha12 keystream as a source of seeded 32-bit and 64-bit draws, and the
// uniform value in [0, 1] that a 64-bit draw stands for.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/chacha12_block.hpp"

namespace vorn {

class RequestGenerator {
public:
    using Key = std::array<std::uint8_t, 32>;
    using KeyWords = std::array<std::uint32_t, 8>;  // the key as state words 4..11
    static constexpr int kBufferBlocks = 8;
    static constexpr int kDrawsPerBlock = chacha12::kBlockWords / 2;

    // All-zero key: the draws of a request made without a generator.
    RequestGenerator() : RequestGenerator(Key{}) {}
    // `stream` is the 64-bit nonce (state words 14 and 15): each stream of a key is an independent
    // keystream. Generation draws use stream 0.
    explicit RequestGenerator(const Key& key, std::uint64_t stream = 0);

    // The key of seed s: eight PCG32 outputs of the states s·M + I, (s·M + I)·M + I, ...
    static Key key_from_seed(std::uint64_t seed);
    static KeyWords key_words_of_seed(std::uint64_t seed);

    // Starts this generator afresh on stream `stream` of `key`, whose first block (16 words) has been
    // computed already, past its first `drawn` 64-bit draws.
    void start(const KeyWords& key, std::uint64_t stream, const std::uint32_t* first_block, std::uint32_t drawn = 0) {
        key_ = key;
        stream_ = stream;
        std::memcpy(buffer_, first_block, chacha12::kBlockWords * sizeof(std::uint32_t));
        counter_ = 1;
        pos_ = 2 * drawn;
        len_ = chacha12::kBlockWords;
    }

    std::uint32_t next_u32() {
        if (pos_ == len_) refill();
        return buffer_[pos_++];
    }
    // Low word first.
    std::uint64_t next_u64() {
        if (len_ - pos_ >= 2) {
            std::uint64_t draw;
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(&draw, buffer_ + pos_, sizeof draw);
            } else {
                draw = std::uint64_t{buffer_[pos_]} | std::uint64_t{buffer_[pos_ + 1]} << 32;
            }
            pos_ += 2;
            return draw;
        }
        std::uint64_t low = next_u32();
        return low | (std::uint64_t{next_u32()} << 32);
    }

    // Computes the next blocks now if none are waiting, without drawing: copies made afterwards
    // start with them, so a generator copied for many requests computes its first blocks once.
    void prefetch() {
        if (pos_ == len_) refill();
    }

    // Where the stream stands, for counting draws in bulk (TailCounter): the key and stream, the
    // words computed but not drawn yet, and the block that follows them.
    const KeyWords& key() const { return key_; }
    std::uint64_t stream() const { return stream_; }
    const std::uint32_t* waiting_words() const { return buffer_ + pos_; }
    std::uint32_t waiting_word_count() const { return len_ - pos_; }
    std::uint64_t next_block() const { return counter_; }
    // Passes over the waiting words and then `blocks` whole blocks, as if drawn.
    void skip(std::uint64_t blocks) {
        pos_ = len_;
        counter_ += blocks;
    }

    // A value in [0, 1]: the top 52 bits as the fraction of a number in [1, 2), minus 1,
    // times the double just above 1.
    static double uniform_from_bits(std::uint64_t x);
    // The number of 52-bit fractions m whose uniform value is below p, so that
    // uniform_from_bits(x) < p exactly when (x >> 12) < below_count(p).
    static std::uint64_t below_count(double p);

private:
    void refill();

    KeyWords key_{};
    std::uint64_t stream_ = 0;
    std::uint64_t counter_ = 0;  // next block to generate
    std::uint32_t pos_ = 0;
    std::uint32_t len_ = 0;
    // Filled before it is read (len_ says how far): left uninitialised, as generators are made per trial.
    alignas(64) std::uint32_t buffer_[kBufferBlocks * chacha12::kBlockWords];
};

// The keys of consecutive seeds, sixteen at a time, as the key words of a LaneStates. The PCG state
// after step j is affine in the seed (s·M^j + c_j modulo 2^64), so the states of the next sixteen seeds
// are those of the last sixteen plus 16·M^j: no multiplication per key.
class SeedKeys {
public:
    explicit SeedKeys(std::uint64_t first_seed);
    // Key words of seeds first + lane into state words 4..11 of all sixteen lanes; then moves on to
    // the next sixteen seeds.
    void fill(chacha12::LaneStates& states);

private:
    alignas(64) std::uint64_t states_[8][chacha12::kLanes];
    std::uint64_t increments_[8];
};

// The words of a lane's key in a LaneStates.
inline RequestGenerator::KeyWords key_of_lane(const chacha12::LaneStates& states, int lane) {
    RequestGenerator::KeyWords key;
    for (int w = 0; w < 8; ++w) key[w] = states[4 + w][lane];
    return key;
}

// Sets every lane's constant words, block counter `counter` and nonce `stream`.
void set_counter_and_stream(chacha12::LaneStates& states, std::uint64_t counter, std::uint64_t stream);

}  // namespace vorn
