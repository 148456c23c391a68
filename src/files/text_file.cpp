#include "files/text_file.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>

#include "core/interruption_poll.hpp"
#include "files/text_position.hpp"

namespace vorn::files {
namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }
std::error_code error_of(int code) { return {code, std::generic_category()}; }

// A system call that a signal interrupted is repeated, unless the signal asks the call to stop.
template <class Call>
auto retrying(Interruption* interruption, Call call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) return result;
        if (interruption && interruption->requested()) throw Interrupted();
    }
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closing can report a delayed write error, so it is checked for a file being written.
    std::error_code close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? std::error_code() : last_error();
    }

private:
    int fd_;
};

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// -- reading

// The offset of the first byte that does not belong to a well-formed UTF-8 sequence (overlong
// forms, surrogates and code points above U+10FFFF included), or nullopt for valid text.
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
            if (lead == 0xE0)
                low = 0xA0;  // overlong
            else if (lead == 0xED)
                high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;  // overlong
            else if (lead == 0xF4)
                high = 0x8F;  // above U+10FFFF
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

constexpr std::size_t kReadChunk = std::size_t{8} << 20;

// -- writing

struct Target {
    std::string path;  // not a symbolic link, or a link of /proc
    bool through_proc = false;
};

// Follows symbolic links by their text as far as they lead. The links of /proc/<pid>/fd name open
// files, which may have no name at all (pipes, deleted files), so they are not followed by text:
// the write goes through them in place.
std::error_code resolve(const std::string& path, Target& target) {
    std::string current = path;
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat info{};
        if (::lstat(current.c_str(), &info) != 0 && errno != ENOENT) return last_error();
        if (!S_ISLNK(info.st_mode)) {  // a file, or none yet (perhaps where a dangling link points)
            target.path = std::move(current);
            return {};
        }
        struct statfs system{};
        if (::statfs(directory_of(current).c_str(), &system) == 0 && system.f_type == PROC_SUPER_MAGIC) {
            target = {std::move(current), true};
            return {};
        }
        std::string link(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
        if (length < 0) return last_error();
        if (static_cast<std::size_t>(length) == link.size()) return error_of(ENAMETOOLONG);
        link.resize(static_cast<std::size_t>(length));
        current = (link.front() == '/') ? link : directory_of(current) + "/" + link;
    }
    return error_of(ELOOP);
}

std::error_code write_all(int fd, std::string_view content, Interruption* interruption) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t written = retrying(interruption, [&] { return ::write(fd, data, left); });
        if (written < 0) return last_error();
        data += written;
        left -= static_cast<std::size_t>(written);
        // A signal that cut a write short leaves no EINTR behind, and the next write may wait.
        if (left > 0 && interruption && interruption->requested()) throw Interrupted();
    }
    return {};
}

std::error_code write_in_place(const std::string& path, std::string_view content, Interruption* interruption) {
    // A FIFO without a reader is refused (ENXIO) instead of waited for.
    FileDescriptor fd(
        retrying(interruption, [&] { return ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
    if (fd.get() < 0) return last_error();
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0) return last_error();
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return last_error();
    std::error_code error = write_all(fd.get(), content, interruption);
    if (S_ISREG(info.st_mode)) {
        // Truncating last keeps the old content when the first write fails.
        if (!error && ::ftruncate(fd.get(), static_cast<off_t>(content.size())) != 0) error = last_error();
        if (!error && ::fsync(fd.get()) != 0) error = last_error();
    }
    if (const std::error_code closed = fd.close(); !error) error = closed;
    return error;
}

std::string temporary_name(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.find_last_of('/');
    // A short stem keeps the temporary within the file system's name limit whatever the target's length.
    const std::string base = (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 32);
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return directory_of(target) + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" +
           std::to_string(static_cast<unsigned long long>(ticks) % 1000003);
}

bool cannot_create_in_directory(int code) { return code == EACCES || code == EPERM || code == EROFS; }

enum class Outcome { Done, InPlace };

// The new content goes to a temporary file that takes the place of the old one. `existing` is the
// old file, or null for a new one. InPlace: the temporary file could not be made to stand for the
// old one, and is gone again.
std::error_code replace_by_rename(const std::string& path, std::string_view content, const struct stat* existing,
                                  Interruption* interruption, Outcome& outcome) {
    outcome = Outcome::Done;
    std::string temporary;
    FileDescriptor fd;
    for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
        temporary = temporary_name(path);
        const int opened = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (opened >= 0) {
            fd.reset(opened);
        } else if (errno != EEXIST) {
            if (existing && cannot_create_in_directory(errno)) outcome = Outcome::InPlace;
            return last_error();
        }
    }
    if (fd.get() < 0) return error_of(EEXIST);
    struct Remover {
        const std::string& name;
        bool armed = true;
        ~Remover() {
            if (armed) ::unlink(name.c_str());
        }
    } remover{temporary};

    if (existing) {
        struct stat made{};
        if (::fstat(fd.get(), &made) != 0) return last_error();
        if ((made.st_uid != existing->st_uid || made.st_gid != existing->st_gid) &&
            ::fchown(fd.get(), existing->st_uid, existing->st_gid) != 0) {
            if (errno == EPERM) outcome = Outcome::InPlace;
            return last_error();
        }
        // After the change of owner, which clears the set-user-ID and set-group-ID bits.
        if (::fchmod(fd.get(), existing->st_mode & 07777) != 0) return last_error();
    }
    if (std::error_code error = write_all(fd.get(), content, interruption)) return error;
    if (::fsync(fd.get()) != 0) return last_error();
    if (std::error_code error = fd.close()) return error;
    if (::rename(temporary.c_str(), path.c_str()) != 0) return last_error();
    remover.armed = false;
    // The new file is in place whether or not the directory reaches the disk now.
    FileDescriptor directory(::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) ::fsync(directory.get());
    return {};
}

}  // namespace

Result<std::string> read_text_file(const std::string& path, Interruption* interruption) {
    const auto failure = [](int code) { return FileError::read(code); };
    // The system would stop reading the name at a NUL and open some other file.
    if (path.find('\0') != std::string::npos) return failure(EINVAL);
    // Opening a FIFO without O_NONBLOCK would wait for a writer.
    FileDescriptor fd(
        retrying(interruption, [&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
    if (fd.get() < 0) return failure(errno);
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0) return failure(errno);
    if (S_ISDIR(info.st_mode)) return failure(EISDIR);
    if (!S_ISREG(info.st_mode)) return FileError::read("NotRegularFile", "not a regular file");

    // The size is where reading starts: files in /proc report 0, and a file may grow while it is read.
    std::string content(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096, '\0');
    InterruptionPoll poll(interruption, 1);
    std::size_t used = 0;
    for (;;) {
        if (used == content.size()) content.resize(content.size() * 2);
        const std::size_t chunk = std::min(content.size() - used, kReadChunk);
        const ssize_t got = retrying(interruption, [&] { return ::read(fd.get(), content.data() + used, chunk); });
        if (got < 0) return failure(errno);
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
        poll.advance();
    }
    content.resize(used);
    if (const auto bad = first_invalid_utf8(content)) {
        FileError error =
            FileError::read("InvalidUtf8", "file is not valid UTF-8 (byte offset " + std::to_string(*bad) + ")");
        const TextPosition position = text_position(content, *bad);
        error.line = position.line;
        error.column = position.column;
        return error;
    }
    return content;
}

namespace {

std::error_code replace_file(const std::string& path, std::string_view content, Interruption* interruption) {
    // The system would stop reading the name at a NUL and write some other file.
    if (path.find('\0') != std::string::npos) return error_of(EINVAL);
    Target target;
    if (std::error_code error = resolve(path, target)) return error;
    struct stat existing{};
    if (::stat(target.path.c_str(), &existing) != 0) {
        if (errno != ENOENT) return last_error();
        Outcome outcome;
        return replace_by_rename(target.path, content, nullptr, interruption, outcome);
    }
    if (S_ISDIR(existing.st_mode)) return error_of(EISDIR);
    if (target.through_proc || !S_ISREG(existing.st_mode) || existing.st_nlink > 1)
        return write_in_place(target.path, content, interruption);
    // A file this process may not write is not replaced either.
    if (::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0) return last_error();
    Outcome outcome;
    const std::error_code error = replace_by_rename(target.path, content, &existing, interruption, outcome);
    if (outcome == Outcome::InPlace) return write_in_place(target.path, content, interruption);
    return error;
}

}  // namespace

Result<void> write_text_file(const std::string& path, std::string_view content, Interruption* interruption) {
    if (const std::error_code error = replace_file(path, content, interruption)) return FileError::write(error.value());
    return {};
}

}  // namespace vorn::files
