// Reading and writing whole text files, for both file formats.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "files/file_error.hpp"

namespace vorn::files {

// Large text buffers are mapped on their own, where the system can back them with huge pages: a few
// page faults instead of one every four kilobytes.
struct TextBufferRelease {
    std::size_t mapped_length = 0;  // 0: allocated with new[]
    void operator()(char* bytes) const noexcept;
};

// The whole content of a file in a buffer of its own, followed by kPadding zero bytes (a NUL ends
// the text, and a reader may load a few bytes at a time without reaching past its buffer), filled by
// reading without being zeroed first.
class FileText {
public:
    static constexpr std::size_t kPadding = 64;

    FileText() = default;
    // A copy of any text, for readers that want the padding.
    static FileText copy_of(std::string_view text);

    char* data() noexcept { return bytes_.get(); }
    const char* data() const noexcept { return bytes_.get(); }
    std::size_t size() const noexcept { return size_; }
    std::string_view view() const noexcept { return {bytes_.get(), size_}; }
    operator std::string_view() const noexcept { return view(); }

    // Room for `capacity` bytes after the first `size()`; what they held is kept.
    void reserve(std::size_t capacity);
    // The first `size` bytes are the text from now on, and the padding follows them.
    void set_size(std::size_t size);
    std::size_t capacity() const noexcept { return capacity_; }

private:
    std::unique_ptr<char, TextBufferRelease> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;  // bytes of text the buffer can hold, the padding not counted
};

// Reads a whole regular file that must be UTF-8 text. Nothing waits: a FIFO or a device is refused
// without being read. A failure is a Read error with the system's text ("No such file or
// directory", "Is a directory"), "not a regular file" (code NotRegularFile), or "file is not valid
// UTF-8 (byte offset N)" (code InvalidUtf8, with the line and column of the byte). A stop asked
// for by `interruption` while reading or checking the text throws Interrupted.
Result<FileText> read_text_file(const std::string& path, Interruption* interruption = nullptr);

// Replaces the content of the file at `path`, following symbolic links to the file they lead to
// (a loop is ELOOP). A regular file with a single link, in a directory that can take a new file,
// is replaced atomically: the content goes to a temporary file next to it, which gets the old
// file's owner, group and permission bits, is flushed to disk and renamed over it. Otherwise the
// file is written in place: devices, FIFOs, files reached through /proc/*/fd (such as
// /dev/stdout), files with several hard links, files whose owner this process cannot give to a new
// file, and files in a directory it cannot write. A regular file written in place keeps its old
// content after a failure too: the space of the new content is reserved before the old content
// changes (by fallocate, or by writing the part beyond the old end first). Content
// larger than the process's file size limit is refused before anything is written (EFBIG). A new
// file is created by the same rename, with 0666 less the umask. A stop asked for by `interruption`
// while a write waits (a full pipe) throws Interrupted. A failure is a Write error with the system's
// text.
Result<void> write_text_file(const std::string& path, std::string_view content, Interruption* interruption = nullptr);

}  // namespace vorn::files
