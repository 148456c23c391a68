#include "core/physics/keyed_stream.hpp"

#include <cstring>

namespace vorn::physics {
namespace {

// The key of seed s: its two 32-bit halves, low first, then six fixed words ("vorn physics 1.0");
// the nonce stays zero. ChaCha12 is a pseudorandom function of its key, so keys that differ only in
// the seed words give independent streams, and none equals the engine's (whose key words all come
// from a PCG mix of the seed).
constexpr std::uint32_t kKeyTail[6] = {0x6e726f76u, 0x79687020u, 0x73636973u, 0x302e3120u, 0x0u, 0x1u};

std::array<std::uint32_t, 8> key_words(std::uint64_t seed) {
    return {static_cast<std::uint32_t>(seed),
            static_cast<std::uint32_t>(seed >> 32),
            kKeyTail[0],
            kKeyTail[1],
            kKeyTail[2],
            kKeyTail[3],
            kKeyTail[4],
            kKeyTail[5]};
}

void set_lane(chacha12::LaneStates& states, int lane, const std::array<std::uint32_t, 8>& key, std::uint64_t block) {
    for (int w = 0; w < 4; ++w) states[w][lane] = chacha12::kSigma[w];
    for (int w = 0; w < 8; ++w) states[4 + w][lane] = key[w];
    states[12][lane] = static_cast<std::uint32_t>(block);
    states[13][lane] = static_cast<std::uint32_t>(block >> 32);
    states[14][lane] = 0;
    states[15][lane] = 0;
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
