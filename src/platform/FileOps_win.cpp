#include "platform/FileOps.h"
#include "platform/WinSecurity.h"
#include "platform/WinText.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <vector>

// The descriptors of this layer are the C runtime's (_open_osfhandle), so that callers keep one
// int for a file on both systems; the checks the header names are made on the Windows handle.

namespace qarn::platform {

namespace {

HANDLE NativeOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

// One write of up to `left` bytes at the file position, or at `offset` when given.
bool WriteSome(HANDLE file, const uint8_t* from, size_t left, const uint64_t* offset,
               DWORD* written) {
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    OVERLAPPED at{};
    if (offset != nullptr) {
        at.Offset = static_cast<DWORD>(*offset);
        at.OffsetHigh = static_cast<DWORD>(*offset >> 32);
    }
    return WriteFile(file, from, chunk, written, offset != nullptr ? &at : nullptr) != 0;
}

bool PutAll(int fd, const void* data, size_t size, const uint64_t* offset) {
    const HANDLE file = NativeOf(fd);
    if (file == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        DWORD written = 0;
        const uint64_t at = offset != nullptr ? *offset + done : 0;
        if (!WriteSome(file, bytes + done, size - done, offset != nullptr ? &at : nullptr,
                       &written)) {
            errno = ErrnoOf(GetLastError());
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

bool WriteAll(int fd, const void* data, size_t size) {
    return PutAll(fd, data, size, nullptr);
}

bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset) {
    // A positioned write moves the file position on Windows; it is put back.
    const HANDLE file = NativeOf(fd);
    LARGE_INTEGER position{};
    const LARGE_INTEGER zero{};
    const bool saved = SetFilePointerEx(file, zero, &position, FILE_CURRENT) != 0;
    const bool done = PutAll(fd, data, size, &offset);
    if (saved)
        SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    return done;
}

bool PathExists(const std::string& path) {
    return !path.empty() && GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<int64_t> FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &info))
        return std::nullopt;
    return static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
                                info.nFileSizeLow);
}

int OpenOwnRegularFile(const std::string& path, int flags, unsigned /*mode*/) {
    DWORD access = 0;
    switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
    case O_WRONLY:
        access = GENERIC_WRITE;
        break;
    case O_RDWR:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    default:
        access = GENERIC_READ;
        break;
    }
    // Appending only: every write lands at the end, also against other processes' writes.
    if ((flags & O_APPEND) != 0)
        access = (access & GENERIC_READ) | FILE_APPEND_DATA | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    DWORD disposition = OPEN_EXISTING;
    if ((flags & O_CREAT) != 0)
        disposition = (flags & O_EXCL) != 0 ? CREATE_NEW : OPEN_ALWAYS;
    // New files: the user's own, readable by others as 0644 is on Linux (the profile's or the
    // folder's inherited rules decide that here, as the umask does there).
    const HANDLE file = CreateFileW(
        Utf8ToWide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    int refusal = 0;
    if (!GetFileInformationByHandle(file, &info))
        refusal = ErrnoOf(GetLastError());
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        refusal = ELOOP;
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
             GetFileType(file) != FILE_TYPE_DISK)
        refusal = EINVAL;
    else if (!IsOwnedByCurrentUser(file))
        refusal = EPERM;
    else if ((flags & O_TRUNC) != 0) {
        FILE_END_OF_FILE_INFO end{};
        if (!SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end))
            refusal = ErrnoOf(GetLastError());
    }
    if (refusal != 0) {
        CloseHandle(file);
        errno = refusal;
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file),
                                   flags & (O_RDONLY | O_WRONLY | O_RDWR | O_APPEND));
    if (fd < 0) {
        CloseHandle(file);
        errno = EMFILE;
        return -1;
    }
    return fd;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move refuses an existing target.
    if (MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), 0))
        return true;
    errno = ErrnoOf(GetLastError());
    return false;
}

bool CreateNewFile(const std::string& path) {
    const HANDLE file =
        CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return false;
    }
    return CloseHandle(file) != 0;
}

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::Open(const std::string& path) {
    Close();
    m_fd = OpenOwnRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
    return m_fd >= 0;
}

int64_t AppendFile::Size() const {
    LARGE_INTEGER size{};
    if (m_fd < 0 || !GetFileSizeEx(NativeOf(m_fd), &size))
        return -1;
    return size.QuadPart;
}

bool AppendFile::IsStill(const std::string& path) const {
    if (m_fd < 0)
        return false;
    BY_HANDLE_FILE_INFORMATION held{};
    if (!GetFileInformationByHandle(NativeOf(m_fd), &held))
        return false;
    const HANDLE byName =
        CreateFileW(Utf8ToWide(path).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (byName == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION named{};
    const bool read = GetFileInformationByHandle(byName, &named) != 0;
    CloseHandle(byName);
    return read && named.dwVolumeSerialNumber == held.dwVolumeSerialNumber &&
           named.nFileIndexHigh == held.nFileIndexHigh && named.nFileIndexLow == held.nFileIndexLow;
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
    const int rc = _close(m_fd);
    m_fd = -1;
    return rc == 0;
}

} // namespace qarn::platform
