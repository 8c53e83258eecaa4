#include "protocol/AnswerIntake.h"

#include "ConverterDatagrams.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::BlockAnswer;
using test::ConfigurationAnswer;
using test::Ip;
using test::MacBlock;
using test::SerialBlock;

class AnswerIntakeTest : public ::testing::Test {
  protected:
    void Queue(uint32_t source, std::vector<uint8_t> datagram) {
        auto msg = std::make_unique<CMsg>();
        msg->address = source;
        msg->data = std::move(datagram);
        queue.Push(std::move(msg), false);
    }
    // Pumps and writes down each handled datagram as "<last octet>:<disposition number>".
    size_t Pump(size_t budget) {
        return intake.Pump(budget, [this](const CMsg& msg, AnswerDisposition disposition) {
            heard.push_back(std::to_string(msg.address >> 24) + ":" +
                            std::to_string(static_cast<int>(disposition)));
        });
    }
    static std::string Applied(int octet) {
        return std::to_string(octet) + ":" +
               std::to_string(static_cast<int>(AnswerDisposition::Applied));
    }

    test::EchoTable echo;
    DeviceList list{echo, [] { return int64_t{10}; }, ParallelEcho::kInline};
    CMsgQueue queue;
    AnswerIntake intake{queue, list};
    std::vector<std::string> heard;
};

TEST_F(AnswerIntakeTest, ListedSourcesAreServedBeforeNewOnes) {
    const uint32_t known = Ip(10, 0, 0, 1), first = Ip(10, 0, 0, 2), second = Ip(10, 0, 0, 3);
    list.OnConverterAnswer(known, ConfigurationAnswer({}));
    Queue(first, BlockAnswer(0xD0, 40));
    Queue(known, BlockAnswer(0xD5, 40));
    Queue(second, BlockAnswer(0xD0, 40));
    Queue(Ip(10, 0, 0, 9), {1, 2}); // never an answer
    Queue(known, BlockAnswer(0xD6, 40));

    EXPECT_EQ(Pump(2), 2u);
    const std::string tooShort =
        "9:" + std::to_string(static_cast<int>(AnswerDisposition::TooShort));
    EXPECT_EQ(heard, (std::vector<std::string>{
                         tooShort, "1:" + std::to_string(static_cast<int>(
                                              AnswerDisposition::ExtendedRowIgnoresBlock))}))
        << "what is no answer goes at once; then the listed source";
    EXPECT_EQ(intake.GetWaitingCount(), 3u);
    heard.clear();
    EXPECT_EQ(Pump(10), 3u);
    EXPECT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[1], Applied(2)) << "new sources in the order they came";
    EXPECT_EQ(heard[2], Applied(3));
    EXPECT_EQ(Pump(10), 0u);
    EXPECT_EQ(list.GetRowCount(), 3u);
    EXPECT_FALSE(list.GetDropCounts().Any());
}

TEST_F(AnswerIntakeTest, AFloodOfNewSourcesIsBoundedAndCounted) {
    const uint32_t known = Ip(10, 0, 0, 1);
    list.OnConverterAnswer(known, ConfigurationAnswer({}));
    uint32_t next = 0;
    const auto queueNewSources = [&](size_t count) {
        for (size_t i = 0; i < count; ++i, ++next)
            Queue(Ip(10, 1 + next / 65536, (next / 256) % 256, next % 256), BlockAnswer(0xD0, 8));
    };
    // One burst overflows the endpoint's queue; further ones, taken into the waiting line
    // (Pump(0) hands nothing on), overflow the bound on new sources.
    queueNewSources(AnswerIntake::kQueueCapacity + 100);
    Pump(0);
    static_assert(AnswerIntake::kMaxNewWaitingSources + 100 > AnswerIntake::kQueueCapacity);
    for (size_t left = AnswerIntake::kMaxNewWaitingSources + 100 - AnswerIntake::kQueueCapacity;
         left > 0;) {
        const size_t burst = std::min(left, AnswerIntake::kQueueCapacity);
        queueNewSources(burst);
        Pump(0);
        left -= burst;
    }
    DropCounts expected;
    expected.queueFull = 100;
    expected.waitingFull = 100;
    EXPECT_EQ(list.GetDropCounts(), expected);
    EXPECT_EQ(intake.GetWaitingCount(), AnswerIntake::kMaxNewWaitingSources);

    // The listed converter's answer does not wait behind them.
    Queue(known, ConfigurationAnswer({}));
    EXPECT_EQ(Pump(1), 1u);
    EXPECT_EQ(heard, std::vector<std::string>{Applied(1)});
    size_t handled = 0;
    while (const size_t slice = Pump(AnswerIntake::kPumpBudget))
        handled += slice;
    EXPECT_EQ(handled, AnswerIntake::kMaxNewWaitingSources);
    EXPECT_EQ(list.GetRowCount(), AnswerIntake::kMaxNewWaitingSources + 1);
}

// A fleet of ten thousand answers both copies of a request (limited and directed broadcast)
// within one second, before the list has taken the first answer: nothing may be lost, and each
// converter's row is made once, from its latest answers.
TEST_F(AnswerIntakeTest, AFleetAnsweringBothCopiesOfARequestLosesNothing) {
    constexpr uint32_t kFleet = 10000;
    for (int copy = 0; copy < 2; ++copy) {
        for (uint32_t i = 0; i < kFleet; ++i) {
            // A quarter describe themselves by blocks; every converter has a MAC address of its
            // own (the list keeps one row per MAC address).
            const uint32_t source = Ip(10, 2, i / 256, i % 256);
            test::AnswerSettings settings;
            settings.mac[4] = static_cast<uint8_t>(i / 256);
            settings.mac[5] = static_cast<uint8_t>(i % 256);
            if (i % 4 != 0) {
                Queue(source, ConfigurationAnswer(settings));
                continue;
            }
            Queue(source, SerialBlock("S" + std::to_string(i)));
            Queue(source, MacBlock(settings.mac));
        }
        Pump(0); // the list is busy elsewhere while the copy comes in
    }
    EXPECT_FALSE(list.GetDropCounts().Any());
    EXPECT_EQ(intake.GetWaitingCount(), kFleet + kFleet / 4);
    EXPECT_EQ(intake.GetReplacedCount(), kFleet + kFleet / 4);
    while (Pump(AnswerIntake::kPumpBudget) != 0)
        list.CollectEchoResults(); // as the owner does between slices
    EXPECT_EQ(list.GetRowCount(), kFleet);
    EXPECT_FALSE(list.GetDropCounts().Any());
}

// A new source's first answer made its row while its others still wait: what it sends then
// must not overtake them on the way for listed sources.
TEST_F(AnswerIntakeTest, AnswersOfASourceReachTheListInTheOrderTheyCame) {
    const uint32_t known = Ip(10, 0, 0, 1), fresh = Ip(10, 0, 0, 2);
    list.OnConverterAnswer(known, ConfigurationAnswer({}));
    Queue(fresh, BlockAnswer(0xD5, 40));
    Queue(fresh, BlockAnswer(0xD6, 40, 4));
    EXPECT_EQ(Pump(1), 1u);
    ASSERT_TRUE(list.HasRow(fresh));
    Queue(fresh, BlockAnswer(0xD7, 40, 5));
    Queue(known, BlockAnswer(0xD5, 40));
    heard.clear();
    intake.Pump(10, [this](const CMsg& msg, AnswerDisposition) {
        heard.push_back(std::to_string(msg.address >> 24) + ":" + std::to_string(msg.data[0]));
    });
    EXPECT_EQ(heard, (std::vector<std::string>{"1:3", "2:4", "2:5"}));
}

} // namespace
} // namespace qarn
