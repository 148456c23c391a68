#include "core/random/uniform.hpp"

namespace vorn {

std::uint64_t closed_uniform_below(double p) {
    // closed_uniform is monotone in the fraction m, so "below p" holds for a prefix of fractions. Its
    // value is m / 2^52 raised by at most two units in the last place, so the end of that prefix lies
    // within a few fractions of p · 2^52: start there and step to it.
    constexpr std::uint64_t kFractions = std::uint64_t{1} << 52;
    if (!(p > 0.0)) return 0;
    if (p > 1.0) return kFractions;
    auto m = static_cast<std::uint64_t>(p * 0x1p52);
    while (m > 0 && !(closed_uniform((m - 1) << 12) < p)) --m;
    while (m < kFractions && closed_uniform(m << 12) < p) ++m;
    return m;
}

}  // namespace vorn
