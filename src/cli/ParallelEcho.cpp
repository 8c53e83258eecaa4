#include "cli/ParallelEcho.h"

namespace qarn::cli {

ParallelEcho::ParallelEcho(IReachability& inner) : m_inner(inner) {}

ParallelEcho::~ParallelEcho() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    // Each worker ends after its current echo, within one echo time-out.
    for (std::thread& worker : m_workers)
        worker.join();
}

void ParallelEcho::Prefetch(uint32_t address) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto found = m_entries.find(address);
        if (found != m_entries.end()) {
            const Entry& entry = found->second;
            const bool stale = entry.state == State::Done &&
                               std::chrono::steady_clock::now() - entry.finished > kResultLifetime;
            if (!stale)
                return;
        }
        m_entries[address] = Entry{};
        m_queue.push_back(address);
        if (m_workers.empty()) {
            for (size_t i = 0; i < kWorkers; ++i)
                m_workers.emplace_back([this] { Work(); });
        }
    }
    m_changed.notify_all();
}

bool ParallelEcho::Echo(uint32_t address) {
    std::unique_lock<std::mutex> lock(m_lock);
    auto found = m_entries.find(address);
    if (found == m_entries.end() || found->second.state == State::Queued) {
        if (found != m_entries.end())
            m_entries.erase(found); // its queue slot is skipped by the workers
        lock.unlock();
        return m_inner.Echo(address);
    }
    m_changed.wait(lock, [&] {
        found = m_entries.find(address);
        return found == m_entries.end() || found->second.state == State::Done;
    });
    if (found == m_entries.end()) {
        lock.unlock();
        return m_inner.Echo(address);
    }
    const Entry entry = found->second;
    m_entries.erase(found);
    lock.unlock();
    if (std::chrono::steady_clock::now() - entry.finished > kResultLifetime)
        return m_inner.Echo(address);
    return entry.reply;
}

void ParallelEcho::Work() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        const uint32_t address = m_queue.front();
        m_queue.pop_front();
        auto found = m_entries.find(address);
        if (found == m_entries.end() || found->second.state != State::Queued)
            continue;
        found->second.state = State::Running;
        lock.unlock();
        const bool reply = m_inner.Echo(address);
        lock.lock();
        // Only Echo removes an entry, and it waits while the echo runs: the entry is still here.
        found = m_entries.find(address);
        if (found != m_entries.end()) {
            found->second.state = State::Done;
            found->second.reply = reply;
            found->second.finished = std::chrono::steady_clock::now();
        }
        m_changed.notify_all();
    }
}

} // namespace qarn::cli
