// The x86 SIMD kernels of the ChaCha12 block function (internal to chacha12_block.cpp).
#pragma once

#include "core/chacha12_block.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define VORN_CHACHA_X86 1
#else
#define VORN_CHACHA_X86 0
#endif

namespace vorn::chacha12 {

#if VORN_CHACHA_X86
void blocks_sse2(const LaneStates& states, std::uint32_t* out);
// Only call when the CPU reports AVX2.
void blocks_avx2(const LaneStates& states, std::uint32_t* out);
#endif

}  // namespace vorn::chacha12
