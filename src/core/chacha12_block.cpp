#include "core/chacha12_block.hpp"

#include "core/chacha12_simd.hpp"

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

void blocks_scalar(const LaneStates& states, std::uint32_t* out) {
    for (int lane = 0; lane < kLanes; ++lane) {
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
    if (__builtin_cpu_supports("avx2")) return Kernel::Avx2;
    return Kernel::Sse2;
#else
    return Kernel::Scalar;
#endif
}

// The fastest kernel this CPU runs (decided once).
Kernel best_kernel() {
    static const Kernel kernel = detect();
    return kernel;
}

}  // namespace

bool kernel_available(Kernel kernel) {
    switch (kernel) {
        case Kernel::Scalar: return true;
        case Kernel::Sse2: return VORN_CHACHA_X86 != 0;
        case Kernel::Avx2: return best_kernel() == Kernel::Avx2;
    }
    return false;
}

void blocks_with(Kernel kernel, const LaneStates& states, std::uint32_t* out) {
#if VORN_CHACHA_X86
    if (kernel == Kernel::Avx2) return blocks_avx2(states, out);
    if (kernel == Kernel::Sse2) return blocks_sse2(states, out);
#endif
    (void)kernel;
    blocks_scalar(states, out);
}

void blocks(const LaneStates& states, std::uint32_t* out) {
#if VORN_CHACHA_X86
    static const bool avx2 = best_kernel() == Kernel::Avx2;
    if (avx2) return blocks_avx2(states, out);
    return blocks_sse2(states, out);
#else
    blocks_scalar(states, out);
#endif
}

}  // namespace vorn::chacha12
