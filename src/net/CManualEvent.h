#pragma once

#include "platform/Event.h"

#include <cstdint>

namespace qarn {

// The event a worker stops on. Created non-signalled and, despite the name, with AUTOMATIC reset:
// a satisfied wait consumes the signal. The stop protocol of CThreadClass relies on that: each Set
// by StopThread is taken by exactly one wait of the worker, whether the worker is in its loop or
// already waiting for the stop after its work ended, so nothing is left over for the next start.
//
// When the system refuses the event (out of file descriptors) every operation fails; a worker
// whose stop event failed sees a failed wait and ends.
class CManualEvent {
  public:
    CManualEvent();
    ~CManualEvent();

    CManualEvent(const CManualEvent&) = delete;
    CManualEvent& operator=(const CManualEvent&) = delete;

    bool Set();
    bool Reset();

    // True when the event was signalled within `timeoutMs` (-1: no limit, 0: only a test); the
    // signal is consumed.
    bool Lock(int32_t timeoutMs = platform::Event::kInfinite);

    // Nothing to release for an event; always true.
    bool Unlock() { return true; }

    bool IsValid() const { return m_event.IsValid(); }

    // For waits together with a second object (platform::Event::WaitAny).
    platform::Event& GetEvent() { return m_event; }

  private:
    platform::Event m_event{platform::ResetMode::Auto};
};

} // namespace qarn
