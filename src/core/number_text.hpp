// Text forms of floats for reprs, summary texts, report lines and file formats. Every form that
// shows digits uses the shortest decimal that reads back to the same double, except the fixed
// forms, which round the exact binary value as printf does.
#pragma once

#include <optional>
#include <string>

namespace vorn {

// The shortest round-trip digits, in plain decimal with ".0" on whole numbers when the decimal
// exponent lies in [plain_from, plain_to] (zero always does), in scientific notation otherwise
// (1e-6, 1.5e16); "NaN", "inf", "-inf" for non-finite values.
std::string shortest_number_text(double value, int plain_from, int plain_to);

// 1000.0, 0.2, -0.0, 0.0001, 1e-5, 1e16, 1.5e300; "NaN", "inf", "-inf".
std::string debug_number_text(double value);

// "None", or "Some(" + debug form + ")".
std::string optional_debug_text(const std::optional<double>& value);

// Plain decimal, no exponent, no fractional part when whole: 0, -5, 0.5, 1.25, 0.0000001,
// 100000000000000000000; -0.0 gives "-0"; "NaN", "inf", "-inf".
std::string plain_number_text(double value);

// Exactly `decimals` digits after the point (none and no point for 0), rounded on the exact binary
// value like printf("%.Nf"): 0.12 for 0.125 with 2; "NaN", "inf", "-inf" for non-finite values.
std::string fixed_number_text(double value, int decimals);

inline std::string fixed2_number_text(double value) { return fixed_number_text(value, 2); }

}  // namespace vorn
