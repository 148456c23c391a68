// The .vorn format: the JSON tables of the file records, and reading and writing whole documents.
#pragma once

#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "files/file_error.hpp"
#include "files/json_reader.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {

// Structure and types only: the version value and the semantic rules are checked by the loader and
// the validator. The text must be valid UTF-8. A failure is a Json error (json_reader.hpp). With
// `positions`, the reader records where the nodes and links and their values are. A stop asked for
// by `interruption` throws Interrupted.
Result<VornFile> read_vorn_json(const FileText& text, Interruption* interruption = nullptr,
                                JsonPositions* positions = nullptr);
// The same for a text in any buffer (copied into one with the reader's padding).
Result<VornFile> read_vorn_json(std::string_view text);

// Absent optional fields are left out; the lowercase spellings of the enumerations are written. A
// non-finite number is an Unwritable error naming it.
Result<std::string> write_vorn_json(const VornFile& file);

}  // namespace vorn::files
