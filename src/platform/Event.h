#pragma once

#include <atomic>
#include <cstdint>

namespace qarn::platform {

// Whether a satisfied wait clears the event (Auto) or the event stays signalled until Reset
// (Manual).
enum class ResetMode { Auto, Manual };

// Outcome of a wait on one event or on two. Wait on one event answers First, Timeout or Failed.
enum class WaitResult { First, Second, Timeout, Failed };

// An event object that threads wait on, alone or together with a second event, with a time-out in
// milliseconds (kInfinite, or any negative value, waits without limit).
//
// Auto reset: a satisfied wait consumes the signal, so one Set wakes exactly one wait however many
// threads wait, also when the wait is on two events. Sets that arrive before any wait consumes them
// merge into one signal: Set, Set, Wait, Wait(0) -> First, Timeout.
// Manual reset: the event stays signalled until Reset and every wait sees it.
//
// A Set gives the thread whose wait it satisfies a happens-before edge, also under the thread
// sanitizer.
class Event {
  public:
    static constexpr int32_t kInfinite = -1;

    explicit Event(ResetMode mode);
    ~Event();

    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False when the kernel refused the event (out of file descriptors); every operation then
    // fails and waits answer Failed.
    bool IsValid() const;
    bool IsManualReset() const { return m_mode == ResetMode::Manual; }

    bool Set();
    bool Reset();

    // Wakes the threads that wait right now (auto reset: one of them; manual reset: all of them)
    // and leaves the event non-signalled; without a waiter it does nothing.
    //
    // This is an approximation: the event is set only while the waiter count is above zero. A
    // waiter that gives up on its time-out between that check and the Set leaves one signal
    // behind, which the next wait takes as a spurious wake-up. Users of Pulse must re-check their
    // own condition after every wake-up (the timed lock re-tests its lock word). With manual reset
    // the event is reset again once the counted waiters have left, or after at most
    // kPulseSettleMs; a thread that starts to wait inside that window is woken too.
    bool Pulse();

    // First when signalled (consumed if auto reset), Timeout or Failed. Wait(0) only tests.
    WaitResult Wait(int32_t timeoutMs);

    // Waits until `first` or, when given, `second` is signalled. When both are signalled the first
    // wins and only it is consumed. `second` may be null; it must not be `first`.
    static WaitResult WaitAny(Event& first, Event* second, int32_t timeoutMs);

#ifndef _WIN32
    // The descriptor that becomes readable while the event is signalled, for callers that poll it
    // together with their own descriptors (a socket). Never read from it or close it: claim the
    // signal with Wait(0) once poll reports it readable.
    int FileDescriptor() const {
        return m_fd;
    }
#endif

    // Threads inside a timed or unlimited wait on this event right now (diagnostics, tests).
    int32_t GetWaiterCount() const {
        return m_waiters.load(std::memory_order_acquire);
    }

    static constexpr int kPulseSettleMs = 50;

  private:
    // Claims the signal seen by poll: auto reset reads the counter to zero and succeeds only for
    // the one thread whose read found it above zero; manual reset only re-checks it.
    bool TryConsume();

#ifdef _WIN32
    void* m_handle = nullptr; // the kernel event object (HANDLE); null when refused
#else
    int m_fd = -1;
#endif
    ResetMode m_mode;
    std::atomic<int32_t> m_waiters{0};
};

} // namespace qarn::platform
