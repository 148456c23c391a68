// Reading and writing whole text files, for both file formats.
#pragma once

#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "files/file_error.hpp"

namespace vorn::files {

// Reads a whole regular file that must be UTF-8 text. Nothing waits: a FIFO or a device is refused
// without being read. A failure is a Read error with the system's text ("No such file or
// directory", "Is a directory"), "not a regular file" (code NotRegularFile), or "file is not valid
// UTF-8 (byte offset N)" (code InvalidUtf8, with the line and column of the byte). A stop asked
// for by `interruption` between reads throws Interrupted.
Result<std::string> read_text_file(const std::string& path, Interruption* interruption = nullptr);

// Replaces the content of the file at `path`, following symbolic links to the file they lead to
// (a loop is ELOOP). A regular file with a single link, in a directory that can take a new file,
// is replaced atomically: the content goes to a temporary file next to it, which gets the old
// file's owner, group and permission bits, is flushed to disk and renamed over it; after a
// failure the old file is as it was. Otherwise the file is written in place, and a failure midway
// can leave it truncated or partly written: devices, FIFOs, files reached through /proc/*/fd (such
// as /dev/stdout), files with several hard links, files whose owner this process cannot give to a
// new file, and files in a directory it cannot write. A new file is created by the same rename,
// with 0666 less the umask. A stop asked for by `interruption` while a write waits (a full pipe)
// throws Interrupted. A failure is a Write error with the system's text.
Result<void> write_text_file(const std::string& path, std::string_view content, Interruption* interruption = nullptr);

}  // namespace vorn::files
