#include "files/number_text.hpp"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>
#include <system_error>

namespace vorn::files {
namespace {

// value = 0.d1d2d3... x 10^point, with the digits of the shortest round-trip representation.
struct Decimal {
    bool negative = false;
    std::string digits;  // no leading or trailing zeros, except the single "0" of zero
    int point = 0;       // digits before the decimal point; may be <= 0 or > digits.size()
};

Decimal shortest_decimal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    // Shape: [-]d[.ddd]e(+|-)xx
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    Decimal decimal;
    std::size_t i = 0;
    if (text[i] == '-') {
        decimal.negative = true;
        ++i;
    }
    const std::size_t e = text.find('e');
    for (; i < e; ++i)
        if (text[i] != '.') decimal.digits.push_back(text[i]);
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), exponent);
    decimal.point = exponent + 1;
    return decimal;
}

std::string fixed_layout(const Decimal& d, bool keep_fraction) {
    std::string out;
    if (d.negative) out.push_back('-');
    const int n = static_cast<int>(d.digits.size());
    if (d.point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-d.point), '0');
        out += d.digits;
    } else if (d.point >= n) {
        out += d.digits;
        out.append(static_cast<std::size_t>(d.point - n), '0');
        if (keep_fraction) out += ".0";
    } else {
        out.append(d.digits, 0, static_cast<std::size_t>(d.point));
        out.push_back('.');
        out.append(d.digits, static_cast<std::size_t>(d.point));
    }
    return out;
}

std::string scientific_layout(const Decimal& d) {
    std::string out;
    if (d.negative) out.push_back('-');
    out.push_back(d.digits[0]);
    if (d.digits.size() > 1) {
        out.push_back('.');
        out.append(d.digits, 1);
    }
    out.push_back('e');
    out += std::to_string(d.point - 1);
    return out;
}

// Whether the decimal exponent of a nonzero value lies in [low, high]; zero always counts as inside.
bool exponent_within(const Decimal& d, int low, int high) {
    if (d.digits == "0") return true;
    const int exponent = d.point - 1;
    return exponent >= low && exponent <= high;
}

std::string non_finite_text(double value) {
    if (std::isnan(value)) return "NaN";
    return value < 0 ? "-inf" : "inf";
}

}  // namespace

std::string json_number_text(double value) {
    if (!std::isfinite(value)) return "null";
    const Decimal d = shortest_decimal(value);
    return exponent_within(d, -5, 15) ? fixed_layout(d, true) : scientific_layout(d);
}

std::string debug_number_text(double value) {
    if (!std::isfinite(value)) return non_finite_text(value);
    const Decimal d = shortest_decimal(value);
    return exponent_within(d, -4, 15) ? fixed_layout(d, true) : scientific_layout(d);
}

std::string plain_number_text(double value) {
    if (!std::isfinite(value)) return non_finite_text(value);
    return fixed_layout(shortest_decimal(value), false);
}

std::string fixed2_number_text(double value) {
    if (!std::isfinite(value)) return non_finite_text(value);
    char buffer[400];  // DBL_MAX has 309 integer digits
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    return std::string(buffer, result.ptr);
}

std::string optional_debug_text(const std::optional<double>& value) {
    if (!value) return "None";
    return "Some(" + debug_number_text(*value) + ")";
}

std::optional<double> parse_json_double(std::string_view text) {
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc() && result.ptr == text.data() + text.size()) return value;
    // from_chars leaves the value untouched on underflow; strtod under the C locale rounds it
    // correctly to a subnormal or zero.
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    if (c_locale == locale_t{}) return std::nullopt;
    const std::string terminated(text);
    errno = 0;
    value = strtod_l(terminated.c_str(), nullptr, c_locale);
    if (std::isinf(value)) return std::nullopt;
    return value;
}

}  // namespace vorn::files
