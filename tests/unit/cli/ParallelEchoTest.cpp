#include "cli/ParallelEcho.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

// Odd addresses answer. Echoes of addresses in `m_gathered` wait until all of them run at once
// (or give up after 10 s), which only happens when they are done side by side.
class FakeEcho : public IReachability {
  public:
    explicit FakeEcho(size_t gathered = 0) : m_gathered(gathered) {}

    bool Echo(uint32_t address) override {
        std::unique_lock<std::mutex> lock(m_lock);
        ++m_calls[address];
        m_threads[address] = std::this_thread::get_id();
        m_changed.notify_all();
        if (address <= m_gathered) {
            ++m_running;
            m_changed.notify_all();
            if (!m_changed.wait_for(lock, std::chrono::seconds(10),
                                    [&] { return m_running == m_gathered; }))
                m_allAtOnce = false;
        }
        return address % 2 == 1;
    }

    int Calls(uint32_t address) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_calls[address];
    }
    std::thread::id Thread(uint32_t address) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_threads[address];
    }
    // Waits (at most 10 s) until `count` echoes have started.
    void AwaitStarted(int count) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] {
            int started = 0;
            for (const auto& [address, calls] : m_calls)
                started += calls;
            return started >= count;
        });
    }
    bool AllAtOnce() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_allAtOnce;
    }

  private:
    const size_t m_gathered;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<uint32_t, int> m_calls;
    std::map<uint32_t, std::thread::id> m_threads;
    size_t m_running = 0;
    bool m_allAtOnce = true;
};

TEST(ParallelEchoTest, PrefetchedEchoesRunSideBySideAndEachAnswersOnce) {
    FakeEcho inner(4);
    ParallelEcho echo(inner);
    for (uint32_t address = 1; address <= 4; ++address) {
        echo.Prefetch(address);
        echo.Prefetch(address); // a second datagram from the same converter
    }
    // An echo still queued when the list asks would be done by the caller instead.
    inner.AwaitStarted(4);
    for (uint32_t address = 1; address <= 4; ++address) {
        SCOPED_TRACE(address);
        EXPECT_EQ(echo.Echo(address), address % 2 == 1);
        EXPECT_EQ(inner.Calls(address), 1);
        EXPECT_NE(inner.Thread(address), std::this_thread::get_id());
    }
    EXPECT_TRUE(inner.AllAtOnce()) << "the four echoes ran one after another";
}

TEST(ParallelEchoTest, AddressNotPrefetchedIsEchoedByTheCaller) {
    FakeEcho inner;
    ParallelEcho echo(inner);
    EXPECT_TRUE(echo.Echo(7));
    EXPECT_EQ(inner.Thread(7), std::this_thread::get_id());

    // A result is collected once: the next row for the same address asks again.
    echo.Prefetch(9);
    EXPECT_TRUE(echo.Echo(9));
    EXPECT_TRUE(echo.Echo(9));
    EXPECT_EQ(inner.Calls(9), 2);
}

} // namespace
} // namespace qarn::cli
