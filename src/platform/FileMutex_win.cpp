#include "platform/FileMutex.h"
#include "platform/WinSecurity.h"
#include "platform/WinText.h"

#include <cerrno>

namespace qarn::platform {

namespace {

// Byte 0 is the mutex; byte 1 carries a shared lock of every process that has the file open.
constexpr DWORD kMutexByte = 0;
constexpr DWORD kHolderByte = 1;

OVERLAPPED At(DWORD byte, HANDLE event) {
    OVERLAPPED where{};
    where.Offset = byte;
    where.hEvent = event;
    return where;
}

// Takes the lock on `byte` without waiting; false when another handle holds it.
bool TryLock(HANDLE file, DWORD byte, bool exclusive) {
    OVERLAPPED where = At(byte, nullptr);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return LockFileEx(file, flags, 0, 1, 0, &where) != 0;
}

bool UnlockByte(HANDLE file, DWORD byte) {
    OVERLAPPED where = At(byte, nullptr);
    return UnlockFileEx(file, 0, 1, 0, &where) != 0;
}

} // namespace

bool FileMutex::IsOpen() const {
    return m_file != nullptr;
}

FileMutex::~FileMutex() {
    Close();
}

FileMutex::OpenResult FileMutex::Open(const std::string& path) {
    Close();
    OwnerOnlySecurity security;
    if (!security.Valid()) {
        errno = EACCES;
        return OpenResult::Failed;
    }
    // Never through a link or junction at the name: FILE_FLAG_OPEN_REPARSE_POINT opens the link
    // itself, which the check below then refuses.
    const HANDLE file = CreateFileW(
        Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security.Attributes(), OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = EACCES;
        return OpenResult::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(file);
        errno = ELOOP;
        return OpenResult::Failed;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        errno = EINVAL;
        return OpenResult::Failed;
    }
    if (!IsOwnedByCurrentUser(file)) {
        CloseHandle(file);
        errno = EPERM;
        return OpenResult::Failed;
    }
    m_wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_wake == nullptr) {
        CloseHandle(file);
        errno = ENOMEM;
        return OpenResult::Failed;
    }
    m_file = file;
    // Could this handle take the holders' byte for itself? Then nobody else has the file open.
    const bool alone = TryLock(file, kHolderByte, true);
    if (alone)
        UnlockByte(file, kHolderByte);
    if (!TryLock(file, kHolderByte, false)) {
        Close();
        errno = EACCES;
        return OpenResult::Failed;
    }
    return alone ? OpenResult::Created : OpenResult::AlreadyExists;
}

FileMutex::LockResult FileMutex::TimedLock(uint32_t timeoutMs) {
    if (m_file == nullptr) {
        errno = EBADF;
        return LockResult::Failed;
    }
    ResetEvent(m_wake);
    OVERLAPPED where = At(kMutexByte, m_wake);
    if (LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where))
        return LockResult::Acquired;
    if (GetLastError() != ERROR_IO_PENDING) {
        errno = EIO;
        return LockResult::Failed;
    }
    DWORD ignored = 0;
    if (WaitForSingleObject(m_wake, timeoutMs) == WAIT_OBJECT_0)
        return GetOverlappedResult(m_file, &where, &ignored, FALSE) ? LockResult::Acquired
                                                                    : LockResult::Failed;
    // The request is still queued: withdraw it, and take the lock after all when it was granted
    // in the meantime.
    CancelIoEx(m_file, &where);
    if (GetOverlappedResult(m_file, &where, &ignored, TRUE))
        return LockResult::Acquired;
    return GetLastError() == ERROR_OPERATION_ABORTED ? LockResult::Timeout : LockResult::Failed;
}

bool FileMutex::Unlock() {
    if (m_file == nullptr) {
        errno = EBADF;
        return false;
    }
    if (!UnlockByte(m_file, kMutexByte)) {
        errno = EPERM;
        return false;
    }
    return true;
}

bool FileMutex::Close() {
    if (m_file == nullptr)
        return true;
    const bool closed = CloseHandle(m_file) != 0;
    m_file = nullptr;
    if (m_wake != nullptr)
        CloseHandle(m_wake);
    m_wake = nullptr;
    return closed;
}

} // namespace qarn::platform
