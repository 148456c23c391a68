// Adding one term to a sum many times over, with the rounding of every single addition.
#pragma once

#include <cstdint>

namespace vorn {

// The value that `times` additions `sum = sum + term`, one after another in double precision,
// leave. While sum and term have the same sign, each binade is crossed in a few steps, so even
// 2^64 additions are cheap; with opposite signs the additions run one by one until the signs agree.
double add_repeatedly(double sum, double term, std::uint64_t times);

}  // namespace vorn
