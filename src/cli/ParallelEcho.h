#pragma once

#include "protocol/IReachability.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qarn::cli {

// The device list asks once for every new converter whether it answers echo, and waits for the
// answer on the thread that owns the list: a converter that does not answer holds up every answer
// behind it for the echo's whole time-out (1 s), so five such converters in a fleet cost five
// seconds of discovery. This echo lets the loop start the echoes of converters it is about to
// list as soon as their datagrams arrive, several at a time on workers, and hands each result to
// the list when it asks; the list still asks once per new row, in the order of the datagrams.
//
// Prefetch is called by the loop's thread; Echo by the same thread (the list's). An address that
// was not prefetched, or whose result is older than kResultLifetime, is echoed there and then.
class ParallelEcho : public IReachability {
  public:
    static constexpr size_t kWorkers = 32;
    static constexpr std::chrono::seconds kResultLifetime{5};

    // `inner` does each echo; it must serve several threads at once and outlive this object.
    explicit ParallelEcho(IReachability& inner);
    ~ParallelEcho() override;
    ParallelEcho(const ParallelEcho&) = delete;
    ParallelEcho& operator=(const ParallelEcho&) = delete;

    // Starts an echo to `address` on a worker, unless one is queued, running or waiting for
    // collection.
    void Prefetch(uint32_t address);

    // The prefetched result for `address`, waiting for a running echo to end; an echo that has not
    // started yet is done here at once instead, and so is one that was never prefetched.
    bool Echo(uint32_t address) override;

  private:
    enum class State { Queued, Running, Done };
    struct Entry {
        State state = State::Queued;
        bool reply = false;
        std::chrono::steady_clock::time_point finished;
    };

    void Work();

    IReachability& m_inner;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<uint32_t> m_queue; // may hold addresses whose entry went: workers skip those
    std::unordered_map<uint32_t, Entry> m_entries;
    std::vector<std::thread> m_workers; // started with the first Prefetch
    bool m_stopping = false;
};

} // namespace qarn::cli
