#include "core/request_generator.hpp"

#include "core/chacha12_simd.hpp"

#if VORN_CHACHA_X86
// GCC 12's AVX-512 intrinsics start from _mm512_undefined_*(), which it then reports as uninitialised.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#endif

namespace vorn {
namespace {

constexpr std::uint64_t kPcgMultiplier = 6364136223846793005ull;
constexpr std::uint64_t kPcgIncrement = 11634580027462260723ull;
constexpr int kWordsPerBlock = chacha12::kBlockWords;

std::uint32_t load_le32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// The PCG32 output function (XSH RR) of one state.
inline std::uint32_t pcg_output(std::uint64_t state) {
    const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    return std::rotr(xorshifted, static_cast<int>(state >> 59));
}

void set_lane(chacha12::LaneStates& states, int lane, const RequestGenerator::KeyWords& key, std::uint64_t counter,
              std::uint64_t stream) {
    for (int w = 0; w < 4; ++w) states[w][lane] = chacha12::kSigma[w];
    for (int w = 0; w < 8; ++w) states[4 + w][lane] = key[w];
    states[12][lane] = static_cast<std::uint32_t>(counter);
    states[13][lane] = static_cast<std::uint32_t>(counter >> 32);
    states[14][lane] = static_cast<std::uint32_t>(stream);
    states[15][lane] = static_cast<std::uint32_t>(stream >> 32);
}

void fill_scalar(std::uint64_t (&states)[8][chacha12::kLanes], const std::uint64_t (&increments)[8],
                 chacha12::LaneStates& out) {
    for (int j = 0; j < 8; ++j)
        for (int lane = 0; lane < chacha12::kLanes; ++lane) {
            out[4 + j][lane] = pcg_output(states[j][lane]);
            states[j][lane] += increments[j];
        }
}

#if VORN_CHACHA_X86
// Four lanes per 64-bit vector. The state's word x is below 2^32 once masked, so the low half of
// (x | x << 32) >> r is x rotated right by r; two vectors' low halves are then joined into one.
__attribute__((target("avx2"))) void fill_avx2(std::uint64_t (&states)[8][chacha12::kLanes],
                                               const std::uint64_t (&increments)[8], chacha12::LaneStates& out) {
    const __m256i low_words = _mm256_set1_epi64x(0xFFFFFFFF);
    const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    for (int j = 0; j < 8; ++j) {
        const __m256i increment = _mm256_set1_epi64x(static_cast<long long>(increments[j]));
        __m256i words[4];
        for (int quarter = 0; quarter < 4; ++quarter) {
            auto* lanes = reinterpret_cast<__m256i*>(states[j] + 4 * quarter);
            const __m256i state = _mm256_load_si256(lanes);
            const __m256i x = _mm256_and_si256(
                _mm256_srli_epi64(_mm256_xor_si256(_mm256_srli_epi64(state, 18), state), 27), low_words);
            words[quarter] =
                _mm256_srlv_epi64(_mm256_or_si256(x, _mm256_slli_epi64(x, 32)), _mm256_srli_epi64(state, 59));
            _mm256_store_si256(lanes, _mm256_add_epi64(state, increment));
        }
        for (int half = 0; half < 2; ++half) {
            const __m256i joined =
                _mm256_blend_epi32(words[2 * half], _mm256_slli_epi64(words[2 * half + 1], 32), 0xAA);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[4 + j] + 8 * half),
                                _mm256_permutevar8x32_epi32(joined, order));
        }
    }
}

// Eight lanes per 64-bit vector; the rotation by the state's top five bits is a 32-bit one, so the
// two halves' words are narrowed and joined before it.
__attribute__((target("avx512f"))) void fill_avx512(std::uint64_t (&states)[8][chacha12::kLanes],
                                                    const std::uint64_t (&increments)[8], chacha12::LaneStates& out) {
    for (int j = 0; j < 8; ++j) {
        const __m512i increment = _mm512_set1_epi64(static_cast<long long>(increments[j]));
        __m256i words[2], rotations[2];
        for (int half = 0; half < 2; ++half) {
            const __m512i state = _mm512_load_si512(states[j] + 8 * half);
            const __m512i xorshifted = _mm512_srli_epi64(_mm512_xor_si512(_mm512_srli_epi64(state, 18), state), 27);
            words[half] = _mm512_cvtepi64_epi32(xorshifted);
            rotations[half] = _mm512_cvtepi64_epi32(_mm512_srli_epi64(state, 59));
            _mm512_store_si512(states[j] + 8 * half, _mm512_add_epi64(state, increment));
        }
        const __m512i word = _mm512_inserti64x4(_mm512_castsi256_si512(words[0]), words[1], 1);
        const __m512i rotation = _mm512_inserti64x4(_mm512_castsi256_si512(rotations[0]), rotations[1], 1);
        _mm512_storeu_si512(out[4 + j], _mm512_rorv_epi32(word, rotation));
    }
}
#endif

}  // namespace

RequestGenerator::RequestGenerator(const Key& key, std::uint64_t stream) : stream_(stream) {
    for (int w = 0; w < 8; ++w) key_[w] = load_le32(key.data() + 4 * w);
}

RequestGenerator::KeyWords RequestGenerator::key_words_of_seed(std::uint64_t seed) {
    KeyWords words;
    std::uint64_t state = seed;
    for (auto& word : words) {
        state = state * kPcgMultiplier + kPcgIncrement;
        word = pcg_output(state);
    }
    return words;
}

RequestGenerator::Key RequestGenerator::key_from_seed(std::uint64_t seed) {
    Key key;
    auto words = key_words_of_seed(seed);
    for (int w = 0; w < 8; ++w)
        for (int b = 0; b < 4; ++b) key[4 * w + b] = static_cast<std::uint8_t>(words[w] >> (8 * b));
    return key;
}

void RequestGenerator::refill() {
    alignas(64) chacha12::LaneStates states;
    for (int lane = 0; lane < kBufferBlocks; ++lane) set_lane(states, lane, key_, counter_ + lane, stream_);
    chacha12::blocks(states, buffer_, kBufferBlocks);
    counter_ += kBufferBlocks;
    pos_ = 0;
    len_ = kBufferBlocks * kWordsPerBlock;
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

SeedKeys::SeedKeys(std::uint64_t first_seed) {
    std::uint64_t power = 1;  // M^(j+1) after step j
    for (int j = 0; j < 8; ++j) {
        power *= kPcgMultiplier;
        increments_[j] = power * chacha12::kLanes;
    }
    for (int lane = 0; lane < chacha12::kLanes; ++lane) {
        std::uint64_t state = first_seed + static_cast<std::uint64_t>(lane);
        for (int j = 0; j < 8; ++j) states_[j][lane] = state = state * kPcgMultiplier + kPcgIncrement;
    }
}

void SeedKeys::fill(chacha12::LaneStates& states) {
#if VORN_CHACHA_X86
    const chacha12::Kernel kernel = chacha12::active_kernel();
    if (kernel == chacha12::Kernel::Avx512) return fill_avx512(states_, increments_, states);
    if (kernel == chacha12::Kernel::Avx2) return fill_avx2(states_, increments_, states);
#endif
    fill_scalar(states_, increments_, states);
}

void set_counter_and_stream(chacha12::LaneStates& states, std::uint64_t counter, std::uint64_t stream) {
    for (int lane = 0; lane < chacha12::kLanes; ++lane) {
        for (int w = 0; w < 4; ++w) states[w][lane] = chacha12::kSigma[w];
        states[12][lane] = static_cast<std::uint32_t>(counter);
        states[13][lane] = static_cast<std::uint32_t>(counter >> 32);
        states[14][lane] = static_cast<std::uint32_t>(stream);
        states[15][lane] = static_cast<std::uint32_t>(stream >> 32);
    }
}

}  // namespace vorn
