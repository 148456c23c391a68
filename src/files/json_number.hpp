// Numbers as JSON texts: the float form the writers use and the reading of a number's raw text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorn::files {

// Plain decimal for decimal exponents -5..15 with ".0" on whole numbers (10.0, 0.00001),
// scientific otherwise (1e-6, 1.5e16, 1e300); "null" for non-finite values.
std::string json_number_text(double value);

// The nearest double to a JSON number text (already checked against the JSON grammar), correctly
// rounded, underflow included (1e-400 gives 0.0). nullopt when the value is too large for a double.
std::optional<double> parse_json_double(std::string_view text);

// An integer written without fraction or exponent, 0 to 4294967295 ("-0" is 0); nullopt otherwise.
std::optional<std::uint32_t> parse_json_u32(std::string_view text);

}  // namespace vorn::files
