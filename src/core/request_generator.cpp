#include "core/request_generator.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/chacha12_block.hpp"

namespace vorn {
namespace {

constexpr std::uint64_t kPcgMultiplier = 6364136223846793005ull;
constexpr std::uint64_t kPcgIncrement = 11634580027462260723ull;
constexpr int kWordsPerBlock = chacha12::kBlockWords;

std::uint32_t load_le32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

std::array<std::uint32_t, 8> key_words_of_seed(std::uint64_t seed) {
    std::array<std::uint32_t, 8> words;
    std::uint64_t state = seed;
    for (auto& word : words) {
        state = state * kPcgMultiplier + kPcgIncrement;
        auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
        word = std::rotr(xorshifted, static_cast<int>(state >> 59));
    }
    return words;
}

void set_lane(chacha12::LaneStates& states, int lane, const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
              std::uint64_t stream) {
    for (int w = 0; w < 4; ++w) states[w][lane] = chacha12::kSigma[w];
    for (int w = 0; w < 8; ++w) states[4 + w][lane] = key[w];
    states[12][lane] = static_cast<std::uint32_t>(counter);
    states[13][lane] = static_cast<std::uint32_t>(counter >> 32);
    states[14][lane] = static_cast<std::uint32_t>(stream);
    states[15][lane] = static_cast<std::uint32_t>(stream >> 32);
}

// Two consecutive keystream words, the first as the low half.
inline std::uint64_t load_draw(const std::uint32_t* words) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t draw;
        std::memcpy(&draw, words, sizeof draw);
        return draw;
    } else {
        return std::uint64_t{words[0]} | std::uint64_t{words[1]} << 32;
    }
}

}  // namespace

RequestGenerator::RequestGenerator(const Key& key, std::uint64_t stream) : stream_(stream) {
    for (int w = 0; w < 8; ++w) key_[w] = load_le32(key.data() + 4 * w);
}

RequestGenerator::Key RequestGenerator::key_from_seed(std::uint64_t seed) {
    Key key;
    auto words = key_words_of_seed(seed);
    for (int w = 0; w < 8; ++w)
        for (int b = 0; b < 4; ++b) key[4 * w + b] = static_cast<std::uint8_t>(words[w] >> (8 * b));
    return key;
}

void RequestGenerator::from_consecutive_seeds(std::uint64_t first, std::span<RequestGenerator, 8> out) {
    alignas(32) chacha12::LaneStates states;
    for (int lane = 0; lane < chacha12::kLanes; ++lane) {
        out[lane].key_ = key_words_of_seed(first + static_cast<std::uint64_t>(lane));
        out[lane].stream_ = 0;
        set_lane(states, lane, out[lane].key_, 0, 0);
    }
    alignas(32) std::uint32_t blocks[chacha12::kLanes * kWordsPerBlock];
    chacha12::blocks(states, blocks);
    for (int lane = 0; lane < chacha12::kLanes; ++lane) {
        RequestGenerator& generator = out[lane];
        std::memcpy(generator.buffer_, blocks + lane * kWordsPerBlock, kWordsPerBlock * sizeof(std::uint32_t));
        generator.counter_ = 1;
        generator.pos_ = 0;
        generator.len_ = kWordsPerBlock;
    }
}

void RequestGenerator::refill() {
    alignas(32) chacha12::LaneStates states;
    for (int lane = 0; lane < kBufferBlocks; ++lane) set_lane(states, lane, key_, counter_ + lane, stream_);
    chacha12::blocks(states, buffer_);
    counter_ += kBufferBlocks;
    pos_ = 0;
    len_ = kBufferBlocks * kWordsPerBlock;
}

std::uint64_t RequestGenerator::count_at_or_above(std::span<const std::uint64_t> thresholds, std::uint64_t rounds) {
    const std::size_t size = thresholds.size();
    std::uint64_t count = 0;
    while (rounds > 0) {
        // Whole rounds straight from the buffer; a round split across a refill goes draw by draw.
        const std::uint64_t whole = size == 0 ? rounds : std::min<std::uint64_t>(rounds, (len_ - pos_) / (2 * size));
        if (whole == 0) {
            for (std::uint64_t threshold : thresholds) count += (next_u64() >> 12) >= threshold;
            --rounds;
            continue;
        }
        const std::uint32_t* words = buffer_ + pos_;
        for (std::uint64_t round = 0; round < whole; ++round, words += 2 * size)
            for (std::size_t i = 0; i < size; ++i) count += (load_draw(words + 2 * i) >> 12) >= thresholds[i];
        pos_ += static_cast<std::uint32_t>(2 * size * whole);
        rounds -= whole;
    }
    return count;
}

double RequestGenerator::uniform_from_bits(std::uint64_t x) {
    constexpr std::uint64_t kOneBits = 0x3FF0000000000000ull;
    constexpr double kScale = 1.0000000000000002;
    return (std::bit_cast<double>((x >> 12) | kOneBits) - 1.0) * kScale;
}

std::uint64_t RequestGenerator::below_count(double p) {
    // uniform_from_bits is monotone in the fraction m, so "below p" holds for a prefix of fractions.
    // Its value is m / 2^52 raised by at most two units in the last place, so the end of that prefix
    // lies within a few fractions of p · 2^52: start there and step to it.
    constexpr std::uint64_t kFractions = std::uint64_t{1} << 52;
    if (!(p > 0.0)) return 0;
    if (p > 1.0) return kFractions;
    auto m = static_cast<std::uint64_t>(p * 0x1p52);
    while (m > 0 && !(uniform_from_bits((m - 1) << 12) < p)) --m;
    while (m < kFractions && uniform_from_bits(m << 12) < p) ++m;
    return m;
}

}  // namespace vorn
