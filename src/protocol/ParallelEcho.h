#pragma once

#include "protocol/IReachability.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

namespace qarn {

// Echoes that never hold up the thread that asks for them. An echo to a converter that does not
// answer takes its whole time-out (1 s); done on the thread that owns the device list, every
// answer behind it waited that long, and a flood of new sources stopped the list altogether.
// Here Start only queues the address; one of a pool of workers does the echo with the inner
// IReachability, and the result waits until the owner takes it with TakeResults.
//
// Threads: Start, TakeResults, WaitIdle and the counts belong to one owning thread (the one that
// owns the device list); the workers only call the inner echo and the ready callback.
//
//     ParallelEcho echo(ping);
//     echo.Start(address);                      // returns at once
//     ...
//     for (const ParallelEcho::Result& r : echo.TakeResults()) Apply(r.address, r.reply);
class ParallelEcho {
  public:
    // Echoes running at once. A silent address holds a worker for the echo's time-out, so this
    // many silent converters per second still leave the rest unhindered.
    static constexpr size_t kWorkers = 32;
    // Echoes queued, running or finished but not yet taken, together. A flood of new sources
    // would otherwise queue work without end; what is refused is asked for again later.
    static constexpr size_t kMaxOutstanding = 4096;
    // No workers: Start does the echo itself and keeps the result for TakeResults, for callers
    // that may block and for tests that need one order of events.
    static constexpr size_t kInline = 0;

    struct Result {
        uint32_t address = 0; // network order
        bool reply = false;   // as IReachability::Echo said
    };

    // `inner` does each echo; with workers it must serve several threads at once. It must
    // outlive this object. The workers start with the first Start.
    explicit ParallelEcho(IReachability& inner, size_t workers = kWorkers);
    // Drops what is still queued and waits for the running echoes: at most one echo time-out.
    ~ParallelEcho();
    ParallelEcho(const ParallelEcho&) = delete;
    ParallelEcho& operator=(const ParallelEcho&) = delete;

    // Queues an echo to `address` (network order). True when it is queued, or already
    // outstanding (one result serves both); false when kMaxOutstanding are outstanding.
    bool Start(uint32_t address);

    // The results finished since the last call, oldest first. Never blocks.
    std::vector<Result> TakeResults();

    // Called on a worker when a result is ready and the ones before it have been taken, so at
    // most once per TakeResults. It must not block and must not call into this object or the
    // device list: a window posts a call to its own thread from here. Set it before the first
    // Start.
    void SetReadyCallback(std::function<void()> ready);

    // Waits until nothing is queued or running (results may wait to be taken) or `limit` has
    // passed; true when nothing is.
    bool WaitIdle(std::chrono::milliseconds limit);

    // Queued, running and untaken echoes.
    size_t GetOutstandingCount() const;

  private:
    void Work();

    IReachability& m_inner;
    const size_t m_workerCount;
    std::function<void()> m_ready;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<uint32_t> m_queue;
    std::unordered_set<uint32_t> m_outstanding; // queued, running or in m_results
    std::vector<Result> m_results;
    size_t m_running = 0;
    std::vector<std::thread> m_workers;
    bool m_stopping = false;
};

} // namespace qarn
