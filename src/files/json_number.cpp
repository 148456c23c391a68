#include "files/json_number.hpp"

#include <locale.h>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <system_error>

#include "core/number_text.hpp"

namespace vorn::files {

std::string json_number_text(double value) {
    if (!std::isfinite(value)) return "null";
    return shortest_number_text(value, -5, 15);
}

std::optional<double> parse_json_double(std::string_view text) {
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc() && result.ptr == text.data() + text.size()) return value;
    // from_chars leaves the value untouched on underflow; strtod under the C locale rounds it
    // correctly to a subnormal or zero (and signals overflow by an infinity, checked below).
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    if (c_locale == locale_t{}) return std::nullopt;
    const std::string terminated(text);
    value = strtod_l(terminated.c_str(), nullptr, c_locale);
    if (std::isinf(value)) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> parse_json_u32(std::string_view text) {
    if (text.find_first_of(".eE") != std::string_view::npos) return std::nullopt;
    if (!text.empty() && text.front() == '-') {
        if (text.find_first_not_of('0', 1) != std::string_view::npos) return std::nullopt;
        return 0;
    }
    std::uint32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace vorn::files
