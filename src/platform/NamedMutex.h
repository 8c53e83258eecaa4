#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qarn::platform {

// A mutex shared by name between the processes of the machine, for every user of it, with a timed
// acquire. Like a kernel mutex of the Windows world it is
//  - recursive: the owning thread may lock again and must unlock as often;
//  - "abandoned" when its owner (thread or process) ends while holding it: the next acquirer takes
//    it over and learns of it from LockResult::Abandoned;
//  - alive while some process holds it open: Create reports AlreadyExists only then, not merely
//    because an old segment from a crashed process lingers, and the last Close removes the name.
//
// Lock and Unlock may be called from any thread at once; Create and Close are not meant to race
// with them on the same object. Failures leave the reason in errno.
class NamedMutex {
  public:
    enum class CreateResult { Created, AlreadyExists, Failed };
    enum class LockResult { Acquired, Abandoned, Timeout, Failed };

    NamedMutex() = default;
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Opens the mutex `name`, making it when no other process holds it. Not initially owned.
    // Calling it on an open object closes that one first.
    CreateResult Create(std::string_view name);

    // Waits at most `timeoutMs` milliseconds for ownership. Abandoned means acquired: the previous
    // owner died holding it and whatever it guarded may be half-done.
    LockResult TimedLock(uint32_t timeoutMs);

    // Releases one level of ownership; false (errno EPERM) when the calling thread is no owner.
    bool Unlock();

    // Lets go of the mutex; the destructor does this too. False only when the system refused to
    // close the handle (errno tells why); the object is closed either way.
    bool Close();

    bool IsOpen() const { return m_state != nullptr; }

    // The shared-memory name standing for `name`: a fixed prefix, '\' turned into '_', and '/',
    // '_', '%' and control bytes written as %XX, so that distinct names stay distinct.
    // "Global\tool.exe" -> "/qarn-mutex-Global_tool.exe"; "a_b" -> "/qarn-mutex-a%5Fb".
    // A result too long for the system gets its tail replaced by a hash of the whole name.
    static std::string SegmentName(std::string_view name);

  private:
    struct SharedState;

    enum class Attempt { Created, Joined, Retry, Failed };
    Attempt TryCreateOnce();
    bool InitialiseSegment();
    bool JoinSegment();
    bool StillLinked() const;
    void ReleaseHandles();

    std::string m_segment;
    int m_fd = -1;
    SharedState* m_state = nullptr;
};

} // namespace qarn::platform
