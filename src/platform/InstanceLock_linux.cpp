#include "platform/FileOps.h"
#include "platform/InstanceLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qarn::platform {

namespace {

// A holder may remove the file just as a newcomer opens it; each round of that costs one retry,
// so this many in a row means something keeps replacing the file.
constexpr int kOpenAttempts = 100;

int FlockRetrying(int fd, int operation) {
    int rc;
    do {
        rc = flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// True while `path` still names the file open at `fd`.
bool StillNames(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

void CloseKeepingErrno(int fd) {
    const int error = errno;
    close(fd);
    errno = error;
}

} // namespace

InstanceLock::~InstanceLock() {
    Unlock();
}

bool InstanceLock::Lock(const std::string& path) {
    return Acquire(path, true) == Result::Acquired;
}

InstanceLock::Result InstanceLock::TryLock(const std::string& path) {
    return Acquire(path, false);
}

InstanceLock::Result InstanceLock::Acquire(const std::string& path, bool wait) {
    Unlock();
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return Result::Failed;
        if (FlockRetrying(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
            const bool held = errno == EWOULDBLOCK;
            CloseKeepingErrno(fd);
            return held ? Result::Held : Result::Failed;
        }
        // The previous holder may have removed the file between our open and our lock: then we
        // hold a file nobody else will look at, and must take the one the name stands for now.
        if (StillNames(fd, path)) {
            m_fd = fd;
            m_path = path;
            return Result::Acquired;
        }
        close(fd);
    }
    errno = EAGAIN;
    return Result::Failed;
}

bool InstanceLock::WriteContent(std::string_view content) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (ftruncate(m_fd, 0) != 0)
        return false;
    return WriteAllAt(m_fd, content.data(), content.size(), 0);
}

void InstanceLock::Unlock(bool removeFile) {
    if (m_fd < 0)
        return;
    if (removeFile)
        unlink(m_path.c_str());
    close(m_fd); // drops the lock with the last reference to the open file
    m_fd = -1;
    m_path.clear();
}

bool InstanceLock::IsHeld(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    // A shared probe lock is refused exactly when someone holds the file exclusively; taking it
    // for a moment does not disturb a holder that comes later.
    const bool held = FlockRetrying(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

std::optional<std::string> InstanceLock::ReadContent(const std::string& path, size_t maxBytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::string content(maxBytes, '\0');
    size_t done = 0;
    while (done < maxBytes) {
        const ssize_t n = read(fd, content.data() + done, maxBytes - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            CloseKeepingErrno(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    content.resize(done);
    return content;
}

} // namespace qarn::platform
