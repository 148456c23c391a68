// The .vorn format: the JSON tables of the file records, and reading and writing whole documents.
#pragma once

#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "files/vorn_error.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {

// Structure and types only: the version value and the semantic rules are checked by the loader and
// the validator. The text must be valid UTF-8. A failure is a Json error whose detail names the
// problem and ends with "at line L column C". A stop asked for by `interruption` throws Interrupted.
Result<VornFile> read_vorn_json(std::string_view text, Interruption* interruption = nullptr);

// Absent optional fields are left out; the lowercase spellings of the enumerations are written.
std::string write_vorn_json(const VornFile& file);

}  // namespace vorn::files
