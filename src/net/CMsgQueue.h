#pragma once

#include "net/CMsg.h"
#include "platform/Event.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace qarn {

// Unbounded FIFO of received messages between producer threads (receive workers) and one consumer.
// The queue owns what it holds and deletes leftovers when destroyed. A push may set the queue's
// manual-reset event; the queue never resets it, the consumer does before it drains:
//
//     queue.GetEvent().Wait(50);
//     queue.GetEvent().Reset();
//     while (auto msg = queue.Pop()) Handle(*msg);
class CMsgQueue {
  public:
    CMsgQueue();
    virtual ~CMsgQueue();

    CMsgQueue(const CMsgQueue&) = delete;
    CMsgQueue& operator=(const CMsgQueue&) = delete;

    // Appends `msg` and then, when `signal` is true, sets the event. Takes the message over (moves
    // from `msg`) only when it queues it: a null message or a queue being destroyed leaves `msg`
    // with the caller. Returns true in every case.
    bool Push(std::unique_ptr<CMsg>&& msg, bool signal);

    // The oldest message, or null at once when the queue is empty or being destroyed.
    std::unique_ptr<CMsg> Pop();

    // Deletes every queued message.
    void Clear();

    void SetName(const std::string& name);
    std::string GetName() const;

    // Set by Push when asked to signal; manual reset, initially not signalled.
    platform::Event& GetEvent() { return m_event; }

  private:
    std::deque<std::unique_ptr<CMsg>> m_messages;
    platform::Event m_event{platform::ResetMode::Manual};
    std::string m_name;
    mutable std::mutex m_lock; // guards m_messages and m_name
    std::atomic<bool> m_valid{false};
};

} // namespace qarn
