#include "net/CMsgQueue.h"

#include <utility>

namespace qarn {

CMsgQueue::CMsgQueue() {
    m_valid.store(true, std::memory_order_release);
}

CMsgQueue::~CMsgQueue() {
    // Refuse new messages first, so that nothing is queued behind the final Clear.
    m_valid.store(false, std::memory_order_release);
    Clear();
}

bool CMsgQueue::Push(std::unique_ptr<CMsg>&& msg, bool signal) {
    if (!msg || !m_valid.load(std::memory_order_acquire))
        return true;
    bool full = false;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        full = m_capacity != 0 && m_messages.size() >= m_capacity;
        if (full)
            ++m_dropped;
        else
            m_messages.push_back(std::move(msg));
    }
    if (full) {
        msg.reset(); // deleted outside the lock, as Clear does
        return false;
    }
    // Outside the lock: a consumer woken by the event must not find the lock still held.
    if (signal)
        m_event.Set();
    return true;
}

std::unique_ptr<CMsg> CMsgQueue::Pop() {
    if (!m_valid.load(std::memory_order_acquire))
        return nullptr;
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_messages.empty())
        return nullptr;
    std::unique_ptr<CMsg> front = std::move(m_messages.front());
    m_messages.pop_front();
    return front;
}

std::deque<std::unique_ptr<CMsg>> CMsgQueue::TakeAll() {
    std::deque<std::unique_ptr<CMsg>> all;
    if (!m_valid.load(std::memory_order_acquire))
        return all;
    const std::lock_guard<std::mutex> guard(m_lock);
    all.swap(m_messages);
    return all;
}

void CMsgQueue::SetCapacity(size_t capacity) {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_capacity = capacity;
}

uint64_t CMsgQueue::TakeDroppedCount() {
    const std::lock_guard<std::mutex> guard(m_lock);
    const uint64_t dropped = m_dropped;
    m_dropped = 0;
    return dropped;
}

void CMsgQueue::Clear() {
    std::deque<std::unique_ptr<CMsg>> doomed;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        doomed.swap(m_messages);
    }
    // The messages are deleted here, after the lock is released.
}

void CMsgQueue::SetName(const std::string& name) {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_name = name;
}

std::string CMsgQueue::GetName() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_name;
}

} // namespace qarn
