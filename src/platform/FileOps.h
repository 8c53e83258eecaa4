#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qarn::platform {

// File operations with the semantics the program relies on. Failures leave the reason in errno.
//
// Files the program writes in folders that other users may share (the log folder, the dump
// folder) are never reached through a symbolic link and never joined when another user owns
// them: a link planted at the name would make a privileged process write where it points.

// True when something (file or folder) exists at `path`; false for an empty path.
bool PathExists(const std::string& path);

// Size in bytes of the file at `path` itself (a symbolic link is not followed); empty when it
// cannot be examined (missing, no access).
std::optional<int64_t> FileSize(const std::string& path);

// Opens the regular file at `path` that this user owns, with `flags` (O_CREAT creates it with
// `mode` less the umask), never following a symbolic link at the name and never waiting on a
// FIFO or device there. A descriptor (close-on-exec), or -1: errno ELOOP for a link, EINVAL for
// something other than a regular file, EPERM for a file of another user. O_TRUNC is applied only
// after the checks, so a file that is refused keeps its contents.
int OpenOwnRegularFile(const std::string& path, int flags, unsigned mode);

// Renames `from` to `to` but never replaces an existing `to`: then it fails with errno EEXIST and
// `from` stays as it was. Where the file system cannot rename that way, a hard link to the new
// name followed by removal of the old one does the same.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// Writes all `size` bytes to `fd`, going on after short writes and interruptions; false with the
// reason in errno (EIO when the file takes nothing). System calls only, so async-signal-safe.
bool WriteAll(int fd, const void* data, size_t size);

// The same at `offset` of the file, with the file position left alone.
bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset);

// Creates an empty file at `path` (mode 0644 less the umask) and closes it again; fails when
// anything, a link included, is there already.
bool CreateNewFile(const std::string& path);

// A file opened for appending, closed by the destructor. Every Append is one write at the end of
// the file, so appenders of other processes never overwrite it.
class AppendFile {
  public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens `path` for appending, creating it when missing (mode 0644 less the umask): only a
    // regular file of this user, never through a link (OpenOwnRegularFile).
    bool Open(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }

    // Size of the open file; -1 when it cannot be read.
    int64_t Size() const;

    // True while `path` still names the open file (not renamed or removed since Open).
    bool IsStill(const std::string& path) const;

    // Appends `data`; when `header` is not empty and the file is empty, `header` goes first, in
    // the same write. The caller serialises appenders when the header decision must be exact.
    bool Append(std::span<const uint8_t> header, std::span<const uint8_t> data);

    bool Close();

  private:
    int m_fd = -1;
};

} // namespace qarn::platform
