// A computed count as an unsigned 64-bit number.
#pragma once

#include <cstdint>

namespace vorn {

// `value` truncated toward zero: 0 for a negative or NaN value, the largest count beyond the range.
inline std::uint64_t saturating_count(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 18446744073709551616.0) return UINT64_MAX;  // 2^64
    return static_cast<std::uint64_t>(value);
}

}  // namespace vorn
