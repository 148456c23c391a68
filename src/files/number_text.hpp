// Text forms of floats shared by the file writer, validation texts, diff lines and reprs.
// Every form that shows digits uses the shortest decimal that reads back to the same double.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn::files {

// JSON number text for a finite value: plain decimal for decimal exponents -5..15 with ".0" on whole
// numbers (10.0, 0.00001), scientific otherwise (1e-6, 1.5e16, 1e300). Callers write null for
// non-finite values; given one anyway, this returns "null".
std::string json_number_text(double value);

// 1000.0, 0.2, -0.0, 0.0001, 1e-5, 1e16, 1.5e300; "NaN", "inf", "-inf".
std::string debug_number_text(double value);

// Plain decimal, no exponent, no fractional part when whole: 0, -5, 0.5, 1.25, 0.0000001,
// 100000000000000000000; -0.0 gives "-0"; "NaN", "inf", "-inf".
std::string plain_number_text(double value);

// Exactly two decimals, rounded on the exact binary value like printf("%.2f"): 0.95, 0.12 for 0.125;
// "NaN", "inf", "-inf" for non-finite values.
std::string fixed2_number_text(double value);

// "None", or "Some(" + debug form + ")".
std::string optional_debug_text(const std::optional<double>& value);

// Parses a JSON number text (already checked against the JSON grammar) to the nearest double,
// correctly rounded, underflow included (1e-400 gives 0.0). Returns nullopt when the value is too
// large for a double.
std::optional<double> parse_json_double(std::string_view text);

}  // namespace vorn::files
