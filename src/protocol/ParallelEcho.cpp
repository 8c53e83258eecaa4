#include "protocol/ParallelEcho.h"

namespace qarn {

ParallelEcho::ParallelEcho(IReachability& inner, size_t workers)
    : m_inner(inner), m_workerCount(workers) {}

ParallelEcho::~ParallelEcho() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void ParallelEcho::SetReadyCallback(std::function<void()> ready) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_ready = std::move(ready);
}

bool ParallelEcho::Start(uint32_t address) {
    if (m_workerCount == kInline) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_outstanding.count(address) != 0)
                return true;
            if (m_outstanding.size() >= kMaxOutstanding)
                return false;
        }
        const bool reply = m_inner.Echo(address);
        std::function<void()> ready;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_outstanding.insert(address);
            if (m_results.empty())
                ready = m_ready;
            m_results.push_back({address, reply});
        }
        if (ready)
            ready();
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_outstanding.count(address) != 0)
            return true;
        if (m_outstanding.size() >= kMaxOutstanding)
            return false;
        m_outstanding.insert(address);
        m_queue.push_back(address);
        if (m_workers.empty()) {
            m_workers.reserve(m_workerCount);
            for (size_t i = 0; i < m_workerCount; ++i)
                m_workers.emplace_back([this] { Work(); });
        }
    }
    m_changed.notify_all();
    return true;
}

std::vector<ParallelEcho::Result> ParallelEcho::TakeResults() {
    std::vector<Result> taken;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_results.empty())
        return taken;
    taken.swap(m_results);
    for (const Result& result : taken)
        m_outstanding.erase(result.address);
    return taken;
}

bool ParallelEcho::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, limit, [&] { return m_queue.empty() && m_running == 0; });
}

size_t ParallelEcho::GetOutstandingCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_outstanding.size();
}

void ParallelEcho::Work() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        const uint32_t address = m_queue.front();
        m_queue.pop_front();
        ++m_running;
        lock.unlock();
        const bool reply = m_inner.Echo(address);
        lock.lock();
        --m_running;
        const bool first = m_results.empty();
        m_results.push_back({address, reply});
        if (first && m_ready) {
            // Called without the lock: the callback may look at the clock, post, log.
            const std::function<void()> ready = m_ready;
            lock.unlock();
            ready();
            lock.lock();
        }
        m_changed.notify_all();
    }
}

} // namespace qarn
