// Uniform values from random bits. Each conversion is fixed by seeded results recorded with it, so
// none replaces another: a model keeps the conversion its results were recorded with.
#pragma once

#include <bit>
#include <cstdint>

namespace vorn {

// The engine's draws (generation attempts, keyed losses): a value in [0, 1] from the top 52 bits of a
// 64-bit draw, as the fraction of a number in [1, 2), minus 1, times the double just above 1. Both ends
// can come out, and the values are spaced 2^-52 apart.
inline double closed_uniform(std::uint64_t bits) {
    constexpr std::uint64_t kOneBits = 0x3FF0000000000000ull;
    constexpr double kScale = 1.0000000000000002;
    return (std::bit_cast<double>((bits >> 12) | kOneBits) - 1.0) * kScale;
}

// The number of 52-bit fractions m whose closed_uniform value is below p, so that
// closed_uniform(x) < p exactly when (x >> 12) < closed_uniform_below(p): the decision without the
// conversion.
std::uint64_t closed_uniform_below(double p);

// The physical model's draws: a value in (0, 1] from the top 53 bits, plus one, over 2^53. Zero never
// comes out, so its logarithm (of a geometric number of attempts) is always finite.
inline double open_closed_uniform(std::uint64_t bits) { return static_cast<double>((bits >> 11) + 1) * 0x1p-53; }

// The unseeded loss draws of vorn_core's own requests: a value in [0, 1) from the top 53 bits over 2^53.
inline double half_open_uniform(std::uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1p-53; }

// The number of 53-bit values m with m / 2^53 below p (each exact, so the division is too): the same
// split for half_open_uniform.
constexpr std::uint64_t half_open_uniform_below(double p) {
    if (!(p > 0.0)) return 0;
    if (p > 1.0) return std::uint64_t{1} << 53;
    auto m = static_cast<std::uint64_t>(p * 0x1.0p53);
    while (m < (std::uint64_t{1} << 53) && static_cast<double>(m) * 0x1.0p-53 < p) ++m;
    while (m > 0 && !(static_cast<double>(m - 1) * 0x1.0p-53 < p)) --m;
    return m;
}

}  // namespace vorn
