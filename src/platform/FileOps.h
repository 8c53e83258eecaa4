#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qarn::platform {

// File operations with the semantics the program relies on. Failures leave the reason in errno.

// True when something (file or folder) exists at `path`; false for an empty path.
bool PathExists(const std::string& path);

// Size in bytes of the file at `path`; empty when it cannot be examined (missing, no access).
std::optional<int64_t> FileSize(const std::string& path);

// Renames `from` to `to` but never replaces an existing `to`: then it fails with errno EEXIST and
// `from` stays as it was. Where the file system cannot rename that way, a hard link to the new
// name followed by removal of the old one does the same.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// Writes all `size` bytes to `fd`, going on after short writes and interruptions; false with the
// reason in errno (EIO when the file takes nothing). System calls only, so async-signal-safe.
bool WriteAll(int fd, const void* data, size_t size);

// The same at `offset` of the file, with the file position left alone.
bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset);

// Opens the file at `path`, creating it empty when missing, and closes it again.
bool TouchFile(const std::string& path);

// A file opened for appending, closed by the destructor. Every Append is one write at the end of
// the file, so appenders of other processes never overwrite it.
class AppendFile {
  public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens `path` for appending, creating it when missing (mode 0666 less the umask).
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
