#pragma once

#include "platform/Event.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace qarn {

// A lock with a timed acquire. Waiters sleep on a wake-up event in steps of 50 ms and re-try the
// lock word after each step; Unlock pulses the event when someone waits, so a waiter usually gets
// the lock at once instead of at the end of its step.
//
// Every step counts 50 ms whether it was woken or timed out: Lock(200) makes at most five attempts
// over at most four waits, Lock(70) at most three over two.
//
// Not re-entrant: a thread that calls Lock twice without Unlock waits until its time-out.
class CTimedCriticalSection {
  public:
    static constexpr int32_t kNoLimit = -1;
    static constexpr int32_t kWaitStepMs = 50;

    CTimedCriticalSection();
    virtual ~CTimedCriticalSection();

    CTimedCriticalSection(const CTimedCriticalSection&) = delete;
    CTimedCriticalSection& operator=(const CTimedCriticalSection&) = delete;

    // True when the lock was taken within `timeoutMs`: -1 waits without limit, 0 tries once. Any
    // other negative value tries once as well.
    bool Lock(int32_t timeoutMs);

    // Releases the lock taken by Lock; wakes one waiter.
    void Unlock();

    void SetName(const std::string& name) { m_name = name; }
    const std::string& GetName() const { return m_name; }

  private:
    bool TryTake();

    std::string m_name;
    std::atomic<int32_t> m_lockWord{0}; // 0 free, 1 taken
    std::atomic<int32_t> m_waiters{0};
    platform::Event m_wakeUp{platform::ResetMode::Auto};
};

} // namespace qarn
