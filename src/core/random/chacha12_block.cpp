#include "core/random/chacha12_block.hpp"

#include <atomic>

#include "core/random/chacha12_simd.hpp"

namespace vorn::chacha12 {
namespace {

constexpr int kDoubleRounds = 6;

inline std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline void quarter_round(std::uint32_t* x, int a, int b, int c, int d) {
    x[a] += x[b];
    x[d] = rotl(x[d] ^ x[a], 16);
    x[c] += x[d];
    x[b] = rotl(x[b] ^ x[c], 12);
    x[a] += x[b];
    x[d] = rotl(x[d] ^ x[a], 8);
    x[c] += x[d];
    x[b] = rotl(x[b] ^ x[c], 7);
}

void blocks_scalar(const LaneStates& states, std::uint32_t* out, int count) {
    for (int lane = 0; lane < count; ++lane) {
        std::uint32_t x[kBlockWords];
        for (int w = 0; w < kBlockWords; ++w) x[w] = states[w][lane];
        for (int i = 0; i < kDoubleRounds; ++i) {
            quarter_round(x, 0, 4, 8, 12);
            quarter_round(x, 1, 5, 9, 13);
            quarter_round(x, 2, 6, 10, 14);
            quarter_round(x, 3, 7, 11, 15);
            quarter_round(x, 0, 5, 10, 15);
            quarter_round(x, 1, 6, 11, 12);
            quarter_round(x, 2, 7, 8, 13);
            quarter_round(x, 3, 4, 9, 14);
        }
        for (int w = 0; w < kBlockWords; ++w) out[lane * kBlockWords + w] = x[w] + states[w][lane];
    }
}

Kernel detect() {
#if VORN_CHACHA_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return Kernel::Avx512;
    if (__builtin_cpu_supports("avx2")) return Kernel::Avx2;
    return Kernel::Sse2;
#else
    return Kernel::Scalar;
#endif
}

std::atomic<Kernel>& chosen_kernel() {
    static std::atomic<Kernel> kernel{best_kernel()};
    return kernel;
}

}  // namespace

Kernel best_kernel() {
    static const Kernel kernel = detect();
    return kernel;
}

Kernel active_kernel() { return chosen_kernel().load(std::memory_order_relaxed); }

void use_kernel(Kernel kernel) {
    if (kernel_available(kernel)) chosen_kernel().store(kernel, std::memory_order_relaxed);
}

bool kernel_available(Kernel kernel) {
    switch (kernel) {
        case Kernel::Scalar: return true;
        case Kernel::Sse2: return VORN_CHACHA_X86 != 0;
        case Kernel::Avx2: return best_kernel() == Kernel::Avx2 || best_kernel() == Kernel::Avx512;
        case Kernel::Avx512: return best_kernel() == Kernel::Avx512;
    }
    return false;
}

void blocks_with(Kernel kernel, const LaneStates& states, std::uint32_t* out, int count) {
#if VORN_CHACHA_X86
    if (count == 1 && kernel != Kernel::Scalar) return one_block_sse2(states, out);
    switch (kernel) {
        case Kernel::Avx512:
            // Eight lanes or fewer cost the same in half the width.
            if (count > kLanes / 2) return sixteen_blocks_avx512(states, out, count);
            [[fallthrough]];
        case Kernel::Avx2:
            // A partial group of eight writes its whole width into `out`: only the last group may be
            // partial, so its extra blocks land in a scratch buffer.
            for (int first = 0; first < count; first += 8) {
                if (count - first >= 8) {
                    eight_blocks_avx2(states, out, first);
                } else {
                    alignas(64) std::uint32_t scratch[kLanes * kBlockWords];
                    eight_blocks_avx2(states, scratch, first);
                    for (int i = first * kBlockWords; i < count * kBlockWords; ++i) out[i] = scratch[i];
                }
            }
            return;
        case Kernel::Sse2:
            for (int first = 0; first < count; first += 4) {
                if (count - first >= 4) {
                    four_blocks_sse2(states, out, first);
                } else {
                    alignas(64) std::uint32_t scratch[kLanes * kBlockWords];
                    four_blocks_sse2(states, scratch, first);
                    for (int i = first * kBlockWords; i < count * kBlockWords; ++i) out[i] = scratch[i];
                }
            }
            return;
        case Kernel::Scalar: break;
    }
#endif
    blocks_scalar(states, out, count);
}

void draws_at_or_above_with(Kernel kernel, const LaneStates& states, const DrawBounds& bounds, LaneMasks& above) {
#if VORN_CHACHA_X86
    if (kernel == Kernel::Avx512) return draws_at_or_above_avx512(states, bounds, above);
    if (kernel == Kernel::Avx2) return draws_at_or_above_avx2(states, bounds, above);
#endif
    std::uint32_t words[kLanes * kBlockWords];
    blocks_with(kernel, states, words);
    for (int i = 0; i < kBlockWords / 2; ++i) {
        unsigned lanes = 0;
        for (int lane = 0; lane < kLanes; ++lane) {
            const std::uint32_t* draw = words + lane * kBlockWords + 2 * i;
            lanes |= unsigned{(std::uint64_t{draw[1]} << 32 | draw[0]) >=
                              (std::uint64_t{bounds.high[i][lane]} << 32 | bounds.low[i][lane])}
                     << lane;
        }
        above[i] = static_cast<std::uint16_t>(lanes);
    }
}

void draws_at_or_above(const LaneStates& states, const DrawBounds& bounds, LaneMasks& above) {
    draws_at_or_above_with(active_kernel(), states, bounds, above);
}

unsigned count_at_or_above(const LaneMasks& above, std::uint32_t lanes, std::uint32_t draws) {
    // Four masks to a word, their bits counted without the POPCNT instruction (not in baseline x86-64;
    // std::popcount would call the library).
    std::uint64_t words[2] = {};
    for (int i = 0; i < kBlockWords / 2; ++i)
        if (draws >> i & 1) words[i / 4] |= std::uint64_t{above[i] & lanes} << (16 * (i % 4));
    unsigned count = 0;
    for (std::uint64_t x : words) {
        x = x - ((x >> 1) & 0x5555555555555555u);
        x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
        x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
        count += static_cast<unsigned>((x * 0x0101010101010101u) >> 56);
    }
    return count;
}

void blocks(const LaneStates& states, std::uint32_t* out, int count) {
    blocks_with(active_kernel(), states, out, count);
}

void set_counter_and_stream(LaneStates& states, std::uint64_t counter, std::uint64_t stream) {
    for (int lane = 0; lane < kLanes; ++lane) {
        for (int w = 0; w < 4; ++w) states[w][lane] = kSigma[w];
        states[12][lane] = static_cast<std::uint32_t>(counter);
        states[13][lane] = static_cast<std::uint32_t>(counter >> 32);
        states[14][lane] = static_cast<std::uint32_t>(stream);
        states[15][lane] = static_cast<std::uint32_t>(stream >> 32);
    }
}

}  // namespace vorn::chacha12
