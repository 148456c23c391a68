// Writing a .vorn file as pretty-printed JSON: two-space indentation, keys in record order, absent
// optional fields left out, "[]" and "{}" for empty containers, no newline at the end.
#pragma once

#include <string>

#include "files/json_value.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {

// Cannot fail for any record. Floats use the shortest text that reads back to the same value and
// keep ".0" when whole; non-finite floats are written as null. Strings are written as UTF-8 with
// the standard escapes (control characters as \u00XX).
std::string write_vorn_json(const VornFile& file);

// One JSON value in the same layout, as it appears at the top level of a document.
std::string write_json_value(const JsonValue& value);

}  // namespace vorn::files
