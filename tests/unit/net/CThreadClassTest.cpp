#include "net/CThreadClass.h"

#include "net/CManualEvent.h"
#include "net/ThreadRegistry.h"
#include "platform/Event.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A wait time-out long enough that no time-out step runs during a test.
constexpr uint32_t kNoTimeoutSteps = 600000;

template <typename Predicate>
bool Eventually(Predicate done, std::chrono::milliseconds limit = 5000ms) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(200us);
    }
    return true;
}

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Counts its steps and answers them as told. `stuck`, when set before the start, holds every
// time-out step until it is signalled (at most ten seconds, so a fault cannot hang the run).
class ProbeWorker : public CThreadClass {
  public:
    ~ProbeWorker() override { StopThread(); }

    bool TimeoutThread() override {
        timeouts.fetch_add(1);
        if (stuck != nullptr)
            stuck->Wait(10000);
        return timeoutResult.load();
    }

    bool EventThread(int32_t index) override {
        lastIndex.store(index);
        events.fetch_add(1);
        return eventResult.load();
    }

    std::atomic<int> timeouts{0};
    std::atomic<int> events{0};
    std::atomic<int32_t> lastIndex{0};
    std::atomic<bool> timeoutResult{true};
    std::atomic<bool> eventResult{true};
    platform::Event* stuck = nullptr;
};

// Every test must hand back each registry slot it took, and leave the shutdown flag clear.
class ThreadClassTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_freeBefore = ThreadRegistry::CountFreeEntries();
        ASSERT_GE(m_freeBefore, 1);
    }
    void TearDown() override {
        CThreadClass::ResetShutdownForTesting();
        EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore) << "a registry slot leaked";
    }

    int32_t m_freeBefore = 0;
};

TEST(CManualEventTest, OneWaitConsumesTheSignal) {
    CManualEvent event;
    EXPECT_FALSE(event.Lock(0)) << "created signalled";
    event.Set();
    event.Set(); // merges with the first
    EXPECT_TRUE(event.Lock(0));
    EXPECT_FALSE(event.Lock(0)) << "the stop protocol needs automatic reset";
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Lock(0));
}

TEST_F(ThreadClassTest, StartOnRunningObjectIsRefusedAndChangesNothing) {
    platform::Event first(platform::ResetMode::Auto);
    platform::Event second(platform::ResetMode::Auto);
    ProbeWorker worker;
    EXPECT_EQ(worker.GetWaitTimeoutMs(), CThreadClass::kDefaultWaitTimeoutMs);
    EXPECT_TRUE(worker.IsStopRequested()) << "nothing runs yet";

    ASSERT_TRUE(worker.StartThread(&first, kNoTimeoutSteps));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_FALSE(worker.IsStopRequested());
    EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore - 1);

    EXPECT_FALSE(worker.StartThread(&second, 5));
    EXPECT_EQ(worker.GetWaitObject(), &first);
    EXPECT_EQ(worker.GetWaitTimeoutMs(), kNoTimeoutSteps);
    // The running worker still waits on the first event only, and with no time-out steps.
    second.Set();
    first.Set();
    ASSERT_TRUE(Eventually([&] { return worker.events.load() == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(worker.events.load(), 1);
    EXPECT_EQ(worker.timeouts.load(), 0);

    worker.StopThread();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(worker.IsStopRequested());
}

TEST_F(ThreadClassTest, StopOnNeverStartedObjectReturnsAtOnce) {
    ProbeWorker worker;
    const auto start = Clock::now();
    worker.StopThread();
    EXPECT_LT(MsSince(start), 500);
    EXPECT_FALSE(worker.IsRunning());
}

// A step that answers false ends the steps, but the worker keeps its slot (and its owner keeps
// reporting it as running) until StopThread, which then returns promptly.
TEST_F(ThreadClassTest, WorkerWhoseStepEndedKeepsItsSlotUntilStopped) {
    struct Row {
        const char* name;
        bool byEventStep;
    };
    for (const Row& row :
         {Row{"time-out step answers false", false}, Row{"event step answers false", true}}) {
        SCOPED_TRACE(row.name);
        platform::Event trigger(platform::ResetMode::Auto);
        ProbeWorker worker;
        worker.timeoutResult = false;
        worker.eventResult = false;
        std::atomic<int>& steps = row.byEventStep ? worker.events : worker.timeouts;
        if (row.byEventStep) {
            ASSERT_TRUE(worker.StartThread(&trigger, kNoTimeoutSteps));
            trigger.Set();
        } else {
            ASSERT_TRUE(worker.StartThread(nullptr, 1));
        }
        ASSERT_TRUE(Eventually([&] { return steps.load() == 1; }));

        trigger.Set();
        std::this_thread::sleep_for(100ms); // room for a wrong further step to show
        EXPECT_EQ(worker.timeouts.load() + worker.events.load(), 1) << "a step ran after false";
        EXPECT_TRUE(worker.IsRunning());
        EXPECT_FALSE(worker.StartThread(nullptr, 1));
        EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore - 1);

        const auto start = Clock::now();
        worker.StopThread();
        EXPECT_LT(MsSince(start), 500);
        EXPECT_FALSE(worker.IsRunning());
        EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore);
    }
}

// Each stop signal is consumed by the worker it was meant for, whether the worker was in its loop
// or waiting for its stop after a step answered false, so the next start runs normally.
TEST_F(ThreadClassTest, StartStopAndStartAgainRunsNormally) {
    ProbeWorker worker;
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        const bool endsItself = round % 2 == 1;
        worker.timeoutResult = !endsItself;
        const int before = worker.timeouts.load();
        ASSERT_TRUE(worker.StartThread(nullptr, 1));
        const int wanted = before + (endsItself ? 1 : 3);
        ASSERT_TRUE(Eventually([&] { return worker.timeouts.load() >= wanted; }));
        EXPECT_TRUE(worker.IsRunning());
        worker.StopThread();
        EXPECT_FALSE(worker.IsRunning());
    }
}

TEST_F(ThreadClassTest, EventStepRunsWhenSecondObjectIsSignalled) {
    struct Row {
        const char* name;
        platform::ResetMode mode;
    };
    for (const Row& row :
         {Row{"automatic reset", platform::ResetMode::Auto},
          Row{"manual reset, cleared by the worker", platform::ResetMode::Manual}}) {
        SCOPED_TRACE(row.name);
        platform::Event signal(row.mode);
        ProbeWorker worker;
        ASSERT_TRUE(worker.StartThread(&signal, kNoTimeoutSteps));
        for (int n = 1; n <= 3; ++n) {
            signal.Set();
            ASSERT_TRUE(Eventually([&] { return worker.events.load() >= n; }));
            std::this_thread::sleep_for(30ms); // a signal left set would run the step again
            EXPECT_EQ(worker.events.load(), n);
        }
        EXPECT_EQ(worker.lastIndex.load(), 1);
        EXPECT_EQ(worker.timeouts.load(), 0);
        worker.StopThread();
        EXPECT_EQ(signal.Wait(0), platform::WaitResult::Timeout);
    }
}

// The slot is taken by StartThread itself, so a StopThread right after it always finds and stops
// the worker: no second worker is ever started over a running one, and no slot is lost.
TEST_F(ThreadClassTest, StopRightAfterStartAlwaysStopsTheWorker) {
    {
        ProbeWorker worker;
        for (int cycle = 0; cycle < 5000; ++cycle) {
            ASSERT_TRUE(worker.StartThread(nullptr, cycle % 2 == 0 ? 1 : kNoTimeoutSteps));
            ASSERT_TRUE(worker.IsRunning()) << "cycle " << cycle;
            worker.StopThread();
            ASSERT_FALSE(worker.IsRunning()) << "cycle " << cycle;
        }
    }
    EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore);

    platform::Event shared(platform::ResetMode::Manual);
    std::vector<std::unique_ptr<ProbeWorker>> workers;
    for (int i = 0; i < 64; ++i)
        workers.push_back(std::make_unique<ProbeWorker>());
    for (int round = 0; round < 40; ++round) {
        for (size_t i = 0; i < workers.size(); ++i)
            ASSERT_TRUE(workers[i]->StartThread(i % 3 == 0 ? &shared : nullptr,
                                                i % 2 == 0 ? 1 : kNoTimeoutSteps));
        EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore - 64);
        shared.Set();
        for (auto& worker : workers)
            worker->StopThread();
        EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore) << "round " << round;
    }
}

TEST_F(ThreadClassTest, FullRegistryStartsNoFurtherWorker) {
    std::vector<std::unique_ptr<ProbeWorker>> workers;
    for (int32_t i = 0; i < m_freeBefore; ++i) {
        workers.push_back(std::make_unique<ProbeWorker>());
        ASSERT_TRUE(workers.back()->StartThread(nullptr, kNoTimeoutSteps));
        ASSERT_TRUE(workers.back()->IsRunning()) << "worker " << i;
    }
    EXPECT_EQ(ThreadRegistry::CountFreeEntries(), 0);

    ProbeWorker extra;
    EXPECT_TRUE(extra.StartThread(nullptr, 0)) << "a start without a slot is not reported";
    EXPECT_FALSE(extra.IsRunning());
    EXPECT_TRUE(extra.StartThread(nullptr, 0)) << "a stopped object may start again";
    EXPECT_FALSE(extra.IsRunning());
    extra.StopThread();
    EXPECT_EQ(extra.timeouts.load(), 0) << "a worker without a slot ran a step";

    workers.front()->StopThread();
    ASSERT_TRUE(extra.StartThread(nullptr, 0));
    EXPECT_TRUE(extra.IsRunning()) << "the freed slot is handed out again";
    EXPECT_TRUE(Eventually([&] { return extra.timeouts.load() > 0; }));
    extra.StopThread();
    workers.clear();
}

TEST_F(ThreadClassTest, RegistryLockHeldElsewhereStartsNoWorker) {
    CTimedCriticalSection& lock = ThreadRegistry::GetLock();
    ASSERT_TRUE(lock.Lock(0));
    ProbeWorker worker;
    const auto start = Clock::now();
    EXPECT_TRUE(worker.StartThread(nullptr, 0));
    const int64_t waited = MsSince(start);
    lock.Unlock();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_GE(waited, 150) << "allocation gave up before its 200 ms";
    worker.StopThread();
    EXPECT_EQ(worker.timeouts.load(), 0);

    ASSERT_TRUE(worker.StartThread(nullptr, 0));
    EXPECT_TRUE(worker.IsRunning());
}

// At shutdown nobody may wait for a stuck worker: StopThread gives up after its first second and
// leaves the worker behind, which ends and frees its slot as soon as its step returns.
TEST_F(ThreadClassTest, ShutdownStopGivesUpOnStuckWorkerAfterOneSecond) {
    platform::Event release(platform::ResetMode::Manual);
    ProbeWorker worker;
    worker.stuck = &release;
    ASSERT_TRUE(worker.StartThread(nullptr, 1));
    ASSERT_TRUE(Eventually([&] { return worker.timeouts.load() == 1; }));

    CThreadClass::SetShutdown();
    const auto start = Clock::now();
    worker.StopThread();
    const int64_t waited = MsSince(start);
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 3000);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore - 1) << "the worker still holds it";

    release.Set();
    EXPECT_TRUE(Eventually([&] { return ThreadRegistry::CountFreeEntries() == m_freeBefore; }));
    EXPECT_EQ(worker.timeouts.load(), 1) << "the left-behind worker ran another step";
}

// At shutdown a worker whose step answered false leaves at once. Its owner still points at its
// slot until StopThread; that late StopThread must not stop a worker started meanwhile.
TEST_F(ThreadClassTest, ShutdownWorkerLeavesAtOnceAndItsLateStopHarmsNoOther) {
    CThreadClass::SetShutdown();
    ProbeWorker early;
    early.timeoutResult = false;
    ASSERT_TRUE(early.StartThread(nullptr, 1));
    ASSERT_TRUE(Eventually([&] { return early.timeouts.load() == 1; }));
    std::this_thread::sleep_for(50ms); // lets the early worker leave

    ProbeWorker later;
    ASSERT_TRUE(later.StartThread(nullptr, 1));
    const auto start = Clock::now();
    early.StopThread();
    EXPECT_LT(MsSince(start), 500);
    EXPECT_FALSE(early.IsRunning());

    const int seen = later.timeouts.load();
    EXPECT_TRUE(Eventually([&] { return later.timeouts.load() > seen + 2; }))
        << "the other worker was stopped";
    EXPECT_TRUE(later.IsRunning());
    later.StopThread();
    EXPECT_FALSE(later.IsRunning());
}

TEST_F(ThreadClassTest, DestructorStopsTheWorker) {
    platform::Event signal(platform::ResetMode::Auto);
    {
        CThreadClass plain;
        ASSERT_TRUE(plain.StartThread(&signal, 1));
        signal.Set();
        EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore - 1);
    }
    EXPECT_EQ(ThreadRegistry::CountFreeEntries(), m_freeBefore);
}

TEST_F(ThreadClassTest, RegistryIsFreedOnlyWhenNoWorkerHoldsASlot) {
    ProbeWorker worker;
    ASSERT_TRUE(worker.StartThread(nullptr, 1));
    EXPECT_FALSE(CThreadClass::FreeRegistry());
    const int seen = worker.timeouts.load();
    EXPECT_TRUE(Eventually([&] { return worker.timeouts.load() > seen; }));
    worker.StopThread();

    ASSERT_TRUE(CThreadClass::FreeRegistry());
    EXPECT_EQ(ThreadRegistry::CountFreeEntries(),
              static_cast<int32_t>(ThreadRegistry::kEntryCount));
    ASSERT_TRUE(worker.StartThread(nullptr, 1)) << "a new table is created on demand";
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(ThreadRegistry::CountFreeEntries(),
              static_cast<int32_t>(ThreadRegistry::kEntryCount) - 1);
    worker.StopThread();
}

} // namespace
} // namespace qarn
