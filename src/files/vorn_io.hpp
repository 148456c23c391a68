// Loading and saving .vorn files.
#pragma once

#include <string>

#include "core/failure.hpp"
#include "files/file_error.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {

// Reads (Read: see read_text_file), parses (Json), requires version exactly "1.0"
// (UnsupportedVersion) and validates (Validation, carrying the whole result). Nothing is returned
// unless every step passes. A stop asked for by `interruption` throws Interrupted.
Result<VornFile> load_vorn_file(const std::string& path, Interruption* interruption = nullptr);

// "Failed to load <path>: <the error's text>", as a failed load is reported.
std::string load_failure_text(const std::string& path, const FileError& error, Interruption* interruption = nullptr);

// Writes the pretty-printed text of the file without validating it, as write_text_file does
// (Write). A number the format cannot hold is refused (Unwritable) before anything is written. A
// stop asked for by `interruption` throws Interrupted.
Result<void> save_vorn_file(const std::string& path, const VornFile& file, Interruption* interruption = nullptr);

}  // namespace vorn::files
