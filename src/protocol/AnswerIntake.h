#pragma once

#include "net/CMsg.h"
#include "net/CMsgQueue.h"
#include "protocol/ConverterAnswer.h"
#include "protocol/DeviceList.h"
#include "protocol/WaitingAnswers.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace qarn {

// The way from the endpoint's queue into the device list, on the thread that owns the list. A
// flood of datagrams, most from new (spoofed) sources, must neither delay the converters already
// listed nor grow memory without end. Each Pump takes everything the receive worker queued, drops
// what can never be an answer, and lets the rest wait in two bounded lines (WaitingAnswers) by
// whether the source has a row; the list then gets the listed sources' datagrams first, the new
// sources' after them. A source that waits among the new ones keeps its datagrams there until
// they are handed on, so that its answers reach the list in the order they came. Drops are
// counted into the list (DeviceList::LogDrops reports them once per cycle).
//
//     CMsgQueue queue;                       // the endpoint's output
//     DeviceList list(ping);
//     AnswerIntake intake(queue, list);      // bounds the queue
//     // on the owning thread, whenever the queue may hold something (the main loop, a timer,
//     // a call the answer pump posted):
//     while (intake.Pump(AnswerIntake::kPumpBudget) != 0) {}   // or one budget per event
class AnswerIntake {
  public:
    // Datagrams the receive worker may queue before it drops; a pass of the owner takes them all.
    static constexpr size_t kQueueCapacity = 16384;
    // Sources that may wait with datagrams for the list: every listed one, and of those without
    // a row as many as a large fleet brings at its first request (each of ten thousand
    // converters answers within the same second). A flood of new sources is dropped at the
    // second bound and never delays the first.
    static constexpr size_t kMaxKnownWaitingSources = DeviceList::kMaxRows;
    static constexpr size_t kMaxNewWaitingSources = 16384;
    // Bytes each line may hold (WaitingAnswers::CostOf). A converter's answers to a request cost
    // some 260 bytes as one configuration answer, some 1,200 as four blocks: 10,000 converters
    // of the second kind need 12 MiB. A flood of the largest datagrams stops at it.
    static constexpr size_t kMaxWaitingBytes = size_t{16} << 20;
    // Datagrams one Pump call hands on at most: a window keeps its UI thread responsive by
    // pumping in such slices.
    static constexpr size_t kPumpBudget = 512;

    // Called for each datagram handled, after the list took it (or after it was dropped as no
    // answer, without the list): the datagram and what became of it.
    using Hook = std::function<void(const CMsg& msg, AnswerDisposition disposition)>;

    // Both must outlive the intake. Gives `queue` the capacity kQueueCapacity.
    AnswerIntake(CMsgQueue& queue, DeviceList& list);
    AnswerIntake(const AnswerIntake&) = delete;
    AnswerIntake& operator=(const AnswerIntake&) = delete;

    // Takes what is queued, then hands up to `budget` waiting datagrams to the list, those of
    // listed sources first, each line in the order of arrival. Returns how many it handled
    // (those dropped as no answer included); 0 when nothing waits.
    size_t Pump(size_t budget, const Hook& hook = {});

    // Datagrams waiting for the list.
    size_t GetWaitingCount() const { return m_known.GetCount() + m_new.GetCount(); }
    // Datagrams that took the place of a waiting one of their source and kind: not lost, the
    // list would have overwritten what the earlier one gave.
    uint64_t GetReplacedCount() const {
        return m_known.GetReplacedCount() + m_new.GetReplacedCount();
    }
    // Drops what waits (the list was emptied and the endpoint reopened).
    void Clear();

  private:
    void TakeQueued(size_t& handled, const Hook& hook);

    CMsgQueue& m_queue;
    DeviceList& m_list;
    WaitingAnswers m_known{kMaxKnownWaitingSources, kMaxWaitingBytes};
    WaitingAnswers m_new{kMaxNewWaitingSources, kMaxWaitingBytes};
};

} // namespace qarn
