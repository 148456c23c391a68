// Sums of many non-negative doubles kept exactly, so that sums of pieces added together equal the
// sum of the whole bit for bit, whatever the order and however the pieces were cut.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "core/failure.hpp"

namespace vorn::physics {

class ExactSum {
public:
    // +inf is counted apart; a negative or NaN term is a broken invariant.
    void add(double x) {
        if (!(x >= 0.0)) throw Panic("an exact sum was given a term that is negative or NaN");
        const auto bits = std::bit_cast<std::uint64_t>(x) & ~(std::uint64_t{1} << 63);  // -0.0 as 0.0
        std::uint64_t exponent = bits >> 52;
        std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
        if (exponent == 0x7FF) {
            ++infinities_;
            return;
        }
        if (exponent == 0)
            exponent = 1;  // subnormal: no hidden bit, same scale as the smallest normal exponent
        else
            fraction |= std::uint64_t{1} << 52;
        bins_[exponent] += fraction;
    }

    void add(const ExactSum& other);

    // How many +inf were added; when any were, the sum is +inf.
    std::uint64_t infinities() const { return infinities_; }
    // The finite part as an integer count of 2^-1074 (the smallest subnormal), in 64-bit limbs,
    // least significant first, without leading zero limbs.
    std::vector<std::uint64_t> units() const;

    // Shift of the unit against 2^0: the finite part is units() × 2^-kUnitExponent.
    static constexpr int kUnitExponent = 1074;

private:
    // bins_[e] holds the sum of the 53-bit significands of the terms with biased exponent e (as
    // subnormals, whose exponent field is 0, share the scale of e = 1): each term is its
    // significand × 2^(e − 1075), so no addition rounds. 2^75 terms fit before a bin overflows.
    std::array<unsigned __int128, 2047> bins_{};
    std::uint64_t infinities_ = 0;
};

}  // namespace vorn::physics
