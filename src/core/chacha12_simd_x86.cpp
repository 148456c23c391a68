#include "core/chacha12_simd.hpp"

#if VORN_CHACHA_X86
#include <immintrin.h>

namespace vorn::chacha12 {
namespace {

constexpr int kDoubleRounds = 6;

// One vector per state word, one block per vector element: the rounds need no shuffles
// between words, only the final transpose back to block order.

template <int N>
inline __m128i rotl128(__m128i x) {
    return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N));
}

inline void quarter_round128(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    a = _mm_add_epi32(a, b);
    d = rotl128<16>(_mm_xor_si128(d, a));
    c = _mm_add_epi32(c, d);
    b = rotl128<12>(_mm_xor_si128(b, c));
    a = _mm_add_epi32(a, b);
    d = rotl128<8>(_mm_xor_si128(d, a));
    c = _mm_add_epi32(c, d);
    b = rotl128<7>(_mm_xor_si128(b, c));
}

// Four lanes starting at `first`.
void four_lanes_sse2(const LaneStates& states, std::uint32_t* out, int first) {
    __m128i x[kBlockWords];
    for (int w = 0; w < kBlockWords; ++w) x[w] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&states[w][first]));
    for (int i = 0; i < kDoubleRounds; ++i) {
        quarter_round128(x[0], x[4], x[8], x[12]);
        quarter_round128(x[1], x[5], x[9], x[13]);
        quarter_round128(x[2], x[6], x[10], x[14]);
        quarter_round128(x[3], x[7], x[11], x[15]);
        quarter_round128(x[0], x[5], x[10], x[15]);
        quarter_round128(x[1], x[6], x[11], x[12]);
        quarter_round128(x[2], x[7], x[8], x[13]);
        quarter_round128(x[3], x[4], x[9], x[14]);
    }
    for (int w = 0; w < kBlockWords; ++w)
        x[w] = _mm_add_epi32(x[w], _mm_loadu_si128(reinterpret_cast<const __m128i*>(&states[w][first])));
    for (int w = 0; w < kBlockWords; w += 4) {
        __m128i t0 = _mm_unpacklo_epi32(x[w], x[w + 1]);
        __m128i t1 = _mm_unpacklo_epi32(x[w + 2], x[w + 3]);
        __m128i t2 = _mm_unpackhi_epi32(x[w], x[w + 1]);
        __m128i t3 = _mm_unpackhi_epi32(x[w + 2], x[w + 3]);
        std::uint32_t* row = out + first * kBlockWords + w;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row), _mm_unpacklo_epi64(t0, t1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + kBlockWords), _mm_unpackhi_epi64(t0, t1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * kBlockWords), _mm_unpacklo_epi64(t2, t3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 3 * kBlockWords), _mm_unpackhi_epi64(t2, t3));
    }
}

#define VORN_AVX2 __attribute__((target("avx2")))

VORN_AVX2 inline __m256i rotl256_16(__m256i x) {
    const __m256i order = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3, 0, 1, 6, 7, 4, 5,
                                           10, 11, 8, 9, 14, 15, 12, 13);
    return _mm256_shuffle_epi8(x, order);
}

VORN_AVX2 inline __m256i rotl256_8(__m256i x) {
    const __m256i order = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14, 3, 0, 1, 2, 7, 4, 5, 6,
                                           11, 8, 9, 10, 15, 12, 13, 14);
    return _mm256_shuffle_epi8(x, order);
}

template <int N>
VORN_AVX2 inline __m256i rotl256(__m256i x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, N), _mm256_srli_epi32(x, 32 - N));
}

VORN_AVX2 inline void quarter_round256(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
    a = _mm256_add_epi32(a, b);
    d = rotl256_16(_mm256_xor_si256(d, a));
    c = _mm256_add_epi32(c, d);
    b = rotl256<12>(_mm256_xor_si256(b, c));
    a = _mm256_add_epi32(a, b);
    d = rotl256_8(_mm256_xor_si256(d, a));
    c = _mm256_add_epi32(c, d);
    b = rotl256<7>(_mm256_xor_si256(b, c));
}

VORN_AVX2 inline void store_row(std::uint32_t* out, int w, int lane, __m256i row) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + lane * kBlockWords + w), row);
}

// Words w..w+7 of all eight lanes, transposed so that each lane's eight words are contiguous.
VORN_AVX2 inline void store_transposed(const __m256i* r, std::uint32_t* out, int w) {
    __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
    __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
    __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
    __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
    __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
    __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
    store_row(out, w, 0, _mm256_permute2x128_si256(u0, u4, 0x20));
    store_row(out, w, 1, _mm256_permute2x128_si256(u1, u5, 0x20));
    store_row(out, w, 2, _mm256_permute2x128_si256(u2, u6, 0x20));
    store_row(out, w, 3, _mm256_permute2x128_si256(u3, u7, 0x20));
    store_row(out, w, 4, _mm256_permute2x128_si256(u0, u4, 0x31));
    store_row(out, w, 5, _mm256_permute2x128_si256(u1, u5, 0x31));
    store_row(out, w, 6, _mm256_permute2x128_si256(u2, u6, 0x31));
    store_row(out, w, 7, _mm256_permute2x128_si256(u3, u7, 0x31));
}

}  // namespace

void blocks_sse2(const LaneStates& states, std::uint32_t* out) {
    four_lanes_sse2(states, out, 0);
    four_lanes_sse2(states, out, 4);
}

VORN_AVX2 void blocks_avx2(const LaneStates& states, std::uint32_t* out) {
    __m256i x[kBlockWords];
    for (int w = 0; w < kBlockWords; ++w) x[w] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(states[w]));
    for (int i = 0; i < kDoubleRounds; ++i) {
        quarter_round256(x[0], x[4], x[8], x[12]);
        quarter_round256(x[1], x[5], x[9], x[13]);
        quarter_round256(x[2], x[6], x[10], x[14]);
        quarter_round256(x[3], x[7], x[11], x[15]);
        quarter_round256(x[0], x[5], x[10], x[15]);
        quarter_round256(x[1], x[6], x[11], x[12]);
        quarter_round256(x[2], x[7], x[8], x[13]);
        quarter_round256(x[3], x[4], x[9], x[14]);
    }
    for (int w = 0; w < kBlockWords; ++w)
        x[w] = _mm256_add_epi32(x[w], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(states[w])));
    store_transposed(x, out, 0);
    store_transposed(x + 8, out, 8);
}

}  // namespace vorn::chacha12

#endif
