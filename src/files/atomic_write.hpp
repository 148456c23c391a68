// Replacing a file so that a reader sees either the old content or the whole new content.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace vorn::files {

// Writes content to a new temporary file next to path, flushes it to disk, renames it over path
// and flushes the directory. A symbolic link at path is followed, so its target is replaced. The
// new file gets the permission bits of the file it replaces, or 0666 less the umask when new.
// On failure the temporary file is removed, the old file is left as it was, and the error of the
// failing system call is returned; an empty error_code means success.
std::error_code write_file_atomically(const std::string& path, std::string_view content);

}  // namespace vorn::files
