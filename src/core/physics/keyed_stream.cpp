#include "core/physics/keyed_stream.hpp"

#include <cstring>

#include "core/request_generator.hpp"

namespace vorn::physics {
namespace {

// "vorn phys": the nonce words that set this stream apart from the engine's (whose nonce is zero).
constexpr std::uint32_t kNonce[2] = {0x6e726f76u, 0x73796870u};

std::array<std::uint32_t, 8> key_words(std::uint64_t seed) {
    const RequestGenerator::Key key = RequestGenerator::key_from_seed(seed);
    std::array<std::uint32_t, 8> words;
    for (int w = 0; w < 8; ++w)
        words[w] = std::uint32_t{key[4 * w]} | std::uint32_t{key[4 * w + 1]} << 8 |
                   std::uint32_t{key[4 * w + 2]} << 16 | std::uint32_t{key[4 * w + 3]} << 24;
    return words;
}

void set_lane(chacha12::LaneStates& states, int lane, const std::array<std::uint32_t, 8>& key, std::uint64_t block) {
    for (int w = 0; w < 4; ++w) states[w][lane] = chacha12::kSigma[w];
    for (int w = 0; w < 8; ++w) states[4 + w][lane] = key[w];
    states[12][lane] = static_cast<std::uint32_t>(block);
    states[13][lane] = static_cast<std::uint32_t>(block >> 32);
    states[14][lane] = kNonce[0];
    states[15][lane] = kNonce[1];
}

}  // namespace

void KeyedStream::start_batch(std::uint64_t first_seed, std::span<KeyedStream, kBatch> out) {
    alignas(32) chacha12::LaneStates states;
    for (int lane = 0; lane < kBatch; ++lane) {
        out[lane].key_ = key_words(first_seed + static_cast<std::uint64_t>(lane));
        set_lane(states, lane, out[lane].key_, 0);
    }
    alignas(32) std::uint32_t blocks[kBatch * chacha12::kBlockWords];
    chacha12::blocks(states, blocks);
    for (int lane = 0; lane < kBatch; ++lane) {
        KeyedStream& stream = out[lane];
        std::memcpy(stream.buffer_, blocks + lane * chacha12::kBlockWords,
                    sizeof(std::uint32_t) * chacha12::kBlockWords);
        stream.counter_ = 1;
        stream.pos_ = 0;
        stream.len_ = chacha12::kBlockWords;
    }
}

void KeyedStream::refill() {
    alignas(32) chacha12::LaneStates states;
    for (int lane = 0; lane < kBatch; ++lane) set_lane(states, lane, key_, counter_ + static_cast<std::uint64_t>(lane));
    chacha12::blocks(states, buffer_);
    counter_ += kBatch;
    pos_ = 0;
    len_ = kBatch * chacha12::kBlockWords;
}

}  // namespace vorn::physics
