#pragma once

#include "net/CMsg.h"
#include "platform/Event.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace qarn {

// FIFO of received messages between producer threads (receive workers) and one consumer, unbounded
// unless given a capacity (a queue fed from the network should be: a flood would otherwise grow it
// without end). The queue owns what it holds and deletes leftovers when destroyed. A push may set
// the queue's manual-reset event; the queue never resets it, the consumer does before it drains:
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
    // with the caller. A full queue (see SetCapacity) drops the message instead, counts it and
    // returns false; every other case returns true.
    bool Push(std::unique_ptr<CMsg>&& msg, bool signal);

    // The oldest message, or null at once when the queue is empty or being destroyed.
    std::unique_ptr<CMsg> Pop();
    // Every queued message, oldest first, under one lock.
    std::deque<std::unique_ptr<CMsg>> TakeAll();

    // At most `capacity` messages wait; 0 (the default) means no bound. Messages already queued
    // stay.
    void SetCapacity(size_t capacity);
    // Messages a full queue dropped since the last call.
    uint64_t TakeDroppedCount();

    // Deletes every queued message.
    void Clear();

    void SetName(const std::string& name);
    std::string GetName() const;

    // Set by Push when asked to signal; manual reset, initially not signalled.
    platform::Event& GetEvent() { return m_event; }

  private:
    std::deque<std::unique_ptr<CMsg>> m_messages;
    size_t m_capacity = 0;  // under m_lock
    uint64_t m_dropped = 0; // under m_lock
    platform::Event m_event{platform::ResetMode::Manual};
    std::string m_name;
    mutable std::mutex m_lock; // guards m_messages, m_name and the capacity bookkeeping
    std::atomic<bool> m_valid{false};
};

} // namespace qarn
