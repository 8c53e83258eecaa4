#include "net/CMsgQueue.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

std::unique_ptr<CMsg> MakeMsg(int32_t value) {
    auto msg = std::make_unique<CMsg>();
    msg->userValue = value;
    return msg;
}

// A message that reports its own deletion.
class CountedMsg : public CMsg {
  public:
    explicit CountedMsg(std::atomic<int>& alive) : m_alive(alive) { ++m_alive; }
    ~CountedMsg() override { --m_alive; }
    CountedMsg(const CountedMsg&) = delete;
    CountedMsg& operator=(const CountedMsg&) = delete;

  private:
    std::atomic<int>& m_alive;
};

TEST(CMsgQueueTest, PopOnEmptyQueueReturnsNullAtOnce) {
    CMsgQueue queue;
    EXPECT_EQ(queue.Pop(), nullptr);
    queue.Push(MakeMsg(1), false);
    EXPECT_NE(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(CMsgQueueTest, PushTakesTheMessageOverOnlyWhenItQueuesIt) {
    CMsgQueue queue;
    std::unique_ptr<CMsg> none;
    EXPECT_TRUE(queue.Push(std::move(none), true));
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.GetEvent().Wait(0), platform::WaitResult::Timeout) << "null push signalled";

    auto msg = MakeMsg(7);
    const CMsg* const address = msg.get();
    EXPECT_TRUE(queue.Push(std::move(msg), false));
    EXPECT_EQ(msg, nullptr);
    const auto popped = queue.Pop();
    EXPECT_EQ(popped.get(), address);
}

// A queue fed from the network keeps its bound under a flood: the surplus is deleted and counted,
// and what was queued comes out in order.
TEST(CMsgQueueTest, AFullQueueDropsAndCountsTheSurplus) {
    std::atomic<int> alive{0};
    CMsgQueue queue;
    queue.SetCapacity(2);
    std::vector<bool> taken;
    for (int i = 0; i < 5; ++i)
        taken.push_back(queue.Push(std::make_unique<CountedMsg>(alive), false));
    EXPECT_EQ(taken, (std::vector<bool>{true, true, false, false, false}));
    EXPECT_EQ(alive.load(), 2) << "dropped messages are deleted";
    EXPECT_EQ(queue.TakeDroppedCount(), 3u);
    EXPECT_EQ(queue.TakeDroppedCount(), 0u) << "counted since the last call";
    EXPECT_EQ(queue.TakeAll().size(), 2u);
    EXPECT_EQ(alive.load(), 0);

    queue.SetCapacity(0); // no bound
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_TRUE(queue.Push(MakeMsg(i), false));
    std::deque<std::unique_ptr<CMsg>> all = queue.TakeAll();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all.front()->userValue, 0);
    EXPECT_EQ(all.back()->userValue, 2);
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(CMsgQueueTest, KeepsTenThousandMessagesInOrder) {
    CMsgQueue queue;
    for (int32_t i = 0; i < 10000; ++i)
        queue.Push(MakeMsg(i), false);
    for (int32_t i = 0; i < 10000; ++i) {
        const auto msg = queue.Pop();
        ASSERT_NE(msg, nullptr) << "lost message " << i;
        ASSERT_EQ(msg->userValue, i);
    }
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(CMsgQueueTest, KeepsPushOrderAcrossProducerThreads) {
    // Producers take turns through `turn`, so the pushes never overlap and have one global order;
    // the consumer drains at the same time and must see exactly that order.
    CMsgQueue queue;
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 2500;
    std::mutex turn;
    int32_t next = 0;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&] {
            for (int i = 0; i < kPerProducer; ++i) {
                const std::lock_guard<std::mutex> guard(turn);
                queue.Push(MakeMsg(next++), (i % 7) == 0);
            }
        });
    }
    std::vector<int32_t> seen;
    while (seen.size() < kProducers * kPerProducer) {
        if (auto msg = queue.Pop())
            seen.push_back(msg->userValue);
        else
            queue.GetEvent().Wait(1);
    }
    for (auto& thread : producers)
        thread.join();
    for (size_t i = 0; i < seen.size(); ++i)
        ASSERT_EQ(seen[i], static_cast<int32_t>(i));
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(CMsgQueueTest, ClearAndDestructionDeleteHeldMessages) {
    std::atomic<int> alive{0};
    {
        CMsgQueue queue;
        for (int i = 0; i < 3; ++i)
            queue.Push(std::make_unique<CountedMsg>(alive), false);
        queue.Clear();
        EXPECT_EQ(alive.load(), 0);
        EXPECT_EQ(queue.Pop(), nullptr);

        for (int i = 0; i < 5; ++i)
            queue.Push(std::make_unique<CountedMsg>(alive), false);
        auto taken = queue.Pop();
        EXPECT_EQ(alive.load(), 5);
        taken.reset(); // the consumer owns what it popped
        EXPECT_EQ(alive.load(), 4);
    }
    EXPECT_EQ(alive.load(), 0);
}

TEST(CMsgQueueTest, SignallingPushSetsTheEventAndTheQueueNeverResetsIt) {
    CMsgQueue queue;
    platform::Event& event = queue.GetEvent();
    EXPECT_TRUE(event.IsManualReset());
    queue.Push(MakeMsg(1), false);
    EXPECT_EQ(event.Wait(0), platform::WaitResult::Timeout);

    std::atomic<bool> woke{false};
    std::thread consumer([&] { woke = event.Wait(5000) == platform::WaitResult::First; });
    queue.Push(MakeMsg(2), true);
    consumer.join();
    EXPECT_TRUE(woke.load());

    while (queue.Pop()) {
    }
    queue.Clear();
    EXPECT_EQ(event.Wait(0), platform::WaitResult::First) << "the queue reset its event";
}

} // namespace
} // namespace qarn
