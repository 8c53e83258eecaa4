#include "protocol/AnswerIntake.h"

#include "ConverterDatagrams.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::BlockAnswer;
using test::ConfigurationAnswer;
using test::Ip;

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
    const size_t flood = AnswerIntake::kQueueCapacity + 100;
    for (uint32_t i = 0; i < flood; ++i)
        Queue(Ip(10, 1 + i / 65536, (i / 256) % 256, i % 256), BlockAnswer(0xD0, 8));
    Pump(0); // takes the queue into the waiting lines, hands nothing on
    DropCounts expected;
    expected.queueFull = 100;
    expected.waitingFull = AnswerIntake::kQueueCapacity - AnswerIntake::kMaxNewWaiting;
    EXPECT_EQ(list.GetDropCounts(), expected);
    EXPECT_EQ(intake.GetWaitingCount(), AnswerIntake::kMaxNewWaiting);

    // The listed converter's answer does not wait behind them.
    Queue(known, ConfigurationAnswer({}));
    EXPECT_EQ(Pump(1), 1u);
    EXPECT_EQ(heard, std::vector<std::string>{Applied(1)});
    size_t handled = 0;
    while (const size_t slice = Pump(AnswerIntake::kPumpBudget))
        handled += slice;
    EXPECT_EQ(handled, AnswerIntake::kMaxNewWaiting);
    EXPECT_EQ(list.GetRowCount(), AnswerIntake::kMaxNewWaiting + 1);
}

} // namespace
} // namespace qarn
