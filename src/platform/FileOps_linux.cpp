#include "platform/FileOps.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qarn::platform {

namespace {

// Files the program makes for itself and others to read: never writable by other users.
constexpr mode_t kNewFileMode = 0644;

// The loop of both helpers: put(from, left, done) writes up to `left` bytes from `from`, which
// lies `done` bytes into the data, and returns what write returns.
template <typename Put>
bool PutAll(const void* data, size_t size, Put put) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = put(bytes + done, size - done, done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool WriteAll(int fd, const void* data, size_t size) {
    return PutAll(data, size,
                  [fd](const uint8_t* from, size_t left, size_t) { return write(fd, from, left); });
}

bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset) {
    return PutAll(data, size, [fd, offset](const uint8_t* from, size_t left, size_t done) {
        return pwrite(fd, from, left, static_cast<off_t>(offset + done));
    });
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

std::optional<int64_t> FileSize(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<int64_t>(info.st_size);
}

int OpenOwnRegularFile(const std::string& path, int flags, unsigned mode) {
    const bool truncate = (flags & O_TRUNC) != 0;
    const int fd = open(path.c_str(), (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                        static_cast<mode_t>(mode));
    if (fd < 0)
        return -1;
    struct stat info {};
    int refusal = 0;
    if (fstat(fd, &info) != 0)
        refusal = errno;
    else if (!S_ISREG(info.st_mode))
        refusal = EINVAL;
    else if (info.st_uid != geteuid())
        refusal = EPERM;
    else if (truncate && ftruncate(fd, 0) != 0)
        refusal = errno;
    if (refusal != 0) {
        close(fd);
        errno = refusal;
        return -1;
    }
    return fd;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    // No such rename here: link refuses an existing target just as well.
    if (link(from.c_str(), to.c_str()) != 0)
        return false;
    if (unlink(from.c_str()) != 0) {
        const int error = errno;
        unlink(to.c_str());
        errno = error;
        return false;
    }
    return true;
}

bool CreateNewFile(const std::string& path) {
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    if (fd < 0)
        return false;
    return close(fd) == 0;
}

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::Open(const std::string& path) {
    Close();
    m_fd = OpenOwnRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, kNewFileMode);
    return m_fd >= 0;
}

int64_t AppendFile::Size() const {
    struct stat info {};
    if (m_fd < 0 || fstat(m_fd, &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}

bool AppendFile::IsStill(const std::string& path) const {
    struct stat byName {};
    struct stat held {};
    return m_fd >= 0 && lstat(path.c_str(), &byName) == 0 && fstat(m_fd, &held) == 0 &&
           byName.st_dev == held.st_dev && byName.st_ino == held.st_ino;
}

bool AppendFile::Append(std::span<const uint8_t> header, std::span<const uint8_t> data) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    std::vector<uint8_t> buffer;
    if (!header.empty() && Size() == 0) {
        buffer.reserve(header.size() + data.size());
        buffer.assign(header.begin(), header.end());
        buffer.insert(buffer.end(), data.begin(), data.end());
        data = buffer;
    }
    return WriteAll(m_fd, data.data(), data.size());
}

bool AppendFile::Close() {
    if (m_fd < 0)
        return true;
    const int rc = close(m_fd);
    m_fd = -1;
    return rc == 0;
}

} // namespace qarn::platform
