#pragma once

#include "net/CMsg.h"
#include "net/CMsgQueue.h"
#include "protocol/ConverterAnswer.h"
#include "protocol/DeviceList.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

namespace qarn {

// The way from the endpoint's queue into the device list, on the thread that owns the list. A
// flood of datagrams, most from new (spoofed) sources, must neither delay the converters already
// listed nor grow memory without end. Each Pump takes everything the receive worker queued, drops
// what can never be an answer, and lets the rest wait in two bounded lines by whether the source
// has a row; the list then gets the listed sources' datagrams first, the new sources' after them.
// Drops are counted into the list (DeviceList::LogDrops reports them once per cycle).
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
    // Datagrams that may wait from listed sources, and from sources without a row. A real segment
    // sends a few per converter and cycle; a flood of new sources is dropped at the second bound
    // and never delays the first.
    static constexpr size_t kMaxKnownWaiting = 16384;
    static constexpr size_t kMaxNewWaiting = 4096;
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
    size_t GetWaitingCount() const { return m_known.size() + m_new.size(); }
    // Drops what waits (the list was emptied and the endpoint reopened).
    void Clear();

  private:
    void TakeQueued(size_t& handled, const Hook& hook);

    CMsgQueue& m_queue;
    DeviceList& m_list;
    std::deque<std::unique_ptr<CMsg>> m_known;
    std::deque<std::unique_ptr<CMsg>> m_new;
};

} // namespace qarn
