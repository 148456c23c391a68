// A sum of doubles kept without rounding, so that the sums of the parts of a series add up to the
// sum of the whole series bit for bit, whatever the order and however the series was split.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace vorn {

class ExactSum {
public:
    ExactSum() : bins_(kBins) {}

    void add(double term) {
        if (term >= 0.0) [[likely]]
            return add_non_negative(term);
        add_negative_or_nan(term);
    }
    // The same for a term known to be neither negative nor NaN (+inf is fine): the sums of waiting
    // times, fidelities and their squares, without a second look at the sign.
    void add_non_negative(double term) {
        const auto bits = std::bit_cast<std::uint64_t>(term) & ~kSignBit;  // -0.0 as 0.0
        const auto exponent = static_cast<int>(bits >> 52);
        if (exponent == 0x7FF) return add_special(term);
        // A subnormal has no hidden bit and the scale of the smallest normal exponent.
        if (exponent == 0) [[unlikely]] {
            bins_[1].add(bits);
        } else {
            bins_[exponent].add((bits & kFractionBits) | kHiddenBit);
        }
    }
    // `count` times `term`, at once.
    void add_times(double term, std::uint64_t count);
    void add(const ExactSum& other);

    // The sum rounded once to the nearest double (ties to even), as Python's math.fsum(partials())
    // gives it. Infinite and NaN terms make it the IEEE sum of those terms alone (NaN for infinities of
    // both signs); a finite sum beyond the doubles rounds to an infinity.
    double total() const;

    // Doubles whose exact sum is this sum: non-overlapping, in increasing magnitude, none zero (an
    // empty list for a zero sum). A sum that is no finite double is the one value total() gives.
    std::vector<double> partials() const;

    // Whether no infinite or NaN term was added: the sum is then the integer units() · 2^-1074
    // (the smallest subnormal), negated when negative().
    bool finite() const { return special_ == 0.0; }
    bool negative() const;
    // The magnitude of the sum's finite part in units of 2^-1074, in 64-bit limbs, least significant
    // first, without leading zero limbs.
    std::vector<std::uint64_t> units() const;

private:
    static constexpr int kBins = 2047;
    static constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
    static constexpr std::uint64_t kHiddenBit = std::uint64_t{1} << 52;
    static constexpr std::uint64_t kFractionBits = kHiddenBit - 1;

    // The finite part in units of 2^-1074: its sign and magnitude.
    struct Magnitude {
        bool negative = false;
        std::vector<std::uint64_t> limbs;
    };

    void add_special(double term);
    void add_negative_or_nan(double term);
    Magnitude magnitude() const;

    // A signed 128-bit count in two's complement, high · 2^64 + low, added to in halves (GCC moves a
    // 128-bit sum through the stack).
    struct Bin {
        std::uint64_t low = 0, high = 0;

        void add(std::uint64_t x) { high += __builtin_add_overflow(low, x, &low); }
        void subtract(std::uint64_t x) { high -= __builtin_sub_overflow(low, x, &low); }
        __int128 value() const { return static_cast<__int128>(static_cast<unsigned __int128>(high) << 64 | low); }
    };

    // bins_[e] holds the sum of the 53-bit significands of the terms with biased exponent e (subnormals,
    // whose exponent field is 0, share the scale of e = 1), negative terms subtracted: each term is its
    // significand × 2^(e − 1075), so no addition rounds. 2^74 terms fit before a bin overflows.
    std::vector<Bin> bins_;
    double special_ = 0.0;     // sum of the non-finite terms
    double infinities_ = 0.0;  // sum of the infinite terms: NaN once both signs were met
};

}  // namespace vorn
