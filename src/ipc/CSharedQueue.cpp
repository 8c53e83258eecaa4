#include "ipc/CSharedQueue.h"

#include "diag/FileLogger.h"
#include "ipc/SharedRing.h"
#include "ipc/SystemErrorText.h"
#include "platform/Process.h"
#include "platform/RuntimeDirectory.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qarn {

namespace {

constexpr char kGlobalPrefix[] = "Global\\";
constexpr int kCreateAttempts = 5;
// Lock attempts between two looks at the clock and at the holder.
constexpr unsigned kSpinsPerLook = 256;

// Asks, without taking it, whether a write lock on the whole object would conflict with a lock
// that someone holds: the creator keeps a read lock for as long as it has the block open.
bool CreatorHoldsBlock(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return true; // cannot tell: assume alive rather than take a live creator's block
    return probe.l_type != F_UNLCK;
}

bool HoldReadLock(int fd) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool SameObject(int fd, const std::string& segment) {
    const int other = shm_open(segment.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (other < 0)
        return false;
    struct stat a {};
    struct stat b {};
    const bool same =
        fstat(fd, &a) == 0 && fstat(other, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    close(other);
    return same;
}

} // namespace

std::string CSharedQueue::SegmentName(std::string_view name, uid_t owner) {
    const std::string prefix = "qarn-queue-" + std::to_string(owner) + "-";
    return "/" + platform::RuntimeEntryName(prefix, name, "", NAME_MAX);
}

std::string CSharedQueue::SegmentName(std::string_view name) {
    return SegmentName(name, geteuid());
}

CSharedQueue::CSharedQueue() = default;

CSharedQueue::~CSharedQueue() {
    CSharedQueue::Close();
}

bool CSharedQueue::IsOpen() const {
    if (m_view == nullptr || m_header == nullptr)
        return false;
    return SharedRing(m_view, m_capacity).Load(SharedRing::kMagicOffset) == SharedRing::kMagic;
}

void CSharedQueue::LogOpenError(const char* call) const {
    const int error = errno;
    if (IsErrorLogEnabled())
        LogError(FormatText("CSharedQueue::Open: %s ID:'%s' %s:Error:0x%x '%s'",
                            m_creator ? "Server" : "Client", m_name.c_str(), call,
                            static_cast<unsigned>(error), SystemErrorText(error).c_str()));
    errno = error;
}

bool CSharedQueue::Open(bool creator, const std::string& id, uint32_t blockSize) {
    if (m_view != nullptr)
        return false;
    m_lockToken = platform::GetCurrentThreadId();
    m_name = kGlobalPrefix + id;
    m_segment = SegmentName(m_name);
    m_creator = creator;
    m_problem.clear();
    const bool opened = creator ? OpenCreating(blockSize) : OpenJoining();
    if (!opened) {
        const int error = errno;
        Close();
        errno = error;
        return false;
    }
    m_open.store(true, std::memory_order_release);
    return true;
}

// Makes the object afresh. A leftover of ours whose creator is gone (a service that crashed) is
// removed and made again; a live one, or one of another user, is not touched.
int CSharedQueue::CreateSegment(const std::string& segment) {
    const mode_t mode = m_group ? 0660 : 0600;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const int fd = shm_open(segment.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
        const int old = shm_open(segment.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (old < 0) {
            if (errno == ENOENT)
                continue; // removed meanwhile
            return -1;
        }
        struct stat info {};
        const bool ours = fstat(old, &info) == 0 && info.st_uid == geteuid();
        const bool alive = CreatorHoldsBlock(old);
        close(old);
        if (!ours || alive) {
            m_problem = platform::kSharedMemoryFolder + segment +
                        " already exists and belongs to " + platform::DescribeUser(info.st_uid) +
                        (ours ? ", whose process still has it open" : "");
            errno = EEXIST;
            return -1;
        }
        if (shm_unlink(segment.c_str()) != 0 && errno != ENOENT)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

bool CSharedQueue::OpenCreating(uint32_t blockSize) {
    uint64_t size = blockSize == 0 ? kDefaultBlockSize : blockSize;
    size = std::max<uint64_t>(size, kMinimumBlockSize);
    size = (size + 3) / 4 * 4;
    if (size > kMaximumBlockSize) {
        errno = EINVAL;
        LogOpenError("CreateFileMapping");
        return false;
    }
    m_mapping = CreateSegment(m_segment);
    if (m_mapping < 0) {
        LogOpenError("CreateFileMapping");
        return false;
    }
    // The mode given at creation is narrowed by the umask; the group must be set before anyone
    // of it could open the object, which nobody can before the mode allows it.
    if ((m_group && fchown(m_mapping, static_cast<uid_t>(-1), *m_group) != 0) ||
        fchmod(m_mapping, m_group ? 0660 : 0600) != 0 ||
        ftruncate(m_mapping, static_cast<off_t>(size)) != 0 || !HoldReadLock(m_mapping)) {
        LogOpenError("CreateFileMapping");
        const int error = errno;
        shm_unlink(m_segment.c_str());
        errno = error;
        return false;
    }
    if (!MapBlock(m_mapping, static_cast<size_t>(size))) {
        LogOpenError("MapViewOfFile");
        const int error = errno;
        shm_unlink(m_segment.c_str());
        errno = error;
        return false;
    }
    m_capacity = static_cast<uint32_t>(size - SharedRing::kHeaderSize);
    SharedRing(m_view, m_capacity).Initialise();
    return true;
}

bool CSharedQueue::OpenJoining() {
    int fd = shm_open(m_segment.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0 && errno == ENOENT && geteuid() != 0) {
        // A service of root that serves a group of users.
        m_segment = SegmentName(m_name, 0);
        fd = shm_open(m_segment.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd < 0 && errno == ENOENT)
            m_segment = SegmentName(m_name);
    }
    if (fd < 0) {
        LogOpenError("OpenFileMapping");
        return false;
    }
    struct stat info {};
    bool usable = fstat(fd, &info) == 0;
    if (usable && (!S_ISREG(info.st_mode) || (info.st_uid != geteuid() && info.st_uid != 0) ||
                   (info.st_mode & 0007) != 0)) {
        errno = EACCES; // not ours, or open to every user: anyone may rewrite it under us
        m_problem = platform::kSharedMemoryFolder + m_segment + " belongs to " +
                    platform::DescribeUser(info.st_uid) +
                    ((info.st_mode & 0007) != 0 ? " and is open to every user" : "");
        usable = false;
    } else if (usable && (info.st_size < static_cast<off_t>(SharedRing::kHeaderSize + 4) ||
                          info.st_size > static_cast<off_t>(kMaximumBlockSize))) {
        errno = EINVAL;
        usable = false;
    } else if (usable && !CreatorHoldsBlock(fd)) {
        errno = ENOENT; // a leftover whose creator is gone: nobody would read what we write
        usable = false;
    }
    if (!usable) {
        LogOpenError("OpenFileMapping");
        const int error = errno;
        close(fd);
        errno = error;
        return false;
    }
    const bool mapped = MapBlock(fd, static_cast<size_t>(info.st_size));
    const int error = errno;
    close(fd); // the mapping stays
    errno = error;
    if (!mapped) {
        LogOpenError("MapViewOfFile");
        return false;
    }
    SharedRing ring(m_view, 0);
    if (ring.Load(SharedRing::kMagicOffset) != SharedRing::kMagic) {
        errno = EINVAL;
        return false; // not a queue; said without a log line
    }
    const uint32_t capacity = ring.Load(SharedRing::kCapacityOffset);
    if (capacity == 0 || capacity > m_mappedSize - SharedRing::kHeaderSize) {
        errno = EINVAL;
        LogOpenError("MapViewOfFile");
        return false;
    }
    m_capacity = capacity;
    return true;
}

bool CSharedQueue::MapBlock(int fd, size_t size) {
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED)
        return false;
    m_view = static_cast<uint8_t*>(view);
    m_header = m_view;
    m_data = m_view + SharedRing::kHeaderSize;
    m_mappedSize = size;
    return true;
}

void CSharedQueue::Close() {
    m_open.store(false, std::memory_order_release);
    if (m_view != nullptr) {
        if (m_creator) {
            // Openers that still have the block mapped see that it is no queue any more.
            SharedRing(m_view, m_capacity).Store(SharedRing::kMagicOffset, 0);
        }
        munmap(m_view, m_mappedSize);
    }
    if (m_mapping >= 0) {
        if (m_creator && SameObject(m_mapping, m_segment))
            shm_unlink(m_segment.c_str());
        close(m_mapping);
    }
    m_mapping = -1;
    m_view = nullptr;
    m_header = nullptr;
    m_data = nullptr;
    m_mappedSize = 0;
    m_capacity = 0;
}

// A thread id that no longer names a thread of this machine (its /proc entry is gone).
bool CSharedQueue::HolderGone(uint32_t token) const {
    if (token == 0 || token == m_lockToken)
        return false;
    const std::string entry = "/proc/" + std::to_string(token);
    return access(entry.c_str(), F_OK) != 0 && errno == ENOENT && access("/proc/self", F_OK) == 0;
}

bool CSharedQueue::TakeLock() {
    std::atomic_ref<uint32_t> word(*reinterpret_cast<uint32_t*>(m_header));
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockLimitMs);
    for (unsigned spins = 1;; ++spins) {
        uint32_t holder = 0;
        if (word.compare_exchange_weak(holder, m_lockToken, std::memory_order_acquire,
                                       std::memory_order_relaxed))
            return true;
        if (!m_open.load(std::memory_order_acquire))
            return false;
        if (spins % kSpinsPerLook == 0 && holder != 0) {
            if (HolderGone(holder) &&
                word.compare_exchange_strong(holder, m_lockToken, std::memory_order_acquire,
                                             std::memory_order_relaxed)) {
                // Whatever the holder left half-done, the ring's checks find and clear.
                if (IsWarningLogEnabled())
                    LogWarning(FormatText("CSharedQueue::Lock: ID:'%s' took over the lock of "
                                          "thread %u, which is gone",
                                          m_name.c_str(), holder));
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                // The creator reads for every user of the block: a writer that keeps the lock
                // past the limit (hung or hostile) must not stop it for good. What it left
                // half-done, the ring's checks find and clear.
                if (m_creator &&
                    word.compare_exchange_strong(holder, m_lockToken, std::memory_order_acquire,
                                                 std::memory_order_relaxed)) {
                    if (IsWarningLogEnabled())
                        LogWarning(FormatText("CSharedQueue::Lock: ID:'%s' cleared the lock of "
                                              "%u, held for more than %d ms",
                                              m_name.c_str(), holder, kLockLimitMs));
                    return true;
                }
                if (IsErrorLogEnabled())
                    LogError(FormatText("CSharedQueue::Lock: ID:'%s' held by %u for more than "
                                        "%d ms",
                                        m_name.c_str(), holder, kLockLimitMs));
                return false;
            }
        }
        std::this_thread::yield();
    }
}

void CSharedQueue::ReleaseLock() {
    std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(m_header))
        .store(0, std::memory_order_release);
    std::this_thread::yield();
}

bool CSharedQueue::Write(std::span<const uint8_t> bytes) {
    if (!IsOpen())
        return false;
    if (bytes.empty())
        return true;
    SharedRing ring(m_view, m_capacity);
    const uint64_t record = SharedRing::RecordSize(bytes.size());
    if (ring.Load(SharedRing::kInUseOffset) + record > m_capacity) {
        if (IsDebugLogEnabled())
            LogDebug(FormatText("CSharedQueue::Write: ID:'%s' Message discarded", m_name.c_str()));
        return true;
    }
    if (!TakeLock())
        return false;
    const SharedRing::Result result = ring.Write(bytes);
    ReleaseLock();
    if (result == SharedRing::Result::Discarded && IsDebugLogEnabled())
        LogDebug(FormatText("CSharedQueue::Write: ID:'%s' Message discarded 2", m_name.c_str()));
    if (result == SharedRing::Result::Corrupt && IsErrorLogEnabled())
        LogError(FormatText("CSharedQueue::Write: ID:'%s' the ring did not add up and was emptied; "
                            "message discarded",
                            m_name.c_str()));
    return true;
}

bool CSharedQueue::Read(std::vector<uint8_t>& out) {
    out.clear();
    if (!IsOpen())
        return false;
    SharedRing ring(m_view, m_capacity);
    if (ring.Load(SharedRing::kInUseOffset) == 0)
        return true;
    if (!TakeLock())
        return false;
    const SharedRing::Result result = ring.Read(out);
    ReleaseLock();
    if (result == SharedRing::Result::Corrupt && IsErrorLogEnabled())
        LogError(FormatText("CSharedQueue::Read: ID:'%s' the ring did not add up and was emptied",
                            m_name.c_str()));
    return true;
}

} // namespace qarn
