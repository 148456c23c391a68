#include "core/ensemble/exact_sum.hpp"

#include <cmath>

namespace vorn {
namespace {

constexpr int kUnitExponent = -1074;  // the unit of the integer sums: the smallest subnormal
constexpr std::uint64_t kChunkBits = (std::uint64_t{1} << 53) - 1;  // a double's significand

using Limbs = std::vector<std::uint64_t>;

// Adds `value` · 2^shift to the unsigned integer `limbs`, which has room for it.
void add_shifted(Limbs& limbs, unsigned __int128 value, std::size_t shift) {
    std::size_t limb = shift / 64;
    const unsigned offset = shift % 64;
    // The value shifted by `offset` spans at most three limbs.
    const std::uint64_t parts[3] = {
        static_cast<std::uint64_t>(value) << offset,
        offset == 0 ? static_cast<std::uint64_t>(value >> 64) : static_cast<std::uint64_t>(value >> (64 - offset)),
        offset == 0 ? 0 : static_cast<std::uint64_t>(value >> (128 - offset)),
    };
    unsigned __int128 carry = 0;
    for (int k = 0; k < 3 || carry != 0; ++k, ++limb) {
        carry += static_cast<unsigned __int128>(limbs[limb]) + (k < 3 ? parts[k] : 0);
        limbs[limb] = static_cast<std::uint64_t>(carry);
        carry >>= 64;
    }
}

bool less(const Limbs& a, const Limbs& b) {
    for (std::size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i];
    return false;
}

// a − b, for a >= b of the same length.
Limbs minus(const Limbs& a, const Limbs& b) {
    Limbs difference(a.size());
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::uint64_t d = a[i] - b[i];
        difference[i] = d - borrow;
        borrow = (a[i] < b[i]) || (d < borrow);
    }
    return difference;
}

std::size_t bit_length(const Limbs& limbs) {
    return limbs.empty() ? 0 : 64 * (limbs.size() - 1) + static_cast<std::size_t>(std::bit_width(limbs.back()));
}

// Bits shift .. shift + 63 of `limbs`.
std::uint64_t bits_from(const Limbs& limbs, std::size_t shift) {
    const std::size_t limb = shift / 64;
    const unsigned offset = shift % 64;
    std::uint64_t bits = limb < limbs.size() ? limbs[limb] >> offset : 0;
    if (offset != 0 && limb + 1 < limbs.size()) bits |= limbs[limb + 1] << (64 - offset);
    return bits;
}

bool any_bit_below(const Limbs& limbs, std::size_t shift) {
    for (std::size_t i = 0; i < shift / 64; ++i)
        if (limbs[i] != 0) return true;
    return shift % 64 != 0 && (limbs[shift / 64] & ((std::uint64_t{1} << (shift % 64)) - 1)) != 0;
}

std::size_t lowest_bit_from(const Limbs& limbs, std::size_t shift) {
    for (std::size_t limb = shift / 64; limb < limbs.size(); ++limb) {
        std::uint64_t word = limbs[limb];
        if (limb == shift / 64) word &= ~std::uint64_t{0} << (shift % 64);
        if (word != 0) return 64 * limb + static_cast<std::size_t>(std::countr_zero(word));
    }
    return 64 * limbs.size();
}

}  // namespace

void ExactSum::add_special(double term) {
    if (std::isinf(term)) infinities_ += term;
    special_ += term;
}

void ExactSum::add_negative_or_nan(double term) {
    if (!std::isfinite(term)) return add_special(term);
    const auto bits = std::bit_cast<std::uint64_t>(term) & ~kSignBit;
    const auto exponent = static_cast<int>(bits >> 52);
    if (exponent == 0) {
        bins_[1].subtract(bits);
    } else {
        bins_[exponent].subtract((bits & kFractionBits) | kHiddenBit);
    }
}

void ExactSum::add_times(double term, std::uint64_t count) {
    if (count == 0) return;
    if (!std::isfinite(term)) return add_special(term);
    const auto bits = std::bit_cast<std::uint64_t>(term);
    const auto exponent = static_cast<int>((bits & ~kSignBit) >> 52);
    const std::uint64_t significand = exponent == 0 ? bits & kFractionBits : (bits & kFractionBits) | kHiddenBit;
    // The product has at most 117 bits: its low half, then its high half one place up.
    const unsigned __int128 times = static_cast<unsigned __int128>(significand) * count;
    Bin& bin = bins_[exponent == 0 ? 1 : exponent];
    const auto low = static_cast<std::uint64_t>(times), high = static_cast<std::uint64_t>(times >> 64);
    if (bits & kSignBit) {
        bin.subtract(low);
        bin.high -= high;
    } else {
        bin.add(low);
        bin.high += high;
    }
}

void ExactSum::add(const ExactSum& other) {
    for (int e = 0; e < kBins; ++e) {
        bins_[e].add(other.bins_[e].low);
        bins_[e].high += other.bins_[e].high;
    }
    infinities_ += other.infinities_;
    special_ += other.special_;
}

// Bin e counts units of 2^(e − 1075) = 2^(e − 1) units of 2^-1074.
ExactSum::Magnitude ExactSum::magnitude() const {
    Limbs positive(bins_.size() / 64 + 4, 0), negative(positive.size(), 0);
    for (std::size_t e = 1; e < bins_.size(); ++e) {
        const __int128 bin = bins_[e].value();
        if (bin == 0) continue;
        if (bin < 0) {
            add_shifted(negative, -static_cast<unsigned __int128>(bin), e - 1);
        } else {
            add_shifted(positive, static_cast<unsigned __int128>(bin), e - 1);
        }
    }
    Magnitude result;
    result.negative = less(positive, negative);
    result.limbs = result.negative ? minus(negative, positive) : minus(positive, negative);
    while (!result.limbs.empty() && result.limbs.back() == 0) result.limbs.pop_back();
    return result;
}

bool ExactSum::negative() const { return magnitude().negative; }

std::vector<std::uint64_t> ExactSum::units() const { return magnitude().limbs; }

double ExactSum::total() const {
    if (!finite()) return std::isnan(infinities_) ? infinities_ : special_;
    const Magnitude sum = magnitude();
    const std::size_t length = bit_length(sum.limbs);
    double value = 0.0;
    if (length <= 64) {
        // Converting the integer rounds it to nearest, ties to even; scaling a rounded value is exact.
        value = std::ldexp(static_cast<double>(bits_from(sum.limbs, 0)), kUnitExponent);
    } else {
        // The top 64 bits, the lowest of them also standing for any bit set below them (all far below
        // the rounding position), round as the whole number would.
        const std::size_t shift = length - 64;
        std::uint64_t top = bits_from(sum.limbs, shift);
        if (any_bit_below(sum.limbs, shift)) top |= 1;
        value = std::ldexp(static_cast<double>(top), static_cast<int>(shift) + kUnitExponent);
    }
    return sum.negative ? -value : value;
}

std::vector<double> ExactSum::partials() const {
    const double rounded = total();
    if (!std::isfinite(rounded)) return {rounded};
    const Magnitude sum = magnitude();
    const std::size_t length = bit_length(sum.limbs);
    std::vector<double> partials;
    // 53 bits at a time from the lowest set bit up, each an exact double.
    for (std::size_t shift = lowest_bit_from(sum.limbs, 0); shift < length;
         shift = lowest_bit_from(sum.limbs, shift + 53)) {
        const std::uint64_t chunk = bits_from(sum.limbs, shift) & kChunkBits;
        const double part = std::ldexp(static_cast<double>(chunk), static_cast<int>(shift) + kUnitExponent);
        partials.push_back(sum.negative ? -part : part);
    }
    return partials;
}

}  // namespace vorn
