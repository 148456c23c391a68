#include "core/number_text.hpp"

#include <cmath>
#include <cstdio>

namespace vorn {

std::string fixed_number_text(double value, int decimals) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

}  // namespace vorn
