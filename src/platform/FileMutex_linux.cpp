#include "platform/FileMutex.h"
#include "platform/FileOps.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qarn::platform {

namespace {

// Nobody but this user opens it, so nobody else can hold the lock.
constexpr mode_t kFileMode = 0600;
// Byte 0 is the mutex; byte 1 carries a shared lock of every process that has the file open.
constexpr off_t kMutexByte = 0;
constexpr off_t kHolderByte = 1;
// Between two tries of a lock that another process holds. A line of the log takes it for some
// microseconds, so a waiter gets its turn soon after the holder lets go.
constexpr auto kRetryPause = std::chrono::microseconds(100);

struct flock ByteLock(short type, off_t byte) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return lock;
}

bool SetLock(int fd, short type, off_t byte) {
    struct flock lock = ByteLock(type, byte);
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

} // namespace

bool FileMutex::IsOpen() const {
    return m_fd >= 0;
}

FileMutex::~FileMutex() {
    Close();
}

FileMutex::OpenResult FileMutex::Open(const std::string& path) {
    Close();
    m_fd = OpenOwnRegularFile(path, O_RDWR | O_CREAT, kFileMode);
    if (m_fd < 0)
        return OpenResult::Failed;
    (void)fchmod(m_fd, kFileMode); // one made earlier with a wider mode is narrowed
    // Would an exclusive lock on the holders' byte be refused? Then someone else has it open.
    struct flock probe = ByteLock(F_WRLCK, kHolderByte);
    if (fcntl(m_fd, F_OFD_GETLK, &probe) != 0 || !SetLock(m_fd, F_RDLCK, kHolderByte)) {
        const int error = errno;
        Close();
        errno = error;
        return OpenResult::Failed;
    }
    return probe.l_type == F_UNLCK ? OpenResult::Created : OpenResult::AlreadyExists;
}

FileMutex::LockResult FileMutex::TimedLock(uint32_t timeoutMs) {
    if (m_fd < 0) {
        errno = EBADF;
        return LockResult::Failed;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (SetLock(m_fd, F_WRLCK, kMutexByte))
            return LockResult::Acquired;
        if (errno != EAGAIN && errno != EACCES)
            return LockResult::Failed;
        if (std::chrono::steady_clock::now() >= deadline)
            return LockResult::Timeout;
        std::this_thread::sleep_for(kRetryPause);
    }
}

bool FileMutex::Unlock() {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    return SetLock(m_fd, F_UNLCK, kMutexByte);
}

bool FileMutex::Close() {
    if (m_fd < 0)
        return true;
    const int rc = close(m_fd);
    m_fd = -1;
    return rc == 0;
}

} // namespace qarn::platform
