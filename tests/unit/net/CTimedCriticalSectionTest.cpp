#include "net/CTimedCriticalSection.h"

#include "platform/Event.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Holds `lock` on a thread of its own for `holdMs`, counted from the end of the constructor.
class Holder {
  public:
    Holder(CTimedCriticalSection& lock, int holdMs) {
        m_thread = std::thread([this, &lock, holdMs] {
            lock.Lock(CTimedCriticalSection::kNoLimit);
            m_taken.Set();
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            lock.Unlock();
        });
        m_taken.Wait(5000);
    }
    ~Holder() { m_thread.join(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

  private:
    platform::Event m_taken{platform::ResetMode::Manual};
    std::thread m_thread;
};

TEST(CTimedCriticalSectionTest, LockIsExclusiveAndNotReentrant) {
    CTimedCriticalSection lock;
    ASSERT_TRUE(lock.Lock(0));
    EXPECT_FALSE(lock.Lock(0)) << "the holder itself must not get it twice";
    EXPECT_FALSE(lock.Lock(-7)) << "a negative time-out other than -1 is one try";
    lock.Unlock();
    EXPECT_TRUE(lock.Lock(0));
    lock.Unlock();
}

TEST(CTimedCriticalSectionTest, OneTryOnATakenLockDoesNotWait) {
    CTimedCriticalSection lock;
    Holder holder(lock, 300);
    // The fastest of a few tries: a single slow one on a busy machine is not a wait step.
    int64_t fastest = INT64_MAX;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        EXPECT_FALSE(lock.Lock(0));
        fastest = std::min(fastest, MsSince(start));
    }
    EXPECT_LT(fastest, CTimedCriticalSection::kWaitStepMs);
}

TEST(CTimedCriticalSectionTest, TimedAcquireAgainstAHeldLock) {
    struct Row {
        const char* name;
        int32_t timeoutMs;
        int holdMs;
        bool acquired;
        int64_t minMs;
        int64_t maxMs;
    };
    const Row rows[] = {
        {"gives up after its time-out", 200, 1000, false, 150, 900},
        {"a partial step still waits it out", 70, 1000, false, 60, 900},
        {"takes the lock freed within its time-out", 1000, 150, true, 100, 900},
        {"without limit returns only when freed", CTimedCriticalSection::kNoLimit, 600, true, 550,
         5000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CTimedCriticalSection lock;
        Holder holder(lock, row.holdMs);
        const auto start = Clock::now();
        const bool acquired = lock.Lock(row.timeoutMs);
        const int64_t waited = MsSince(start);
        EXPECT_EQ(acquired, row.acquired);
        EXPECT_GE(waited, row.minMs);
        EXPECT_LT(waited, row.maxMs);
        if (acquired)
            lock.Unlock();
    }
}

// Plain, unsynchronised data guarded only by the lock: a wrong count, or a report from the thread
// sanitizer, shows a hole in the exclusion or in its memory ordering.
TEST(CTimedCriticalSectionTest, GuardsSharedDataUnderContention) {
    CTimedCriticalSection lock;
    int64_t counter = 0;
    constexpr int kThreads = 4;
    constexpr int kRounds = 3000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                // Half the threads use a bounded wait and retry, as the transports do.
                while (!lock.Lock(t % 2 == 0 ? CTimedCriticalSection::kNoLimit : 300)) {
                }
                const int64_t seen = counter;
                counter = seen + 1;
                lock.Unlock();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, int64_t{kThreads} * kRounds);
}

} // namespace
} // namespace qarn
