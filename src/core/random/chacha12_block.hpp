// The ChaCha12 block function, up to sixteen blocks per call, with SIMD kernels where the CPU has them.
#pragma once

#include <array>
#include <cstdint>

namespace vorn::chacha12 {

inline constexpr int kLanes = 16;
inline constexpr int kBlockWords = 16;

// Initial states of up to sixteen blocks, word-major: states[w][lane] is word w of block `lane`.
// Words 0..3 are the constants, 4..11 the key, 12 and 13 the block counter (low word first), 14 and 15
// the nonce, which the keyed streams use as a stream number.
using LaneStates = std::uint32_t[kBlockWords][kLanes];

// A key as state words 4..11.
using KeyWords = std::array<std::uint32_t, 8>;

// The constants, block counter `counter` and nonce `stream` of every lane; the key words stay as they are.
void set_counter_and_stream(LaneStates& states, std::uint64_t counter, std::uint64_t stream);

inline KeyWords key_of_lane(const LaneStates& states, int lane) {
    KeyWords key;
    for (int w = 0; w < 8; ++w) key[w] = states[4 + w][lane];
    return key;
}

enum class Kernel { Scalar, Sse2, Avx2, Avx512 };

bool kernel_available(Kernel kernel);
// The widest kernel this CPU runs.
Kernel best_kernel();
// The kernel that `blocks` and the other SIMD paths of the generators use: the best one, unless tests
// or benchmarks chose another with use_kernel (one that kernel_available allows).
Kernel active_kernel();
void use_kernel(Kernel kernel);

// Twelve rounds over the states of lanes 0 .. count-1 (count at most kLanes), each added back to its
// state, written to `out` block after block (word w of block `lane` at lane * 16 + w). Every kernel
// gives the same output.
void blocks(const LaneStates& states, std::uint32_t* out, int count = kLanes);
void blocks_with(Kernel kernel, const LaneStates& states, std::uint32_t* out, int count = kLanes);

// Bounds for the 64-bit draws of sixteen blocks: draw i of lane l (words 2i and 2i + 1 of its block, the
// first the low half) is compared with high[i][l] · 2^32 + low[i][l].
struct DrawBounds {
    alignas(64) std::uint32_t high[kBlockWords / 2][kLanes];
    alignas(64) std::uint32_t low[kBlockWords / 2][kLanes];
};

// For each draw i (words 2i and 2i + 1 of a block, the first the low half), the bit mask of the lanes
// whose draw i is at or above its bound: above[i] bit l. The blocks themselves are not written
// anywhere: for draws that only decide or count failures. Every kernel gives the same masks.
using LaneMasks = std::uint16_t[kBlockWords / 2];
void draws_at_or_above(const LaneStates& states, const DrawBounds& bounds, LaneMasks& above);
void draws_at_or_above_with(Kernel kernel, const LaneStates& states, const DrawBounds& bounds, LaneMasks& above);

// The number of draws at or above their bounds among the lanes in the bit mask `lanes` and the draws in
// the bit mask `draws`.
unsigned count_at_or_above(const LaneMasks& above, std::uint32_t lanes, std::uint32_t draws);

// The four constant words "expand 32-byte k".
inline constexpr std::uint32_t kSigma[4] = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u};

}  // namespace vorn::chacha12
