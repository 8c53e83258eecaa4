#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qarn::platform {

// A file held under an exclusive lock (flock) for as long as this object keeps it. The lock
// belongs to the open file, so it ends with the holder however that ends, a crash included: a
// file left behind by a dead holder is simply free to take. Two objects of one process exclude
// each other just as two processes do.
//
// Used twice by the instance guard: as the start-up lock that copies of the program take in turn,
// and as the instance record whose lock says "a copy runs" and whose content tells later copies
// how to reach it. Not meant for use by several threads at once. Failures leave the reason in
// errno.
class InstanceLock {
  public:
    enum class Result { Acquired, Held, Failed };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Opens `path` (created with mode 0600 when missing) and waits without limit until this
    // object holds it alone. Letting go of a lock held before comes first.
    bool Lock(const std::string& path);

    // The same without waiting: Held when someone else holds the file.
    Result TryLock(const std::string& path);

    // Replaces the held file's content with `content`.
    bool WriteContent(std::string_view content);

    // Lets go of the lock. With `removeFile` the file goes first, while still held, so the next
    // taker makes a fresh one; a taker that had opened the old file notices and opens again.
    void Unlock(bool removeFile = false);

    bool IsLocked() const { return m_fd >= 0; }

    // True when a file exists at `path` and some open file holds a lock on it. A file nobody
    // holds (its holder died) or no file at all gives false.
    static bool IsHeld(const std::string& path);

    // At most `maxBytes` of the file at `path`; empty optional when it cannot be read.
    static std::optional<std::string> ReadContent(const std::string& path, size_t maxBytes);

  private:
    Result Acquire(const std::string& path, bool wait);

    int m_fd = -1;
    std::string m_path;
};

} // namespace qarn::platform
