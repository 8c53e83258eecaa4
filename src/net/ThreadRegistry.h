#pragma once

#include "net/CTimedCriticalSection.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qarn {

class CThreadClass;

// One slot of the process-wide worker table. The worker reads these fields without a lock while
// its owner writes them, hence the atomics.
struct ThreadEntry {
    // 0 free, 1 reserved (handed out, worker not yet running), else the worker's kernel thread id.
    std::atomic<uint32_t> threadId{0};
    // The object whose worker uses the slot; the worker clears it when it leaves.
    std::atomic<CThreadClass*> owner{nullptr};
    // The worker leaves its loop at its next check.
    std::atomic<bool> stopRequested{false};
    // Who still refers to the slot: the owning object (until its StopThread lets go) and the worker
    // (until it returns). The last to let go frees the slot, so a slot is never handed to another
    // object while either side could still write to it: an owner whose worker already left cannot
    // set the stop flag of a stranger, and a worker left behind at shutdown keeps a valid slot.
    std::atomic<uint32_t> holders{0};
};

// The table of running workers: exactly 4096 slots, an allocation cursor, a timed lock around
// allocation and the process-wide shutdown flag. The table is created zero-filled on first need.
// All members are static: there is one registry per process, and it is never destroyed, so that
// objects with static storage may still stop their workers while the process exits.
class ThreadRegistry {
  public:
    static constexpr size_t kEntryCount = 4096;
    static constexpr uint32_t kFreeId = 0;
    static constexpr uint32_t kReservedId = 1;
    static constexpr int32_t kLockTimeoutMs = 200;

    // Creates the table unless it exists (false only when the lock was not acquired in time).
    static bool CreateTable();

    // Hands out the first free slot from the cursor on, reserved, with `owner` set, the stop flag
    // clear and two holders (owner and worker). Null when the lock was not acquired within 200 ms
    // or all 4096 slots are in use.
    static ThreadEntry* Allocate(CThreadClass* owner);

    // One holder lets go; the last one frees the slot (threadId back to 0).
    static void Release(ThreadEntry& entry);

    // Deletes the table. Refused (false) while any slot is in use, since a worker that outlived its
    // owner at shutdown may still touch its slot, or when the lock was not acquired in time.
    static bool FreeTable();

    static void SetShutdown(bool shuttingDown);
    static bool IsShuttingDown();

    // Free slots: 4096 while there is no table; -1 when the lock was not acquired in time.
    static int32_t CountFreeEntries();

    // The allocation lock, for callers that must hold off allocation (tests of the time-out path).
    static CTimedCriticalSection& GetLock();
};

} // namespace qarn
