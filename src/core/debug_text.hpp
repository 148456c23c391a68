// Strings as a debug listing shows them, for reprs and messages that quote a caller's text.
#pragma once

#include <string>
#include <string_view>

namespace vorn {

// In double quotes, with a backslash before a double quote or a backslash, \n \r \t \0 for those
// characters and \u{hex} for the other control characters: "a\"b", "tab\there", "\u{1b}".
std::string debug_quoted(std::string_view text);

}  // namespace vorn
