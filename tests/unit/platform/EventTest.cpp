#include "platform/Event.h"

#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Spins (politely) until `done` holds or five seconds pass; the bound keeps a broken event from
// hanging the test run.
template <typename Predicate>
bool Eventually(Predicate done) {
    const auto limit = Clock::now() + 5s;
    while (!done()) {
        if (Clock::now() > limit)
            return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

TEST(EventTest, AutoResetSetWakesExactlyOneOfSeveralWaiters) {
    Event event(ResetMode::Auto);
    std::atomic<bool> stop{false};
    std::atomic<int> wakes{0};
    std::vector<std::thread> waiters;
    for (int t = 0; t < 4; ++t) {
        waiters.emplace_back([&] {
            while (!stop.load()) {
                if (event.Wait(20) == WaitResult::First)
                    wakes.fetch_add(1);
            }
        });
    }
    constexpr int kSets = 200;
    for (int k = 0; k < kSets; ++k) {
        ASSERT_TRUE(event.Set());
        // Wait for the consumption so that the next Set cannot merge with this one.
        ASSERT_TRUE(Eventually([&] { return wakes.load() >= k + 1; })) << "set " << k;
    }
    std::this_thread::sleep_for(60ms); // room for a second, wrong wake-up to show
    stop = true;
    for (auto& thread : waiters)
        thread.join();
    EXPECT_EQ(wakes.load(), kSets);
    EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
}

TEST(EventTest, AutoResetSignalOnTwoObjectWaitsGoesToOneWaiter) {
    Event first(ResetMode::Auto);
    Event second(ResetMode::Auto);
    std::atomic<bool> stop{false};
    std::atomic<int> firstWakes{0};
    std::atomic<int> secondWakes{0};
    std::vector<std::thread> waiters;
    for (int t = 0; t < 3; ++t) {
        waiters.emplace_back([&] {
            while (!stop.load()) {
                const WaitResult result = Event::WaitAny(first, &second, 20);
                if (result == WaitResult::First)
                    firstWakes.fetch_add(1);
                else if (result == WaitResult::Second)
                    secondWakes.fetch_add(1);
            }
        });
    }
    constexpr int kRounds = 100;
    for (int k = 0; k < kRounds; ++k) {
        ASSERT_TRUE(first.Set());
        ASSERT_TRUE(Eventually([&] { return firstWakes.load() >= k + 1; }));
        ASSERT_TRUE(second.Set());
        ASSERT_TRUE(Eventually([&] { return secondWakes.load() >= k + 1; }));
    }
    std::this_thread::sleep_for(60ms);
    stop = true;
    for (auto& thread : waiters)
        thread.join();
    EXPECT_EQ(firstWakes.load(), kRounds);
    EXPECT_EQ(secondWakes.load(), kRounds);
}

TEST(EventTest, AutoResetSetsBeforeAnyWaitCountAsOne) {
    Event event(ResetMode::Auto);
    event.Set();
    event.Set();
    EXPECT_EQ(event.Wait(0), WaitResult::First);
    EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
}

TEST(EventTest, ManualResetStaysSignalledForEveryWaiterUntilReset) {
    Event event(ResetMode::Manual);
    event.Set();
    std::atomic<int> seen{0};
    std::vector<std::thread> waiters;
    for (int t = 0; t < 3; ++t) {
        waiters.emplace_back([&] {
            if (event.Wait(1000) == WaitResult::First)
                seen.fetch_add(1);
        });
    }
    for (auto& thread : waiters)
        thread.join();
    EXPECT_EQ(seen.load(), 3);
    EXPECT_EQ(event.Wait(0), WaitResult::First);
    event.Reset();
    EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
}

TEST(EventTest, SetHandsDataToTheWaitingThread) {
    // Plain (non-atomic) data written before Set must be visible after the wait; under the thread
    // sanitizer this also checks that the handoff is seen as synchronisation.
    for (ResetMode mode : {ResetMode::Auto, ResetMode::Manual}) {
        Event event(mode);
        int payload = 0;
        WaitResult result = WaitResult::Failed;
        std::thread reader([&] {
            result = event.Wait(Event::kInfinite);
            EXPECT_EQ(payload, 42);
        });
        std::this_thread::sleep_for(10ms);
        payload = 42;
        event.Set();
        reader.join();
        EXPECT_EQ(result, WaitResult::First);
    }
}

TEST(EventTest, WaitAnyReportsWhichObjectAndPrefersTheFirst) {
    struct Row {
        const char* name;
        bool setFirst;
        bool setSecond;
        WaitResult expected;
    };
    const Row rows[] = {
        {"first only", true, false, WaitResult::First},
        {"second only", false, true, WaitResult::Second},
        {"both: lower index wins", true, true, WaitResult::First},
        {"neither", false, false, WaitResult::Timeout},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Event first(ResetMode::Auto);
        Event second(ResetMode::Auto);
        if (row.setFirst)
            first.Set();
        if (row.setSecond)
            second.Set();
        EXPECT_EQ(Event::WaitAny(first, &second, 10), row.expected);
        // Only the reported object gave up its signal.
        EXPECT_EQ(first.Wait(0) == WaitResult::First,
                  row.setFirst && row.expected != WaitResult::First);
        EXPECT_EQ(second.Wait(0) == WaitResult::First,
                  row.setSecond && row.expected != WaitResult::Second);
    }
}

TEST(EventTest, WaitAnyRejectsTheSameEventTwice) {
    Event event(ResetMode::Auto);
    event.Set();
    EXPECT_EQ(Event::WaitAny(event, &event, 0), WaitResult::Failed);
}

TEST(EventTest, TimedWaitLastsAtLeastItsTimeOut) {
    Event first(ResetMode::Auto);
    Event second(ResetMode::Manual);
    auto start = Clock::now();
    EXPECT_EQ(first.Wait(30), WaitResult::Timeout);
    EXPECT_GE(Clock::now() - start, 30ms);
    start = Clock::now();
    EXPECT_EQ(Event::WaitAny(first, &second, 30), WaitResult::Timeout);
    EXPECT_GE(Clock::now() - start, 30ms);
}

TEST(EventTest, WaitWithoutLimitReturnsOnceSet) {
    Event first(ResetMode::Auto);
    Event second(ResetMode::Auto);
    WaitResult result = WaitResult::Failed;
    std::thread waiter([&] { result = Event::WaitAny(first, &second, Event::kInfinite); });
    std::this_thread::sleep_for(20ms);
    second.Set();
    waiter.join();
    EXPECT_EQ(result, WaitResult::Second);
}

TEST(EventTest, PulseWithoutWaiterHasNoEffect) {
    for (ResetMode mode : {ResetMode::Auto, ResetMode::Manual}) {
        Event event(mode);
        EXPECT_TRUE(event.Pulse());
        EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
    }
}

TEST(EventTest, PulseWakesWaitersAndLeavesTheEventClear) {
    struct Row {
        const char* name;
        ResetMode mode;
        int waiters;
        int expectedWakes;
    };
    const Row rows[] = {
        {"auto reset wakes one of two", ResetMode::Auto, 2, 1},
        {"manual reset wakes all", ResetMode::Manual, 3, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Event event(row.mode);
        std::atomic<int> wakes{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < row.waiters; ++t) {
            threads.emplace_back([&] {
                if (event.Wait(400) == WaitResult::First)
                    wakes.fetch_add(1);
            });
        }
        ASSERT_TRUE(Eventually([&] { return event.GetWaiterCount() == row.waiters; }));
        EXPECT_TRUE(event.Pulse());
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(wakes.load(), row.expectedWakes);
        EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
    }
}

TEST(EventTest, DescriptorIsReadableExactlyWhileSignalled) {
    Event event(ResetMode::Auto);
    auto readable = [&] {
        pollfd fd{event.FileDescriptor(), POLLIN, 0};
        return ::poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;
    };
    EXPECT_FALSE(readable());
    event.Set();
    EXPECT_TRUE(readable());
    EXPECT_EQ(event.Wait(0), WaitResult::First);
    EXPECT_FALSE(readable());
}

} // namespace
} // namespace qarn::platform
