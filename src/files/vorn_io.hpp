// Loading and saving .vorn files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "files/vorn_error.hpp"
#include "files/vorn_file.hpp"

namespace vorn::files {

// The offset of the first byte that does not belong to a well-formed UTF-8 sequence (overlong
// forms, surrogates and code points above U+10FFFF included), or nullopt for valid text.
std::optional<std::size_t> first_invalid_utf8(std::string_view text) noexcept;

// Reads a whole file that must be UTF-8 text. Every failure is an Io error: the system's error
// text (a directory gives "Is a directory"), or "file is not valid UTF-8 (byte offset N)".
Result<std::string> read_text_file(const std::string& path);

// Reads, parses (Json), requires version exactly "1.0" (UnsupportedVersion) and validates
// (Validation, carrying the whole result). Nothing is returned unless every step passes.
Result<VornFile> load_vorn_file(const std::string& path);

// Writes the pretty-printed text of the file without validating it. The target is replaced
// atomically: after a failure (Io, with the system's error text) the old file is intact.
Result<void> save_vorn_file(const std::string& path, const VornFile& file);

}  // namespace vorn::files
