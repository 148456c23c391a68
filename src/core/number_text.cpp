#include "core/number_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace vorn {
namespace {

// value = 0.d1d2d3... x 10^point, with the digits of the shortest round-trip representation.
struct Decimal {
    bool negative = false;
    char buffer[32];          // what to_chars wrote; digits point into it
    std::string_view digits;  // no leading or trailing zeros, except the single "0" of zero
    int point = 0;            // digits before the decimal point; may be <= 0 or > digits.size()
};

// Reads the shape [-]d[.ddd]e(+|-)dd[d] that to_chars writes, and moves the digits together.
void shortest_decimal(double value, Decimal& d) {
    char* const end = std::to_chars(d.buffer, d.buffer + sizeof d.buffer, value, std::chars_format::scientific).ptr;
    char* p = d.buffer;
    d.negative = *p == '-';
    if (d.negative) ++p;
    char* const first = p;
    char* out = p + 1;
    p += 1;
    if (*p == '.') {
        for (++p; *p != 'e'; ++p) *out++ = *p;
    }
    d.digits = std::string_view(first, static_cast<std::size_t>(out - first));
    const bool negative_exponent = p[1] == '-';
    int exponent = 0;
    for (p += 2; p < end; ++p) exponent = exponent * 10 + (*p - '0');
    d.point = (negative_exponent ? -exponent : exponent) + 1;
}

std::string fixed_layout(const Decimal& d, bool keep_fraction) {
    std::string out;
    const int n = static_cast<int>(d.digits.size());
    out.reserve(static_cast<std::size_t>(std::max(n, d.point) + std::max(-d.point, 0)) + 4);
    if (d.negative) out.push_back('-');
    if (d.point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-d.point), '0');
        out += d.digits;
    } else if (d.point >= n) {
        out += d.digits;
        out.append(static_cast<std::size_t>(d.point - n), '0');
        if (keep_fraction) out += ".0";
    } else {
        out += d.digits.substr(0, static_cast<std::size_t>(d.point));
        out.push_back('.');
        out += d.digits.substr(static_cast<std::size_t>(d.point));
    }
    return out;
}

std::string scientific_layout(const Decimal& d) {
    std::string out;
    if (d.negative) out.push_back('-');
    out.push_back(d.digits[0]);
    if (d.digits.size() > 1) {
        out.push_back('.');
        out += d.digits.substr(1);
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

std::string shortest_number_text(double value, int plain_from, int plain_to) {
    if (!std::isfinite(value)) return non_finite_text(value);
    Decimal d;
    shortest_decimal(value, d);
    return exponent_within(d, plain_from, plain_to) ? fixed_layout(d, true) : scientific_layout(d);
}

std::string debug_number_text(double value) { return shortest_number_text(value, -4, 15); }

std::string optional_debug_text(const std::optional<double>& value) {
    if (!value) return "None";
    return "Some(" + debug_number_text(*value) + ")";
}

std::string plain_number_text(double value) {
    if (!std::isfinite(value)) return non_finite_text(value);
    Decimal d;
    shortest_decimal(value, d);
    return fixed_layout(d, false);
}

std::string fixed_number_text(double value, int decimals) {
    if (!std::isfinite(value)) return non_finite_text(value);
    decimals = std::max(decimals, 0);
    // DBL_MAX has 309 integer digits; the sign, the point and the decimals come on top.
    std::string out(312 + static_cast<std::size_t>(decimals), '\0');
    const auto result = std::to_chars(out.data(), out.data() + out.size(), value, std::chars_format::fixed, decimals);
    out.resize(static_cast<std::size_t>(result.ptr - out.data()));
    return out;
}

}  // namespace vorn
