// The x86 SIMD kernels of the ChaCha12 block function (internal to chacha12_block.cpp). Each computes
// its width of lanes starting at lane `first`, and writes those blocks to `out` at their lane's place.
#pragma once

#include "core/random/chacha12_block.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define VORN_CHACHA_X86 1
#else
#define VORN_CHACHA_X86 0
#endif

namespace vorn::chacha12 {

#if VORN_CHACHA_X86
void four_blocks_sse2(const LaneStates& states, std::uint32_t* out, int first);
// Lane 0 alone.
void one_block_sse2(const LaneStates& states, std::uint32_t* out);
// Only call when the CPU reports AVX2.
void eight_blocks_avx2(const LaneStates& states, std::uint32_t* out, int first);
// Only call when the CPU reports AVX-512F; writes lanes 0 .. count-1 of the sixteen it computes.
void sixteen_blocks_avx512(const LaneStates& states, std::uint32_t* out, int count);
void draws_at_or_above_avx512(const LaneStates& states, const DrawBounds& bounds, LaneMasks& above);
// Only call when the CPU reports AVX2.
void draws_at_or_above_avx2(const LaneStates& states, const DrawBounds& bounds, LaneMasks& above);
#endif

}  // namespace vorn::chacha12
