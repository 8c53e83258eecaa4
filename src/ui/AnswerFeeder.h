#pragma once

#include "net/CMsgQueue.h"
#include "protocol/AnswerIntake.h"
#include "protocol/DeviceList.h"

#include <atomic>
#include <chrono>
#include <functional>

#include <QObject>

namespace qarn {

// Feeds the datagrams that the endpoint queued to the device list on the user-interface thread,
// through the core's AnswerIntake (bounded, listed converters first), in slices: one slice
// applies answers for at most kSlice, then the thread handles input and paints before the next,
// so that a burst of thousands of answers never freezes the window. Each slice is one batch for
// the list's model (`batch(true)` before, `batch(false)` after).
//
// The answer pump, on its own thread, only wakes the feeder (Wake); the list is touched by the
// user-interface thread alone.
class AnswerFeeder : public QObject {
  public:
    // Long enough that the repaint between two slices costs little beside them, short enough
    // that a click waits no longer than a blink.
    static constexpr std::chrono::milliseconds kSlice{15};
    // Datagrams handed to the list between two looks at the clock.
    static constexpr size_t kStep = 32;

    using Batch = std::function<void(bool begin)>;

    // `queue` (the endpoint's output) and `list` must outlive the feeder.
    AnswerFeeder(CMsgQueue& queue, DeviceList& list, Batch batch, QObject* parent = nullptr);

    // Any thread: asks the feeder's thread to come for what is queued; calls made while one such
    // request is pending are merged into it.
    void Wake();
    // One slice; asks for the next when more waits.
    void Drain();
    // Forgets every datagram that was received but not applied (the rows they were for are gone).
    void Clear();
    // From now on nothing is applied any more.
    void Stop();

    // When a slice last applied answers (a firmware update waits for a quiet moment).
    std::chrono::steady_clock::time_point LastAnswerAt() const { return m_lastAnswerAt; }

  private:
    void ScheduleDrain();

    CMsgQueue& m_queue;
    AnswerIntake m_intake;
    Batch m_batch;
    std::atomic<bool> m_wakePending{false};
    bool m_drainScheduled = false;
    bool m_stopped = false;
    std::chrono::steady_clock::time_point m_lastAnswerAt;
};

} // namespace qarn
