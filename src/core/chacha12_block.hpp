// The ChaCha12 block function, eight blocks per call, with SIMD kernels where the CPU has them.
#pragma once

#include <cstdint>

namespace vorn::chacha12 {

inline constexpr int kLanes = 8;
inline constexpr int kBlockWords = 16;

// Initial states of eight blocks, word-major: states[w][lane] is word w of block `lane`.
using LaneStates = std::uint32_t[kBlockWords][kLanes];

enum class Kernel { Scalar, Sse2, Avx2 };

bool kernel_available(Kernel kernel);

// Twelve rounds over each lane's state, added back to that state, written to `out` as 128 words,
// block after block (word w of block `lane` at lane * 16 + w). Every kernel gives the same output;
// `blocks` uses the best one.
void blocks(const LaneStates& states, std::uint32_t* out);
void blocks_with(Kernel kernel, const LaneStates& states, std::uint32_t* out);

// The four constant words "expand 32-byte k".
inline constexpr std::uint32_t kSigma[4] = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u};

}  // namespace vorn::chacha12
