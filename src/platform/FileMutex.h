#pragma once

#include <cstdint>
#include <string>

namespace qarn::platform {

// A mutex that the processes of one user share through a lock file, with a timed acquire. The
// lock is an open-file-description lock that the kernel keeps: no lock state lives in memory that
// anyone could write, and a holder that dies lets go with its last descriptor, so the next
// acquirer takes over at once. The file is created with mode 0600 and only a regular file that
// this user owns is ever joined (never through a link, never a FIFO), so another user can neither
// hold the lock nor hand this process an object of theirs.
//
// Like a kernel mutex it also tells whether another process has it open (Open reports
// AlreadyExists): every holder keeps a shared lock on a second byte while it is open.
//
// On Windows the lock is a byte-range lock of LockFileEx, which the system also lets go when the
// holder dies, on a file whose security descriptor admits the current user alone.
//
// Within one process the lock belongs to the open object, not to a thread: callers hand it to one
// thread at a time (the logger's writer queue does) and do not lock it twice.
class FileMutex {
  public:
    enum class OpenResult { Created, AlreadyExists, Failed };
    enum class LockResult { Acquired, Timeout, Failed };

    FileMutex() = default;
    ~FileMutex();
    FileMutex(const FileMutex&) = delete;
    FileMutex& operator=(const FileMutex&) = delete;

    // Opens the lock file at `path`, creating it when missing. Created when no other process
    // has it open, AlreadyExists when one has, Failed (errno) when it cannot be had: a link, not
    // a regular file, a file of another user. Calling it on an open object closes that first.
    OpenResult Open(const std::string& path);

    // Waits at most `timeoutMs` milliseconds for the lock.
    LockResult TimedLock(uint32_t timeoutMs);

    // Lets go of the lock; false (errno) when that failed or the object is not open.
    bool Unlock();

    // Lets go of the lock file; the destructor does this too. False only when the system refused
    // to close the descriptor; the object is closed either way.
    bool Close();

    bool IsOpen() const;

  private:
#ifdef _WIN32
    void* m_file = nullptr; // the lock file's HANDLE, opened for overlapped locks
    void* m_wake = nullptr; // event of the pending overlapped lock request
#else
    int m_fd = -1;
#endif
};

} // namespace qarn::platform
