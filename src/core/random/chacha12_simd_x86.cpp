#include "core/random/chacha12_simd.hpp"

#if VORN_CHACHA_X86
// GCC 12's AVX-512 intrinsics start from _mm512_undefined_*(), which it then reports as uninitialised.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
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

}  // namespace

void four_blocks_sse2(const LaneStates& states, std::uint32_t* out, int first) {
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

// One block alone, a row of four words per vector: the diagonal rounds rotate rows b, c and d into
// columns and back. Half the work of four blocks side by side, for a stream that needs one more block.
void one_block_sse2(const LaneStates& states, std::uint32_t* out) {
    __m128i row[4], start[4];
    for (int r = 0; r < 4; ++r)
        row[r] = start[r] =
            _mm_setr_epi32(static_cast<int>(states[4 * r][0]), static_cast<int>(states[4 * r + 1][0]),
                           static_cast<int>(states[4 * r + 2][0]), static_cast<int>(states[4 * r + 3][0]));
    for (int i = 0; i < kDoubleRounds; ++i) {
        quarter_round128(row[0], row[1], row[2], row[3]);
        row[1] = _mm_shuffle_epi32(row[1], _MM_SHUFFLE(0, 3, 2, 1));
        row[2] = _mm_shuffle_epi32(row[2], _MM_SHUFFLE(1, 0, 3, 2));
        row[3] = _mm_shuffle_epi32(row[3], _MM_SHUFFLE(2, 1, 0, 3));
        quarter_round128(row[0], row[1], row[2], row[3]);
        row[1] = _mm_shuffle_epi32(row[1], _MM_SHUFFLE(2, 1, 0, 3));
        row[2] = _mm_shuffle_epi32(row[2], _MM_SHUFFLE(1, 0, 3, 2));
        row[3] = _mm_shuffle_epi32(row[3], _MM_SHUFFLE(0, 3, 2, 1));
    }
    for (int r = 0; r < 4; ++r)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * r), _mm_add_epi32(row[r], start[r]));
}

namespace {

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

// Words w..w+7 of eight lanes, transposed so that each lane's eight words are contiguous; `out`
// points at the first of the eight lanes' blocks.
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

#define VORN_AVX512 __attribute__((target("avx512f")))

VORN_AVX512 inline void quarter_round512(__m512i& a, __m512i& b, __m512i& c, __m512i& d) {
    a = _mm512_add_epi32(a, b);
    d = _mm512_rol_epi32(_mm512_xor_si512(d, a), 16);
    c = _mm512_add_epi32(c, d);
    b = _mm512_rol_epi32(_mm512_xor_si512(b, c), 12);
    a = _mm512_add_epi32(a, b);
    d = _mm512_rol_epi32(_mm512_xor_si512(d, a), 8);
    c = _mm512_add_epi32(c, d);
    b = _mm512_rol_epi32(_mm512_xor_si512(b, c), 7);
}

}  // namespace

VORN_AVX2 void eight_blocks_avx2(const LaneStates& states, std::uint32_t* out, int first) {
    __m256i x[kBlockWords];
    for (int w = 0; w < kBlockWords; ++w)
        x[w] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&states[w][first]));
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
        x[w] = _mm256_add_epi32(x[w], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&states[w][first])));
    store_transposed(x, out + first * kBlockWords, 0);
    store_transposed(x + 8, out + first * kBlockWords, 8);
}

// Sixteen lanes in one vector per state word; AVX-512 rotates in one instruction and has registers
// for the whole state. The transpose interleaves words in pairs, then in fours, then moves 128-bit
// chunks so that each vector holds one lane's block.
VORN_AVX512 void sixteen_blocks_avx512(const LaneStates& states, std::uint32_t* out, int count) {
    __m512i x[kBlockWords];
    for (int w = 0; w < kBlockWords; ++w) x[w] = _mm512_loadu_si512(states[w]);
    for (int i = 0; i < kDoubleRounds; ++i) {
        quarter_round512(x[0], x[4], x[8], x[12]);
        quarter_round512(x[1], x[5], x[9], x[13]);
        quarter_round512(x[2], x[6], x[10], x[14]);
        quarter_round512(x[3], x[7], x[11], x[15]);
        quarter_round512(x[0], x[5], x[10], x[15]);
        quarter_round512(x[1], x[6], x[11], x[12]);
        quarter_round512(x[2], x[7], x[8], x[13]);
        quarter_round512(x[3], x[4], x[9], x[14]);
    }
    for (int w = 0; w < kBlockWords; ++w) x[w] = _mm512_add_epi32(x[w], _mm512_loadu_si512(states[w]));
    // a: in each 128-bit chunk c, words (w, w+1) of lanes 4c..4c+3 interleaved.
    __m512i a[kBlockWords];
    for (int w = 0; w < kBlockWords; w += 2) {
        a[w] = _mm512_unpacklo_epi32(x[w], x[w + 1]);
        a[w + 1] = _mm512_unpackhi_epi32(x[w], x[w + 1]);
    }
    // b[4g + m]: in chunk c, words 4g..4g+3 of lane 4c + m.
    __m512i b[kBlockWords];
    for (int g = 0; g < 4; ++g) {
        b[4 * g + 0] = _mm512_unpacklo_epi64(a[4 * g], a[4 * g + 2]);
        b[4 * g + 1] = _mm512_unpackhi_epi64(a[4 * g], a[4 * g + 2]);
        b[4 * g + 2] = _mm512_unpacklo_epi64(a[4 * g + 1], a[4 * g + 3]);
        b[4 * g + 3] = _mm512_unpackhi_epi64(a[4 * g + 1], a[4 * g + 3]);
    }
    // Lane 4c + m takes chunk c of b[m], b[4 + m], b[8 + m], b[12 + m], in that order.
    for (int m = 0; m < 4; ++m) {
        const __m512i low01 = _mm512_shuffle_i32x4(b[m], b[4 + m], 0x44);
        const __m512i high01 = _mm512_shuffle_i32x4(b[m], b[4 + m], 0xEE);
        const __m512i low23 = _mm512_shuffle_i32x4(b[8 + m], b[12 + m], 0x44);
        const __m512i high23 = _mm512_shuffle_i32x4(b[8 + m], b[12 + m], 0xEE);
        const __m512i lanes[4] = {_mm512_shuffle_i32x4(low01, low23, 0x88), _mm512_shuffle_i32x4(low01, low23, 0xDD),
                                  _mm512_shuffle_i32x4(high01, high23, 0x88),
                                  _mm512_shuffle_i32x4(high01, high23, 0xDD)};
        for (int c = 0; c < 4; ++c)
            if (4 * c + m < count) _mm512_storeu_si512(out + (4 * c + m) * kBlockWords, lanes[c]);
    }
}

namespace {

VORN_AVX2 inline __m256i load8(const std::uint32_t* words) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
}
VORN_AVX2 inline __m256i flipped(__m256i words, __m256i top) { return _mm256_xor_si256(words, top); }

}  // namespace

// Eight lanes at a time. AVX2 compares 32-bit words as signed numbers only: flipping their top bits
// turns the unsigned order into the signed one.
VORN_AVX2 void draws_at_or_above_avx2(const LaneStates& states, const DrawBounds& bounds, LaneMasks& above) {
    const __m256i top = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    for (int half = 0; half < 2; ++half) {
        const int first = 8 * half;
        __m256i x[kBlockWords];
        for (int w = 0; w < kBlockWords; ++w) x[w] = load8(&states[w][first]);
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
        for (int i = 0; i < kBlockWords / 2; ++i) {
            const __m256i low = flipped(_mm256_add_epi32(x[2 * i], load8(&states[2 * i][first])), top);
            const __m256i high = flipped(_mm256_add_epi32(x[2 * i + 1], load8(&states[2 * i + 1][first])), top);
            const __m256i bound_low = flipped(load8(&bounds.low[i][first]), top);
            const __m256i bound_high = flipped(load8(&bounds.high[i][first]), top);
            const __m256i at_or_above = _mm256_or_si256(
                _mm256_cmpgt_epi32(high, bound_high),
                _mm256_andnot_si256(_mm256_cmpgt_epi32(bound_low, low), _mm256_cmpeq_epi32(high, bound_high)));
            const auto lanes = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(at_or_above)));
            above[i] = static_cast<std::uint16_t>(half == 0 ? lanes : above[i] | lanes << 8);
        }
    }
}

// Each draw is compared in its two halves: above the bound's high word, or equal to it and not below
// its low word.
VORN_AVX512 void draws_at_or_above_avx512(const LaneStates& states, const DrawBounds& bounds, LaneMasks& above) {
    __m512i x[kBlockWords];
    for (int w = 0; w < kBlockWords; ++w) x[w] = _mm512_loadu_si512(states[w]);
    for (int i = 0; i < kDoubleRounds; ++i) {
        quarter_round512(x[0], x[4], x[8], x[12]);
        quarter_round512(x[1], x[5], x[9], x[13]);
        quarter_round512(x[2], x[6], x[10], x[14]);
        quarter_round512(x[3], x[7], x[11], x[15]);
        quarter_round512(x[0], x[5], x[10], x[15]);
        quarter_round512(x[1], x[6], x[11], x[12]);
        quarter_round512(x[2], x[7], x[8], x[13]);
        quarter_round512(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < kBlockWords / 2; ++i) {
        const __m512i low = _mm512_add_epi32(x[2 * i], _mm512_loadu_si512(states[2 * i]));
        const __m512i high = _mm512_add_epi32(x[2 * i + 1], _mm512_loadu_si512(states[2 * i + 1]));
        const __m512i bound_high = _mm512_load_si512(bounds.high[i]);
        const __m512i bound_low = _mm512_load_si512(bounds.low[i]);
        above[i] = static_cast<std::uint16_t>(
            _mm512_cmpgt_epu32_mask(high, bound_high) |
            (_mm512_cmpeq_epu32_mask(high, bound_high) & _mm512_cmpge_epu32_mask(low, bound_low)));
    }
}

}  // namespace vorn::chacha12

#endif
