#include "core/random/seeds.hpp"

#include <bit>

#include "core/random/chacha12_simd.hpp"

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

// The PCG32 output function (XSH RR) of one state.
inline std::uint32_t pcg_output(std::uint64_t state) {
    const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    return std::rotr(xorshifted, static_cast<int>(state >> 59));
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

// BLAKE2b (RFC 7693) of one message of at most 128 bytes, given as its first 64-bit word (the rest
// zero), unkeyed, with an 8-byte digest and a personalisation of at most 8 bytes: the digest as a
// little-endian number.
std::uint64_t blake2b_8(std::uint64_t message, std::uint32_t message_bytes, std::uint64_t personal) {
    static constexpr std::uint64_t kIv[8] = {0x6a09e667f3bcc908ull, 0xbb67ae8584caa73bull, 0x3c6ef372fe94f82bull,
                                             0xa54ff53a5f1d36f1ull, 0x510e527fade682d1ull, 0x9b05688c2b3e6c1full,
                                             0x1f83d9abfb41bd6bull, 0x5be0cd19137e2179ull};
    static constexpr std::uint8_t kSigma[10][16] = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
        {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4}, {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
        {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13}, {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
        {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11}, {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
        {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5}, {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0}};
    std::uint64_t h[8];
    for (int i = 0; i < 8; ++i) h[i] = kIv[i];
    h[0] ^= 0x01010000u | 8u;  // fan-out 1, depth 1, no key, 8-byte digest
    h[6] ^= personal;
    const std::uint64_t m[16] = {message};
    std::uint64_t v[16];
    for (int i = 0; i < 8; ++i) v[i] = h[i], v[8 + i] = kIv[i];
    v[12] ^= message_bytes;
    v[14] = ~v[14];  // the last block
    const auto mix = [&](int a, int b, int c, int d, std::uint64_t x, std::uint64_t y) {
        v[a] += v[b] + x;
        v[d] = std::rotr(v[d] ^ v[a], 32);
        v[c] += v[d];
        v[b] = std::rotr(v[b] ^ v[c], 24);
        v[a] += v[b] + y;
        v[d] = std::rotr(v[d] ^ v[a], 16);
        v[c] += v[d];
        v[b] = std::rotr(v[b] ^ v[c], 63);
    };
    for (int round = 0; round < 12; ++round) {
        const std::uint8_t* s = kSigma[round % 10];
        mix(0, 4, 8, 12, m[s[0]], m[s[1]]);
        mix(1, 5, 9, 13, m[s[2]], m[s[3]]);
        mix(2, 6, 10, 14, m[s[4]], m[s[5]]);
        mix(3, 7, 11, 15, m[s[6]], m[s[7]]);
        mix(0, 5, 10, 15, m[s[8]], m[s[9]]);
        mix(1, 6, 11, 12, m[s[10]], m[s[11]]);
        mix(2, 7, 8, 13, m[s[12]], m[s[13]]);
        mix(3, 4, 9, 14, m[s[14]], m[s[15]]);
    }
    return h[0] ^ v[0] ^ v[8];
}

}  // namespace

chacha12::KeyWords key_words(SeedKey, std::uint64_t seed) {
    chacha12::KeyWords words;
    std::uint64_t state = seed;
    for (auto& word : words) {
        state = state * kPcgMultiplier + kPcgIncrement;
        word = pcg_output(state);
    }
    return words;
}

template <SeedKey Key>
SeedKeys<Key>::SeedKeys(std::uint64_t first_seed) {
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

template <SeedKey Key>
void SeedKeys<Key>::fill(chacha12::LaneStates& states) {
#if VORN_CHACHA_X86
    const chacha12::Kernel kernel = chacha12::active_kernel();
    if (kernel == chacha12::Kernel::Avx512) return fill_avx512(states_, increments_, states);
    if (kernel == chacha12::Kernel::Avx2) return fill_avx2(states_, increments_, states);
#endif
    fill_scalar(states_, increments_, states);
}

template class SeedKeys<SeedKey::Pcg>;

std::uint64_t replicate_base(std::uint64_t seed) {
    constexpr std::uint64_t kPersonal = 0x7065722d6e726f76ull;  // "vorn-rep", little-endian
    return blake2b_8(seed, 8, kPersonal);
}

}  // namespace vorn
