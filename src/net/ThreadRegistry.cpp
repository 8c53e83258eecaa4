#include "net/ThreadRegistry.h"

#include <memory>

namespace qarn {

namespace {

struct RegistryState {
    CTimedCriticalSection lock;
    std::unique_ptr<ThreadEntry[]> table; // guarded by lock
    size_t cursor = 0;                    // guarded by lock; index of the last slot handed out
};

// Constant-initialised, so it is usable before and after every dynamic initialiser.
std::atomic<bool> g_shuttingDown{false};

// Created on first use and deliberately never destroyed: a global object that owns a worker may
// stop it from its destructor after this file's statics would have been torn down.
RegistryState& State() {
    static RegistryState* const state = new RegistryState;
    return *state;
}

// Holds the registry lock for one scope, if it could be had within the registry's time-out.
class RegistryLock {
  public:
    explicit RegistryLock(RegistryState& state)
        : m_state(state), m_held(state.lock.Lock(ThreadRegistry::kLockTimeoutMs)) {}
    ~RegistryLock() {
        if (m_held)
            m_state.lock.Unlock();
    }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

    bool Held() const { return m_held; }

  private:
    RegistryState& m_state;
    bool m_held;
};

void CreateTableLocked(RegistryState& state) {
    if (state.table)
        return;
    state.table = std::make_unique<ThreadEntry[]>(ThreadRegistry::kEntryCount);
    state.cursor = 0;
}

} // namespace

bool ThreadRegistry::CreateTable() {
    RegistryState& state = State();
    const RegistryLock lock(state);
    if (!lock.Held())
        return false;
    CreateTableLocked(state);
    return true;
}

ThreadEntry* ThreadRegistry::Allocate(CThreadClass* owner) {
    RegistryState& state = State();
    const RegistryLock lock(state);
    if (!lock.Held())
        return nullptr;
    CreateTableLocked(state);
    // The scan starts on the slot handed out last and wraps from 4095 to 0; the cursor follows it
    // and stays on the slot found (or back where it started when all are taken).
    for (size_t scanned = 0; scanned < kEntryCount; ++scanned) {
        ThreadEntry& entry = state.table[state.cursor];
        // Slots are freed without the lock, but only allocation (under the lock) takes them.
        if (entry.threadId.load(std::memory_order_acquire) == kFreeId) {
            entry.owner.store(owner, std::memory_order_relaxed);
            entry.stopRequested.store(false, std::memory_order_relaxed);
            entry.holders.store(2, std::memory_order_relaxed);
            entry.threadId.store(kReservedId, std::memory_order_release);
            return &entry;
        }
        state.cursor = (state.cursor + 1) % kEntryCount;
    }
    return nullptr;
}

void ThreadRegistry::Release(ThreadEntry& entry) {
    if (entry.holders.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    // Owner first, then the id: once the id reads 0 the slot may be handed out again.
    entry.owner.store(nullptr, std::memory_order_relaxed);
    entry.threadId.store(kFreeId, std::memory_order_release);
}

bool ThreadRegistry::FreeTable() {
    RegistryState& state = State();
    const RegistryLock lock(state);
    if (!lock.Held())
        return false;
    if (!state.table)
        return true;
    for (size_t i = 0; i < kEntryCount; ++i) {
        if (state.table[i].threadId.load(std::memory_order_acquire) != kFreeId)
            return false;
    }
    state.table.reset();
    return true;
}

void ThreadRegistry::SetShutdown(bool shuttingDown) {
    g_shuttingDown.store(shuttingDown, std::memory_order_release);
}

bool ThreadRegistry::IsShuttingDown() {
    return g_shuttingDown.load(std::memory_order_acquire);
}

int32_t ThreadRegistry::CountFreeEntries() {
    RegistryState& state = State();
    const RegistryLock lock(state);
    if (!lock.Held())
        return -1;
    if (!state.table)
        return static_cast<int32_t>(kEntryCount);
    int32_t free = 0;
    for (size_t i = 0; i < kEntryCount; ++i) {
        if (state.table[i].threadId.load(std::memory_order_acquire) == kFreeId)
            ++free;
    }
    return free;
}

CTimedCriticalSection& ThreadRegistry::GetLock() {
    return State().lock;
}

} // namespace qarn
