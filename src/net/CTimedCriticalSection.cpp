#include "net/CTimedCriticalSection.h"

#include <thread>

namespace qarn {

CTimedCriticalSection::CTimedCriticalSection() = default;

CTimedCriticalSection::~CTimedCriticalSection() = default;

bool CTimedCriticalSection::TryTake() {
    int32_t expected = 0;
    return m_lockWord.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                              std::memory_order_relaxed);
}

bool CTimedCriticalSection::Lock(int32_t timeoutMs) {
    if (TryTake())
        return true;
    const bool noLimit = timeoutMs == kNoLimit;
    int32_t remainingMs = timeoutMs;
    for (;;) {
        // "<= 0" rather than "== 0": with a time-out that is not a multiple of the step the
        // remaining time jumps below zero, and a waiter that keeps being woken by other threads'
        // Unlock (without winning the lock) must still give up once its time is spent.
        if (!noLimit && remainingMs <= 0)
            return false;
        m_waiters.fetch_add(1, std::memory_order_acq_rel);
        const platform::WaitResult woke = m_wakeUp.Wait(kWaitStepMs);
        m_waiters.fetch_sub(1, std::memory_order_acq_rel);
        if (!noLimit)
            remainingMs -= kWaitStepMs;
        const bool retry = woke == platform::WaitResult::First ||
                           (woke == platform::WaitResult::Timeout && (noLimit || remainingMs >= 0));
        if (!retry)
            return false;
        if (TryTake())
            return true;
    }
}

void CTimedCriticalSection::Unlock() {
    m_lockWord.exchange(0, std::memory_order_release);
    if (m_waiters.load(std::memory_order_acquire) == 0)
        return;
    m_wakeUp.Pulse();
    // The processor goes to the woken waiter only when there is one. A receive worker unlocks
    // once per datagram: yielding every time handed its processor to whatever else was ready
    // (a build, the window), and a burst of answers overflowed the socket meanwhile.
    std::this_thread::yield();
}

} // namespace qarn
