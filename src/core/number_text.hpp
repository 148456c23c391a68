// Text forms of numbers for reprs and summaries.
#pragma once

#include <string>

namespace vorn {

// Exactly `decimals` decimals, rounded on the exact binary value; "NaN", "inf", "-inf".
std::string fixed_number_text(double value, int decimals);

}  // namespace vorn
