#include "protocol/ParallelEcho.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using namespace std::chrono_literals;

// Odd addresses answer. First echoes of addresses up to `gathered` wait until all of them run at
// once (or give up after 10 s), which only happens when they are done side by side; with `gated`,
// every echo waits until Open().
class FakeEcho : public IReachability {
  public:
    explicit FakeEcho(size_t gathered = 0, bool gated = false)
        : m_gathered(gathered), m_gated(gated) {}

    bool Echo(uint32_t address) override {
        std::unique_lock<std::mutex> lock(m_lock);
        ++m_calls[address];
        m_threads[address] = std::this_thread::get_id();
        if (address <= m_gathered && m_calls[address] == 1) {
            ++m_running;
            m_changed.notify_all();
            if (!m_changed.wait_for(lock, 10s, [&] { return m_running == m_gathered; }))
                m_allAtOnce = false;
        }
        m_changed.wait_for(lock, 10s, [&] { return !m_gated; });
        return address % 2 == 1;
    }

    void Open() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_gated = false;
        m_changed.notify_all();
    }
    int Calls(uint32_t address) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_calls[address];
    }
    std::thread::id Thread(uint32_t address) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_threads[address];
    }
    bool AllAtOnce() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_allAtOnce;
    }

  private:
    const size_t m_gathered;
    bool m_gated;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<uint32_t, int> m_calls;
    std::map<uint32_t, std::thread::id> m_threads;
    size_t m_running = 0;
    bool m_allAtOnce = true;
};

std::map<uint32_t, bool> Collected(ParallelEcho& echo) {
    std::map<uint32_t, bool> results;
    for (const ParallelEcho::Result& result : echo.TakeResults())
        results[result.address] = result.reply;
    return results;
}

TEST(ParallelEchoTest, EchoesRunSideBySideOffTheCallerAndEachAnswersOnce) {
    FakeEcho inner(4);
    ParallelEcho echo(inner);
    std::atomic<int> readyCalls{0};
    echo.SetReadyCallback([&] { ++readyCalls; });
    for (uint32_t address = 1; address <= 4; ++address) {
        EXPECT_TRUE(echo.Start(address));
        EXPECT_TRUE(echo.Start(address)); // a second datagram from the same converter
    }
    ASSERT_TRUE(echo.WaitIdle(20s));
    EXPECT_TRUE(inner.AllAtOnce()) << "the four echoes ran one after another";
    EXPECT_GE(readyCalls.load(), 1);
    EXPECT_EQ(Collected(echo),
              (std::map<uint32_t, bool>{{1, true}, {2, false}, {3, true}, {4, false}}));
    for (uint32_t address = 1; address <= 4; ++address) {
        SCOPED_TRACE(address);
        EXPECT_EQ(inner.Calls(address), 1);
        EXPECT_NE(inner.Thread(address), std::this_thread::get_id());
    }
    EXPECT_TRUE(echo.TakeResults().empty()) << "a result is taken once";
    EXPECT_EQ(echo.GetOutstandingCount(), 0u);

    // Taken results free the address: the next row for it asks again.
    EXPECT_TRUE(echo.Start(3));
    ASSERT_TRUE(echo.WaitIdle(10s));
    EXPECT_EQ(Collected(echo), (std::map<uint32_t, bool>{{3, true}}));
    EXPECT_EQ(inner.Calls(3), 2);
}

TEST(ParallelEchoTest, OutstandingEchoesAreBoundedUntilTheirResultsAreTaken) {
    FakeEcho inner(0, true);
    ParallelEcho echo(inner);
    for (uint32_t address = 1; address <= ParallelEcho::kMaxOutstanding; ++address)
        ASSERT_TRUE(echo.Start(address)) << address;
    EXPECT_FALSE(echo.Start(ParallelEcho::kMaxOutstanding + 1));
    EXPECT_TRUE(echo.Start(7)) << "an outstanding address is no new work";
    EXPECT_FALSE(echo.WaitIdle(10ms)) << "the workers are held";
    inner.Open();
    ASSERT_TRUE(echo.WaitIdle(20s));
    EXPECT_EQ(echo.GetOutstandingCount(), ParallelEcho::kMaxOutstanding)
        << "finished but untaken results count";
    EXPECT_FALSE(echo.Start(ParallelEcho::kMaxOutstanding + 1));
    EXPECT_EQ(echo.TakeResults().size(), ParallelEcho::kMaxOutstanding);
    EXPECT_TRUE(echo.Start(ParallelEcho::kMaxOutstanding + 1));
}

TEST(ParallelEchoTest, InlineEchoRunsOnTheCallerAndWaitsForTheTaking) {
    FakeEcho inner;
    ParallelEcho echo(inner, ParallelEcho::kInline);
    int readyCalls = 0;
    echo.SetReadyCallback([&] { ++readyCalls; });
    EXPECT_TRUE(echo.Start(7));
    EXPECT_TRUE(echo.Start(8));
    EXPECT_EQ(inner.Thread(7), std::this_thread::get_id());
    EXPECT_EQ(readyCalls, 1) << "once until the results are taken";
    EXPECT_TRUE(echo.WaitIdle(0ms));
    EXPECT_EQ(Collected(echo), (std::map<uint32_t, bool>{{7, true}, {8, false}}));
}

// Destroying the pool while echoes are queued and running neither hangs nor leaves a worker
// touching the pool (the thread sanitizer watches this one).
TEST(ParallelEchoTest, DestructionWithEchoesUnderWay) {
    FakeEcho inner(0, true);
    std::thread opener;
    {
        ParallelEcho echo(inner);
        for (uint32_t address = 1; address <= 100; ++address)
            echo.Start(address);
        opener = std::thread([&] {
            std::this_thread::sleep_for(200ms);
            inner.Open();
        });
    }
    opener.join();
    EXPECT_EQ(inner.Calls(100), 0) << "queued echoes are dropped, not done";
}

} // namespace
} // namespace qarn
