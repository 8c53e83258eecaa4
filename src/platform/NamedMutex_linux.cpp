#include "platform/NameHash.h"
#include "platform/NamedMutex.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <time.h>
#include <unistd.h>

// The mutex lives in a POSIX shared-memory segment as a robust, process-shared, recursive pthread
// mutex. Who holds the segment is tracked with open-file-description locks on its descriptor:
// every holder keeps a read lock for as long as it has the mutex open. A newcomer that gets a
// write lock at once knows nobody else holds it, so it may (re)initialise the mutex even over a
// segment that a crashed process left behind; then it downgrades to a read lock, which for these
// locks is atomic, so no second initialiser can slip in. A newcomer that cannot get the write lock
// joins as a reader, which waits while an initialiser is still at work. The last holder to close
// removes the name. These locks belong to the open file, not to the process, so they also work
// between threads of one process and vanish with a process that dies.

namespace qarn::platform {

struct NamedMutex::SharedState {
    uint32_t magic; // kReady once the mutex is usable; written last by the initialiser
    pthread_mutex_t mutex;
};

namespace {

constexpr uint32_t kReady = 0x5141524Eu;
constexpr char kPrefix[] = "/qarn-mutex-";
// An initialiser holds its write lock for microseconds; this bounds the wait for a stopped one.
constexpr auto kJoinWait = std::chrono::milliseconds(1000);
constexpr int kCreateAttempts = 50;

bool SetFileLock(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // the whole file, whatever its size
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool WaitForReadLock(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kJoinWait;
    while (!SetFileLock(fd, F_RDLCK)) {
        if (errno != EAGAIN && errno != EACCES)
            return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = ETIMEDOUT;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

#if defined(__SANITIZE_THREAD__)
#define QARN_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QARN_THREAD_SANITIZER 1
#endif
#endif

int LockUntil(pthread_mutex_t* mutex, uint32_t timeoutMs) {
#if defined(QARN_THREAD_SANITIZER)
    // The thread sanitizer knows neither pthread_mutex_clocklock nor an owner that died (from
    // the timed variants); polling the try variant keeps it informed. Sanitizer builds only.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int rc = pthread_mutex_trylock(mutex);
        if (rc != EBUSY)
            return rc;
        if (std::chrono::steady_clock::now() >= deadline)
            return ETIMEDOUT;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
#else
    // Monotonic, so that a step of the wall clock neither stretches nor cuts the wait.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000u);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
#endif
}

} // namespace

std::string NamedMutex::SegmentName(std::string_view name) {
    std::string out = kPrefix;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out.push_back('_');
        } else if (c == '/' || c == '_' || c == '%' || byte < 0x20 || byte == 0x7F) {
            out.push_back('%');
            AppendHex(out, byte, 2);
        } else {
            out.push_back(c);
        }
    }
    // The name without its leading '/' must fit one file-name component.
    constexpr size_t kMax = NAME_MAX + 1;
    if (out.size() > kMax) {
        out.resize(kMax - 17);
        out.push_back('~');
        AppendHex(out, Fnv1a(name), 16);
    }
    return out;
}

NamedMutex::~NamedMutex() {
    Close();
}

NamedMutex::CreateResult NamedMutex::Create(std::string_view name) {
    Close();
    m_segment = SegmentName(name);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        switch (TryCreateOnce()) {
        case Attempt::Created:
            return CreateResult::Created;
        case Attempt::Joined:
            return CreateResult::AlreadyExists;
        case Attempt::Failed: {
            const int error = errno;
            ReleaseHandles();
            errno = error;
            return CreateResult::Failed;
        }
        case Attempt::Retry:
            // A holder was just removing the name, or an initialiser died half-way.
            ReleaseHandles();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            break;
        }
    }
    errno = EAGAIN;
    return CreateResult::Failed;
}

NamedMutex::Attempt NamedMutex::TryCreateOnce() {
    m_fd = shm_open(m_segment.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd < 0 && errno == EACCES) {
        // A segment of another user in a sticky folder may refuse O_CREAT; opening it still works.
        m_fd = shm_open(m_segment.c_str(), O_RDWR | O_CLOEXEC, 0);
    }
    if (m_fd < 0)
        return errno == ENOENT ? Attempt::Retry : Attempt::Failed;
    // Every user of the machine shares the mutex, whatever the creator's umask. Only the owner may
    // change the mode; for the others it is already set.
    (void)fchmod(m_fd, 0666);

    if (SetFileLock(m_fd, F_WRLCK)) {
        if (!StillLinked())
            return Attempt::Retry;
        if (!InitialiseSegment() || !SetFileLock(m_fd, F_RDLCK))
            return Attempt::Failed;
        return Attempt::Created;
    }
    if (errno != EAGAIN && errno != EACCES)
        return Attempt::Failed;
    if (!WaitForReadLock(m_fd))
        return Attempt::Failed;
    if (!StillLinked() || !JoinSegment())
        return Attempt::Retry;
    return Attempt::Joined;
}

bool NamedMutex::InitialiseSegment() {
    if (ftruncate(m_fd, sizeof(SharedState)) != 0)
        return false;
    void* memory = mmap(nullptr, sizeof(SharedState), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (memory == MAP_FAILED)
        return false;
    auto* state = static_cast<SharedState*>(memory);
    // Cleared first, so that a joiner finds "not ready" should this process die half-way.
    std::atomic_ref<uint32_t>(state->magic).store(0, std::memory_order_release);

    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int rc = pthread_mutex_init(&state->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        munmap(memory, sizeof(SharedState));
        errno = rc;
        return false;
    }
    std::atomic_ref<uint32_t>(state->magic).store(kReady, std::memory_order_release);
    m_state = state;
    return true;
}

bool NamedMutex::JoinSegment() {
    struct stat info {};
    if (fstat(m_fd, &info) != 0 || info.st_size < static_cast<off_t>(sizeof(SharedState)))
        return false;
    void* memory = mmap(nullptr, sizeof(SharedState), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (memory == MAP_FAILED)
        return false;
    auto* state = static_cast<SharedState*>(memory);
    if (std::atomic_ref<uint32_t>(state->magic).load(std::memory_order_acquire) != kReady) {
        munmap(memory, sizeof(SharedState));
        return false;
    }
    m_state = state;
    return true;
}

// False when the name now stands for another segment (or none): a last holder removed it while
// this process was opening it, and the segment in hand is on its way out.
bool NamedMutex::StillLinked() const {
    const int current = shm_open(m_segment.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (current < 0)
        return false;
    struct stat byName {};
    struct stat held {};
    const bool same = fstat(current, &byName) == 0 && fstat(m_fd, &held) == 0 &&
                      byName.st_dev == held.st_dev && byName.st_ino == held.st_ino;
    close(current);
    return same;
}

void NamedMutex::ReleaseHandles() {
    if (m_state != nullptr) {
        munmap(m_state, sizeof(SharedState));
        m_state = nullptr;
    }
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

bool NamedMutex::Close() {
    if (m_fd < 0)
        return true;
    if (m_state != nullptr) {
        munmap(m_state, sizeof(SharedState));
        m_state = nullptr;
    }
    // The write lock is granted only when no other holder is left: then the name goes, as a
    // kernel object vanishes with its last handle.
    if (SetFileLock(m_fd, F_WRLCK) && StillLinked())
        shm_unlink(m_segment.c_str());
    const int rc = close(m_fd);
    m_fd = -1;
    return rc == 0;
}

NamedMutex::LockResult NamedMutex::TimedLock(uint32_t timeoutMs) {
    if (m_state == nullptr) {
        errno = EBADF;
        return LockResult::Failed;
    }
    const int rc = LockUntil(&m_state->mutex, timeoutMs);
    switch (rc) {
    case 0:
        return LockResult::Acquired;
    case EOWNERDEAD: {
        const int fixed = pthread_mutex_consistent(&m_state->mutex);
        if (fixed != 0) {
            pthread_mutex_unlock(&m_state->mutex);
            errno = fixed;
            return LockResult::Failed;
        }
        return LockResult::Abandoned;
    }
    case ETIMEDOUT:
        return LockResult::Timeout;
    default:
        errno = rc;
        return LockResult::Failed;
    }
}

bool NamedMutex::Unlock() {
    if (m_state == nullptr) {
        errno = EBADF;
        return false;
    }
    const int rc = pthread_mutex_unlock(&m_state->mutex);
    if (rc != 0) {
        errno = rc;
        return false;
    }
    return true;
}

} // namespace qarn::platform
