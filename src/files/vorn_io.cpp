#include "files/vorn_io.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "files/atomic_write.hpp"
#include "files/json_reader.hpp"
#include "files/json_writer.hpp"
#include "files/validation.hpp"

namespace vorn::files {
namespace {

VornError system_error(int code) { return VornError::io(std::error_code(code, std::generic_category()).message()); }

}  // namespace

std::optional<std::size_t> first_invalid_utf8(std::string_view text) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        // Runs of ASCII go eight bytes at a time.
        while (i + 8 <= size) {
            std::uint64_t block;
            std::memcpy(&block, bytes + i, 8);
            if (block & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i >= size) break;
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;        // overlong
            else if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;        // overlong
            else if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            return i;
        }
        if (i + length > size) return i;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return i;
        for (std::size_t k = 2; k < length; ++k)
            if ((bytes[i + k] & 0xC0) != 0x80) return i;
        i += length;
    }
    return std::nullopt;
}

Result<std::string> read_text_file(const std::string& path) {
    // The system would stop reading the name at a NUL and open some other file.
    if (path.find('\0') != std::string::npos) return system_error(EINVAL);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return system_error(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) return system_error(errno);
    if (S_ISDIR(info.st_mode)) return system_error(EISDIR);

    std::string content;
    // The size is only a hint: files in /proc report 0, and a file may grow while it is read.
    content.resize(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096);
    std::size_t used = 0;
    for (;;) {
        if (used == content.size()) content.resize(content.size() * 2);
        const ssize_t got = ::read(fd, content.data() + used, content.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            return system_error(errno);
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    content.resize(used);
    if (const auto bad = first_invalid_utf8(content))
        return VornError::io("file is not valid UTF-8 (byte offset " + std::to_string(*bad) + ")");
    return content;
}

Result<VornFile> load_vorn_file(const std::string& path) {
    Result<std::string> text = read_text_file(path);
    if (!text) return text.error();
    Result<VornFile> parsed = read_vorn_json_utf8(text.value());
    if (!parsed) return parsed;
    VornFile& file = parsed.value();
    if (file.version != "1.0") return VornError::unsupported_version(file.version);
    ValidationResult validation = validate_all(file);
    if (!validation.valid) return VornError::failed_validation(std::move(validation));
    return parsed;
}

Result<void> save_vorn_file(const std::string& path, const VornFile& file) {
    std::string text;
    try {
        text = write_vorn_json(file);
    } catch (const std::logic_error& failure) {
        return VornError::json(failure.what(), 0, 0);
    }
    if (const std::error_code error = write_file_atomically(path, text)) return VornError::io(error.message());
    return {};
}

}  // namespace vorn::files
