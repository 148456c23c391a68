#include "files/atomic_write.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn::files {
namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

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
    // Closing can report a delayed write error, so it is checked for the file being written.
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

// The file that a write through path would change: symbolic links are followed as far as they lead.
std::string resolve_target(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::string link(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
        if (length < 0) return current;
        link.resize(static_cast<std::size_t>(length));
        current = (link.front() == '/') ? link : directory_of(current) + "/" + link;
    }
    return current;
}

std::string temporary_name(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.find_last_of('/');
    // A short stem keeps the temporary within the file system's name limit whatever the target's length.
    const std::string base = (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 32);
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return directory_of(target) + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(static_cast<unsigned long long>(ticks) % 1000003);
}

std::error_code write_all(int fd, std::string_view content) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return last_error();
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return {};
}

std::error_code sync_directory(const std::string& directory) {
    FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return last_error();
    // Some file systems cannot sync a directory; the rename has happened either way.
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS) return last_error();
    return {};
}

}  // namespace

std::error_code write_file_atomically(const std::string& path, std::string_view content) {
    // The system would stop reading the name at a NUL and write some other file.
    if (path.find('\0') != std::string::npos) return {EINVAL, std::generic_category()};
    const std::string target = resolve_target(path);
    struct stat existing {};
    const bool replacing = ::stat(target.c_str(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode)) return {EISDIR, std::generic_category()};
    // Renaming over a device or a pipe would replace it with a regular file.
    if (replacing && !S_ISREG(existing.st_mode)) return {ENOTSUP, std::generic_category()};

    std::string temporary;
    FileDescriptor fd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporary_name(target);
        const int opened = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (opened >= 0) {
            fd.reset(opened);
            break;
        }
        if (errno != EEXIST) return last_error();
    }
    if (fd.get() < 0) return {EEXIST, std::generic_category()};

    std::error_code error = write_all(fd.get(), content);
    if (!error && replacing && ::fchmod(fd.get(), existing.st_mode & 07777) != 0) error = last_error();
    if (!error && ::fsync(fd.get()) != 0) error = last_error();
    if (const std::error_code closed = fd.close(); !error) error = closed;
    if (!error && ::rename(temporary.c_str(), target.c_str()) != 0) error = last_error();
    if (error) {
        ::unlink(temporary.c_str());
        return error;
    }
    return sync_directory(directory_of(target));
}

}  // namespace vorn::files
