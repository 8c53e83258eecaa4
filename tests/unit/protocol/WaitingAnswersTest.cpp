#include "protocol/WaitingAnswers.h"

#include "ConverterDatagrams.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::BlockAnswer;
using test::ConfigurationAnswer;
using test::Ip;

constexpr uint8_t kConfiguration = 0; // in place of a block answer's code

struct Arrival {
    uint32_t source; // last octet
    uint8_t code;    // block answer's code, or kConfiguration
    size_t size;     // block answers
    int tag;
};

struct WaitingCase {
    std::string name;
    size_t maxSources;
    size_t maxBlocksOf40; // byte bound, in waiting 40-byte block answers; 0: none
    std::vector<Arrival> arrivals;
    std::vector<int> handedOn; // tags, in the order Take gives them
    std::vector<int> refused;
    uint64_t replaced;
};

std::ostream& operator<<(std::ostream& out, const WaitingCase& c) {
    return out << c.name;
}

class WaitingAnswersTest : public ::testing::TestWithParam<WaitingCase> {};

TEST_P(WaitingAnswersTest, KeepsTheLatestOfEachKindWithinItsBounds) {
    const WaitingCase& c = GetParam();
    const size_t maxBytes = c.maxBlocksOf40 == 0
                                ? std::numeric_limits<size_t>::max()
                                : c.maxBlocksOf40 * (40 + WaitingAnswers::kOverheadBytes);
    WaitingAnswers waiting(c.maxSources, maxBytes);
    std::vector<int> refused;
    for (const Arrival& a : c.arrivals) {
        auto msg = std::make_unique<CMsg>();
        msg->address = Ip(10, 0, 0, a.source);
        msg->userValue = a.tag;
        msg->data =
            a.code == kConfiguration ? ConfigurationAnswer({}) : BlockAnswer(a.code, a.size);
        if (!waiting.Add(msg, CheckAnswer(msg->data))) {
            ASSERT_NE(msg, nullptr) << "a refused datagram stays with the caller";
            refused.push_back(a.tag);
        }
    }
    std::vector<int> handedOn;
    while (std::unique_ptr<CMsg> msg = waiting.Take())
        handedOn.push_back(msg->userValue);
    EXPECT_EQ(handedOn, c.handedOn);
    EXPECT_EQ(refused, c.refused);
    EXPECT_EQ(waiting.GetReplacedCount(), c.replaced);
    EXPECT_TRUE(waiting.IsEmpty());
    EXPECT_EQ(waiting.GetBytes(), 0u);
    EXPECT_EQ(waiting.GetSourceCount(), 0u);
}

constexpr size_t kMany = 1000;

INSTANTIATE_TEST_SUITE_P(
    Cases, WaitingAnswersTest,
    ::testing::Values(
        WaitingCase{"BothCopiesOfAnAnswerWaitOnceAsTheLater",
                    kMany,
                    0,
                    {{1, kConfiguration, 0, 1}, {1, kConfiguration, 0, 2}},
                    {2},
                    {},
                    1},
        WaitingCase{"EachKindOfASourceWaits",
                    kMany,
                    0,
                    {{1, kConfiguration, 0, 1}, {1, 0xD5, 40, 2}, {1, 0xD6, 40, 3}},
                    {1, 2, 3},
                    {},
                    0},
        // The configuration answer writes slot 0 too: the later one must still come last.
        WaitingCase{"AReplacingAnswerComesAfterItsSourcesOthers",
                    kMany,
                    0,
                    {{1, kConfiguration, 0, 1}, {1, 0xD0, 40, 2}, {1, kConfiguration, 0, 3}},
                    {2, 3},
                    {},
                    1},
        WaitingCase{
            "CodesOfOneSlotAreOneKind", kMany, 0, {{1, 0xD0, 40, 1}, {1, 0xF9, 40, 2}}, {2}, {}, 1},
        WaitingCase{"BlocksOutsideTheSlotsAreOneKind",
                    kMany,
                    0,
                    {{1, 0xC0, 40, 1}, {1, 0xC1, 40, 2}, {1, 0xD0, 40, 3}},
                    {2, 3},
                    {},
                    1},
        WaitingCase{"SourcesInOrderOfArrivalEachWithItsAnswersTogether",
                    kMany,
                    0,
                    {{1, kConfiguration, 0, 1}, {2, kConfiguration, 0, 2}, {1, 0xD5, 40, 3}},
                    {1, 3, 2},
                    {},
                    0},
        WaitingCase{"NoSourceBeyondTheBoundButMoreFromOneWaiting",
                    2,
                    0,
                    {{1, 0xD0, 40, 1}, {2, 0xD0, 40, 2}, {3, 0xD0, 40, 3}, {1, 0xD5, 40, 4}},
                    {1, 4, 2},
                    {3},
                    0},
        WaitingCase{"NoBytesBeyondTheBoundCountingWhatAReplacementFrees",
                    kMany,
                    2,
                    {{1, 0xD0, 40, 1},
                     {2, 0xD0, 40, 2},
                     {3, 0xD0, 40, 3},
                     {1, 0xD0, 41, 4},
                     {1, 0xD0, 39, 5}},
                    {5, 2},
                    {3, 4},
                    1}),
    [](const ::testing::TestParamInfo<WaitingCase>& info) { return info.param.name; });

} // namespace
} // namespace qarn
