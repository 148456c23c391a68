// Reading the JSON text of a .vorn file into its records. Structure and types only: the version
// value and the semantic rules are checked by the loader and the validator.
#pragma once

#include <cstddef>
#include <string_view>

#include "files/vorn_error.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {

// Arrays and objects may nest this many levels (the top-level object is level 1); one more is refused.
inline constexpr std::size_t kMaxJsonNesting = 128;

// Parses a whole document. The text may hold any bytes (a NUL is refused where it appears). On
// failure the error is of kind Json and its detail names the problem and the key or value
// concerned and ends with "at line L column C" (1-based, columns counted in characters).
// Unknown keys are skipped with their values at every level; the values are still checked as JSON.
Result<VornFile> read_vorn_json(std::string_view text);
// The same for text already known to be valid UTF-8 (as the file reader ensures): the encoding
// is not checked a second time.
Result<VornFile> read_vorn_json_utf8(std::string_view text);

}  // namespace vorn::files
