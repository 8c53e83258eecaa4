#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace qarn {

// Byte messages between the processes of one machine through a named block of POSIX shared
// memory that holds a ring buffer (layout in SharedRing.h). One side creates the block; any number
// of others open it and write into it or read from it. The communication service creates the
// block "qarnCS"; the communication client writes its records into it through CMailslotS.
//
// Access: the block is the creating user's (mode 0600), or, with SetAccessGroup, also its group's
// (0660); nobody else may map it. The opening side joins only a block that belongs to its own user
// or to root, that gives nothing to other users, and whose creator still has it open: a block of
// another user could be rewritten under it at any moment. Whatever a user of the block writes into
// it, the other users neither crash nor overrun their mapping (see SharedRing).
//
// One object is used by one thread at a time for Open and Close; Read and Write of one object may
// come from several threads. Failures are logged and reported as false; nothing throws.
class CSharedQueue {
  public:
    static constexpr uint32_t kDefaultBlockSize = 65536;
    static constexpr uint32_t kMinimumBlockSize = 2048;
    // Larger blocks are refused on both sides, so that a block cannot make a process map without
    // end.
    static constexpr uint32_t kMaximumBlockSize = 64u * 1024 * 1024;
    // How long a reader or writer waits for the block's lock word before it gives up. The lock is
    // held for one copy of at most one message, microseconds; a holder that stays longer has died
    // or is hostile, and an unbounded wait would hang every user of the queue.
    static constexpr int kLockLimitMs = 2000;

    CSharedQueue();
    virtual ~CSharedQueue();

    CSharedQueue(const CSharedQueue&) = delete;
    CSharedQueue& operator=(const CSharedQueue&) = delete;

    // Creates (creator) or opens the block "Global\" + id. The creating side's block size is
    // blockSize, 65536 when 0, at least 2048 and rounded up to a multiple of 4; the ring holds the
    // size less 24 bytes. False when already open, or (logged) when the block cannot be made or
    // joined; a block without the magic fails without a log line.
    virtual bool Open(bool creator, const std::string& id, uint32_t blockSize);

    // Unmaps and lets go of the block. The creating side also marks the block as no longer a queue
    // and removes its name, so that openers find it gone.
    virtual void Close();

    // Takes the oldest message into `out`; `out` empty and true when none waits, or when the ring
    // did not add up (logged; the ring is emptied and goes on working). False when closed or the
    // lock could not be had.
    virtual bool Read(std::vector<uint8_t>& out);

    // Appends one message. True also when the message did not fit and was discarded (logged at
    // debug level), and for an empty message, which writes nothing. False when closed or the lock
    // could not be had.
    virtual bool Write(std::span<const uint8_t> bytes);
    bool Write(const std::vector<uint8_t>& bytes) { return Write(std::span<const uint8_t>(bytes)); }

    // The block is mapped and still carries the magic.
    bool IsOpen() const;

    // Before a creating Open: the group whose members may use the block besides its owner.
    void SetAccessGroup(std::optional<gid_t> group) { m_group = group; }

    const std::string& GetQueueName() const { return m_name; }
    uint32_t GetCapacity() const { return m_capacity; }

    // The shared-memory object that stands for a queue name of the user `owner`: ("Global\qarnCS",
    // 1000) -> "/qarn-queue-1000-Global\qarnCS"; '/', '%' and control bytes are escaped, long names
    // hashed. The owner is part of the name so that one user's queue never stands in the way of
    // another's; an opener looks for its own user's queue first, then root's.
    static std::string SegmentName(std::string_view name, uid_t owner);
    static std::string SegmentName(std::string_view name);

    // Why the last Open failed, in words, when it was more than the system error: the object that
    // stands in the queue's place and who owns it. Empty otherwise.
    const std::string& GetProblem() const { return m_problem; }

  private:
    bool OpenCreating(uint32_t blockSize);
    bool OpenJoining();
    int CreateSegment(const std::string& segment);
    bool MapBlock(int fd, size_t size);
    bool TakeLock();
    void ReleaseLock();
    bool HolderGone(uint32_t token) const;
    void LogOpenError(const char* call) const;

    int m_mapping = -1;          // the creator keeps its descriptor (and the lock that marks it)
    uint8_t* m_view = nullptr;   // start of the mapped block
    uint8_t* m_header = nullptr; // equals m_view when open
    uint8_t* m_data = nullptr;   // m_view + 24: the ring
    uint32_t m_lockToken = 0;    // the opening thread's id, the lock word's value while we hold it
    bool m_creator = false;
    std::string m_name;    // "Global\" + id
    std::string m_segment; // the shared-memory object's name
    size_t m_mappedSize = 0;
    uint32_t m_capacity = 0; // learned at Open; never re-read from the block
    std::optional<gid_t> m_group;
    std::string m_problem;
    std::atomic<bool> m_open{false};
};

} // namespace qarn
