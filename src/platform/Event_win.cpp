#include "platform/Event.h"
#include "platform/Process.h"
#include "platform/WindowsApi.h"

#include <chrono>
#include <string>
#include <thread>

namespace qarn::platform {

// A kernel event object does what the header describes: an auto-reset event wakes one wait and
// is consumed by it, and a wait on two objects reports and consumes only the lowest signalled one.

namespace {

using Clock = std::chrono::steady_clock;

// Keeps an event's waiter count raised for the life of one wait, so that Pulse sees the waiter.
class WaiterCount {
  public:
    explicit WaiterCount(std::atomic<int32_t>* counter) : m_counter(counter) {
        if (m_counter != nullptr)
            m_counter->fetch_add(1, std::memory_order_acq_rel);
    }
    ~WaiterCount() {
        if (m_counter != nullptr)
            m_counter->fetch_sub(1, std::memory_order_acq_rel);
    }
    WaiterCount(const WaiterCount&) = delete;
    WaiterCount& operator=(const WaiterCount&) = delete;

  private:
    std::atomic<int32_t>* m_counter;
};

} // namespace

Event::Event(ResetMode mode) : m_mode(mode) {
    m_handle = CreateEventW(nullptr, mode == ResetMode::Manual ? TRUE : FALSE, FALSE, nullptr);
    if (m_handle == nullptr)
        platform::OutputDebugString("Event::Event: CreateEvent failed: " +
                                    std::to_string(GetLastError()));
}

Event::~Event() {
    if (m_handle != nullptr)
        CloseHandle(m_handle);
}

bool Event::IsValid() const {
    return m_handle != nullptr;
}

bool Event::Set() {
    return m_handle != nullptr && SetEvent(m_handle) != 0;
}

bool Event::Reset() {
    return m_handle != nullptr && ResetEvent(m_handle) != 0;
}

bool Event::Pulse() {
    // Not PulseEvent: the system itself calls that one unreliable (a waiter that is briefly busy
    // with a kernel call misses it). The same approximation as on Linux instead.
    if (m_handle == nullptr)
        return false;
    if (m_waiters.load(std::memory_order_acquire) == 0)
        return true;
    if (!Set())
        return false;
    if (m_mode == ResetMode::Auto)
        return true; // the one waiter that consumes it leaves the event non-signalled
    const auto settle = Clock::now() + std::chrono::milliseconds(kPulseSettleMs);
    while (m_waiters.load(std::memory_order_acquire) > 0 && Clock::now() < settle)
        std::this_thread::yield();
    return Reset();
}

bool Event::TryConsume() {
    return WaitForSingleObject(m_handle, 0) == WAIT_OBJECT_0;
}

WaitResult Event::Wait(int32_t timeoutMs) {
    return WaitAny(*this, nullptr, timeoutMs);
}

WaitResult Event::WaitAny(Event& first, Event* second, int32_t timeoutMs) {
    if (!first.IsValid() || second == &first || (second != nullptr && !second->IsValid()))
        return WaitResult::Failed;
    // A bare test (time-out 0) is not a waiter: a Pulse must not leave a signal behind for it.
    const bool counted = timeoutMs != 0;
    const WaiterCount firstWaiter(counted ? &first.m_waiters : nullptr);
    const WaiterCount secondWaiter(counted && second != nullptr ? &second->m_waiters : nullptr);
    const HANDLE handles[2] = {first.m_handle, second != nullptr ? second->m_handle : nullptr};
    const DWORD count = second != nullptr ? 2 : 1;
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    const DWORD woken = WaitForMultipleObjects(count, handles, FALSE, wait);
    if (woken == WAIT_OBJECT_0)
        return WaitResult::First;
    if (count == 2 && woken == WAIT_OBJECT_0 + 1)
        return WaitResult::Second;
    if (woken == WAIT_TIMEOUT)
        return WaitResult::Timeout;
    return WaitResult::Failed;
}

} // namespace qarn::platform
