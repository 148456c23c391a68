// A ChaCha12 keystream as a source of 32-bit and 64-bit draws: one stream (nonce) of one key, block
// after block. The engine's generation draws, the keyed loss draws and the physical model's draws are
// all such streams, each keyed by a trial's own seed (core/random/seeds.hpp).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "core/random/chacha12_block.hpp"
#include "core/random/uniform.hpp"

namespace vorn {

class KeyedStream {
public:
    static constexpr int kBufferBlocks = 8;
    static constexpr int kDrawsPerBlock = chacha12::kBlockWords / 2;

    // All-zero key, stream 0: the draws of a request made without a generator.
    KeyedStream() = default;
    // Each stream (the 64-bit nonce, state words 14 and 15) of a key is an independent keystream.
    KeyedStream(const chacha12::KeyWords& key, std::uint64_t stream) : key_(key), stream_(stream) {}

    // Starts afresh on stream `stream` of `key`, whose first block (16 words) has been computed
    // already, past its first `drawn` 64-bit draws.
    void start(const chacha12::KeyWords& key, std::uint64_t stream, const std::uint32_t* first_block,
               std::uint32_t drawn = 0) {
        key_ = key;
        stream_ = stream;
        std::memcpy(buffer_, first_block, chacha12::kBlockWords * sizeof(std::uint32_t));
        counter_ = 1;
        pos_ = 2 * drawn;
        set_length(chacha12::kBlockWords);
    }
    std::uint32_t next_u32() {
        if (pos_ == len_) refill();
        return buffer_[pos_++];
    }
    // Low word first.
    std::uint64_t next_u64() {
        if (pos_ < pair_end_) {
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
    double next_open_closed() { return open_closed_uniform(next_u64()); }

    // Computes the next blocks now if none are waiting, without drawing: copies made afterwards
    // start with them, so a stream copied for many requests computes its first blocks once.
    void prefetch() {
        if (pos_ == len_) refill();
    }

    // Where the stream stands, for counting draws in bulk (TailCounter): the key and stream, the
    // words computed but not drawn yet, and the block that follows them.
    const chacha12::KeyWords& key() const { return key_; }
    std::uint64_t stream() const { return stream_; }
    const std::uint32_t* waiting_words() const { return buffer_ + pos_; }
    std::uint32_t waiting_word_count() const { return len_ - pos_; }
    std::uint64_t next_block() const { return counter_; }
    // Passes over the waiting words and then `blocks` whole blocks, as if drawn.
    void skip(std::uint64_t blocks) {
        pos_ = len_;
        counter_ += blocks;
    }

private:
    void refill();
    void set_length(std::uint32_t words) {
        len_ = words;
        pair_end_ = words - 1;
    }

    chacha12::KeyWords key_{};
    std::uint64_t stream_ = 0;
    std::uint64_t counter_ = 0;  // next block to generate
    std::uint32_t pos_ = 0;
    std::uint32_t len_ = 0;
    std::uint32_t pair_end_ = 0;  // len_ - 1 (0 while nothing is computed): a 64-bit draw at pos_ < pair_end_ is whole
    // Filled before it is read (len_ says how far): left uninitialised, as streams are made per trial.
    alignas(64) std::uint32_t buffer_[kBufferBlocks * chacha12::kBlockWords];
};

}  // namespace vorn
