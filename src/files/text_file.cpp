#include "files/text_file.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/resource.h>
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
#include <memory>
#include <new>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

struct Utf8Check {
    std::optional<std::size_t> invalid;  // the first byte that belongs to no well-formed sequence
    std::size_t checked = 0;             // where a check of more text goes on
};

// Checks the text from `from` as UTF-8 (overlong forms, surrogates and code points above U+10FFFF
// refused). Unless the text is `complete`, a sequence that its end cuts short, and is well-formed as
// far as it goes, is left for the next check. Asks `interruption` every megabyte or so.
Utf8Check check_utf8(std::string_view text, std::size_t from, bool complete, Interruption* interruption) {
    constexpr std::size_t kBytesPerPoll = std::size_t{1} << 20;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    InterruptionPoll poll(interruption, 1);
    std::size_t i = from;
    std::size_t next_poll = i + kBytesPerPoll;
    while (i < size) {
        if (i >= next_poll) {
            poll.advance();
            next_poll = i + kBytesPerPoll;
        }
        // Runs of ASCII go 32 bytes at a time where the processor allows, else eight.
#if defined(__SSE2__)
        while (i + 32 <= size && i < next_poll) {
            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
            const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 16));
            if (_mm_movemask_epi8(_mm_or_si128(low, high)) != 0) break;
            i += 32;
        }
#endif
        while (i + 8 <= size && i < next_poll) {
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
            return {i, i};
        }
        const std::size_t present = std::min(length, size - i);
        if (present > 1 && (bytes[i + 1] < low || bytes[i + 1] > high)) return {i, i};
        for (std::size_t k = 2; k < present; ++k)
            if ((bytes[i + k] & 0xC0) != 0x80) return {i, i};
        if (present < length) return complete ? Utf8Check{i, i} : Utf8Check{std::nullopt, i};
        i += length;
    }
    return {std::nullopt, size};
}

constexpr std::size_t kReadChunk = std::size_t{1} << 20;

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

std::error_code write_at(int fd, std::string_view content, std::size_t offset) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t written = retrying(nullptr, [&] {
            return ::pwrite(fd, content.data() + done, content.size() - done, static_cast<off_t>(offset + done));
        });
        if (written < 0) return last_error();
        done += static_cast<std::size_t>(written);
    }
    return {};
}

// A regular file rewritten where it is keeps its old content after a failure: the space of the new
// content is reserved before a byte of the old one changes. Where the file system can reserve space
// (fallocate), a full disk, a quota or the size limit fails there; where it cannot, the part of the
// new content beyond the old end is written first, which takes the new blocks, and a failure there
// cuts the file back to its old size. Rewriting the old part then takes no new space (on file
// systems that write in place; one that copies on write may still run out midway). The writes are
// not cut short by Ctrl-C: they do not wait, and a half-written file is what this avoids.
std::error_code write_regular_in_place(int fd, std::size_t old_size, std::string_view content) {
    const auto cut_back = [&](std::error_code error) {
        (void)::ftruncate(fd, static_cast<off_t>(old_size));  // also gives back a partial reservation
        return error;
    };
    if (!content.empty() && retrying(nullptr, [&] {
                                return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(content.size()));
                            }) != 0) {
        if (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) return cut_back(last_error());
        if (content.size() > old_size) {
            if (std::error_code error = write_at(fd, content.substr(old_size), old_size)) return cut_back(error);
        }
    }
    if (std::error_code error = write_at(fd, content, 0)) return error;
    if (::ftruncate(fd, static_cast<off_t>(content.size())) != 0) return last_error();
    if (::fsync(fd) != 0) return last_error();
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
    std::error_code error = S_ISREG(info.st_mode)
                                ? write_regular_in_place(fd.get(), static_cast<std::size_t>(info.st_size), content)
                                : write_all(fd.get(), content, interruption);
    if (const std::error_code closed = fd.close(); !error) error = closed;
    return error;
}

// The size limit of this process (RLIMIT_FSIZE) refuses a file that would outgrow it before anything
// is written, instead of a write failing midway (and a SIGXFSZ, which Python ignores but an embedding
// program may not).
bool beyond_size_limit(std::size_t size) {
    struct rlimit limit{};
    return ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && size > limit.rlim_cur;
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

void TextBufferRelease::operator()(char* bytes) const noexcept {
    if (mapped_length > 0)
        ::munmap(bytes, mapped_length);
    else
        delete[] bytes;
}

void FileText::reserve(std::size_t capacity) {
    if (capacity <= capacity_ && bytes_) return;
    constexpr std::size_t kMapFrom = std::size_t{4} << 20;
    const std::size_t length = capacity + kPadding;
    std::unique_ptr<char, TextBufferRelease> bigger;
    if (length >= kMapFrom) {
        void* mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) throw std::bad_alloc();
        (void)::madvise(mapped, length, MADV_HUGEPAGE);  // a hint: without huge pages all works the same
        bigger = std::unique_ptr<char, TextBufferRelease>(static_cast<char*>(mapped), TextBufferRelease{length});
    } else {
        bigger = std::unique_ptr<char, TextBufferRelease>(new char[length], TextBufferRelease{});
    }
    if (size_ > 0) std::memcpy(bigger.get(), bytes_.get(), size_);
    bytes_ = std::move(bigger);
    capacity_ = capacity;
}

void FileText::set_size(std::size_t size) {
    if (size > capacity_ || !bytes_) reserve(size);
    size_ = size;
    std::memset(bytes_.get() + size, 0, kPadding);
}

FileText FileText::copy_of(std::string_view text) {
    FileText copy;
    copy.reserve(text.size());
    if (!text.empty()) std::memcpy(copy.data(), text.data(), text.size());
    copy.set_size(text.size());
    return copy;
}

Result<FileText> read_text_file(const std::string& path, Interruption* interruption) {
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
    // The room is not zeroed first: touching gigabytes of it would be a pause that Ctrl-C cannot end.
    FileText content;
    content.reserve(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096);
    // Each piece is checked as UTF-8 as soon as it is read, while it is still in the cache; a
    // sequence cut at the end of a piece waits for the next.
    InterruptionPoll poll(interruption, 1);
    std::size_t used = 0;
    Utf8Check utf8;
    for (;;) {
        if (used == content.capacity()) content.reserve(content.capacity() * 2);
        const std::size_t chunk = std::min(content.capacity() - used, kReadChunk);
        const ssize_t got = retrying(interruption, [&] { return ::read(fd.get(), content.data() + used, chunk); });
        if (got < 0) return failure(errno);
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
        content.set_size(used);
        if (!utf8.invalid) utf8 = check_utf8(content, utf8.checked, false, interruption);
        poll.advance();
    }
    content.set_size(used);
    if (!utf8.invalid) utf8 = check_utf8(content, utf8.checked, true, interruption);
    if (const std::optional<std::size_t> bad = utf8.invalid) {
        FileError error =
            FileError::read("InvalidUtf8", "file is not valid UTF-8 (byte offset " + std::to_string(*bad) + ")");
        const TextPosition position = text_position(content, *bad, interruption);
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
        if (beyond_size_limit(content.size())) return error_of(EFBIG);
        Outcome outcome;
        return replace_by_rename(target.path, content, nullptr, interruption, outcome);
    }
    if (S_ISDIR(existing.st_mode)) return error_of(EISDIR);
    if (S_ISREG(existing.st_mode) && beyond_size_limit(content.size())) return error_of(EFBIG);
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
