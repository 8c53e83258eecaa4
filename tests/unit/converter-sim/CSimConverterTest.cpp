// Discovery answers and configuration writes of simulated converters, checked byte by byte against
// datagrams built and unscrambled by the test itself.
#include "SimTestSupport.h"

#include <algorithm>
#include <set>

#include <gtest/gtest.h>

namespace qarn::sim::test {
namespace {

constexpr uint32_t kIpA = 0xC6120101;      // 198.18.1.1
constexpr uint32_t kIpB = 0xC6120102;      // 198.18.1.2
constexpr uint32_t kOtherNet = 0x0A010005; // 10.1.0.5/24

Bytes Unscrambled(const SimOutgoing& answer) {
    Bytes d = answer.bytes;
    TestScramble(Le32(&d[12]), d.data() + 16, d.size() - 16);
    return d;
}

std::string TextAt(const Bytes& d, size_t offset, size_t size) {
    std::string text;
    for (size_t i = offset; i < offset + size && d[i] != 0; ++i)
        text.push_back(static_cast<char>(d[i]));
    return text;
}

TEST(SimDiscoveryTest, ConfigurationAnswerCarriesEverySettingAtItsOffset) {
    struct Row {
        const char* name;
        SimAnswerStyle style;
        size_t length;
    };
    for (const Row row : {Row{"88 bytes", SimAnswerStyle::Config88, 88},
                          Row{"80 bytes", SimAnswerStyle::Config80, 80}}) {
        SCOPED_TRACE(row.name);
        FleetHarness h;
        SimConverterConfig c = Converter(kIpA);
        c.style = row.style;
        h.Add(c);
        const auto answers = h.Exchange(1000, kIpA, Discovery());
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].from, kIpA);
        EXPECT_EQ(answers[0].to, kToolIp);
        EXPECT_EQ(answers[0].port, kToolPort);
        const Bytes d = Unscrambled(answers[0]);
        ASSERT_EQ(d.size(), row.length);
        EXPECT_EQ(d[0], 1);
        EXPECT_EQ(d[1], 0x1B);
        EXPECT_TRUE(std::all_of(d.begin() + 2, d.begin() + 12, [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(Le32(&d[16]), 0x12131417u);
        EXPECT_EQ(Octets(&d[20]), kIpA);
        EXPECT_EQ(Octets(&d[24]), 0xC6120001u);
        EXPECT_EQ(d[28], 16);
        EXPECT_EQ(d[30], 0x11);
        EXPECT_EQ(Octets(&d[32]), 0x0A0B0C0Du);
        EXPECT_EQ(Bytes(d.begin() + 36, d.begin() + 42), Bytes({0x02, 0x51, 0, 0, 0, 0x01}));
        EXPECT_EQ(d[42], 0x22);
        EXPECT_EQ(d[43], 0x33);
        EXPECT_EQ(TextAt(d, 44, 14), "73145812345678");
        EXPECT_EQ(d[58], 0x44);
        EXPECT_EQ(Octets(&d[60]), 0xC6120063u);
        EXPECT_EQ(Le16(&d[64]), 4001);
        EXPECT_EQ(Le16(&d[66]), 0xBEEF);
        EXPECT_EQ(Le32(&d[68]), 3012004u);
        EXPECT_TRUE(std::all_of(d.begin() + 72, d.begin() + 80, [](uint8_t b) { return b == 0; }));
        if (row.length == 88) {
            EXPECT_EQ(Bytes(d.begin() + 80, d.begin() + 84), Bytes({'Q', 'X', '7', 0}));
            EXPECT_EQ(d[84], 'M');
            EXPECT_EQ(d[85], 2);
            EXPECT_EQ(d[86], 0x55);
            EXPECT_EQ(d[87], 0);
        }
    }
}

TEST(SimDiscoveryTest, EachAnswerIsScrambledWithAFreshSeed) {
    FleetHarness h;
    h.Add(Converter(kIpA));
    const auto first = h.Exchange(0, kIpA, Discovery());
    const auto second = h.Exchange(10, kIpA, Discovery());
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(Le32(&first[0].bytes[12]), Le32(&second[0].bytes[12]));
    EXPECT_NE(first[0].bytes, second[0].bytes);
    const Bytes plainFirst = Unscrambled(first[0]);
    const Bytes plainSecond = Unscrambled(second[0]);
    EXPECT_EQ(Bytes(plainFirst.begin() + 16, plainFirst.end()),
              Bytes(plainSecond.begin() + 16, plainSecond.end()));
    // The payload is really scrambled: the plain marker does not stand in the clear.
    EXPECT_NE(Le32(&first[0].bytes[16]), 0x12131417u);
}

TEST(SimDiscoveryTest, BlockAnswersCarrySerialVersionAndMacWhereTheToolReadsThem) {
    FleetHarness h;
    SimConverterConfig c = Converter(kIpA);
    c.style = SimAnswerStyle::ConfigAndBlocks;
    c.blockCodes = {0xD0, 0xD5, 0xF5, 0xF7, 0xF9};
    h.Add(c);
    const auto answers = h.Exchange(0, 0xFFFFFFFF, Discovery());
    ASSERT_EQ(answers.size(), 6u);
    EXPECT_EQ(answers[0].bytes.size(), 88u);
    std::vector<uint8_t> codes;
    for (size_t i = 1; i < answers.size(); ++i) {
        const Bytes& d = answers[i].bytes;
        ASSERT_GE(d.size(), 4u + 116u);
        EXPECT_TRUE(d[0] != 1 && d[0] != 2) << "byType " << int(d[0]);
        codes.push_back(d[3]);
        const uint8_t* block = d.data() + 4; // the block data starts behind four header bytes
        if (d[3] == 0xD5) {
            EXPECT_EQ(TextAt(d, 4 + 102, 14), "73145812345678");
        } else if (d[3] == 0xF5) {
            EXPECT_EQ(TextAt(d, 4 + 12, 16), "3.1.20.4");
        } else if (d[3] == 0xF7) {
            EXPECT_EQ(Bytes(block + 20, block + 26), Bytes({0x02, 0x51, 0, 0, 0, 0x01}));
        }
    }
    EXPECT_EQ(codes, Bytes({0xD0, 0xD5, 0xF5, 0xF7, 0xF9}));

    // A 4-byte request for one missing block is answered with that block alone.
    const auto asked = h.Exchange(5, kIpA, Bytes{0, 0, 0, 0xE5});
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].bytes[3], 0xD5);
}

TEST(SimDiscoveryTest, DatagramReachesTheConvertersItIsAddressedTo) {
    struct Row {
        const char* name;
        uint32_t dst;
        std::set<uint32_t> answering;
    };
    const Row rows[] = {
        {"own address", kIpB, {kIpB}},
        {"limited broadcast", 0xFFFFFFFF, {kIpA, kIpB, kOtherNet}},
        {"directed broadcast of 198.18/16", 0xC612FFFF, {kIpA, kIpB}},
        {"directed broadcast of 10.1.0/24", 0x0A0100FF, {kOtherNet}},
        {"broadcast of a network no converter is in", 0xC0A801FF, {}},
        {"address of no converter", 0xC6120109, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FleetHarness h;
        h.Add(Converter(kIpA));
        h.Add(Converter(kIpB));
        SimConverterConfig other = Converter(kOtherNet);
        other.settings.prefix = 24;
        h.Add(other);
        std::set<uint32_t> answering;
        for (const auto& answer : h.Exchange(0, row.dst, Discovery()))
            answering.insert(answer.from);
        EXPECT_EQ(answering, row.answering);
        ASSERT_EQ(h.Events("datagram").size(), 1u);
        EXPECT_EQ(h.Events("datagram")[0]["hex"], "011a0000000000000000000034001200");
    }
}

TEST(SimDiscoveryTest, WithoutTheDatagramLogOnlyChangesAreLogged) {
    FleetHarness h;
    h.log.SetDatagramsLogged(false);
    h.Add(Converter(kIpA));
    EXPECT_EQ(h.Exchange(0, kIpA, Discovery()).size(), 1u) << "the converter still answers";
    EXPECT_TRUE(h.Events("datagram").empty());
    EXPECT_FALSE(h.Events("answered").empty());
}

TEST(SimDiscoveryTest, AnswersLeaveWithinTheDelayWindow) {
    FleetHarness h;
    for (uint32_t i = 0; i < 200; ++i) {
        SimConverterConfig c = Converter(kIpA + i);
        c.delay = {100, 900};
        c.seed = i + 1;
        h.Add(c);
    }
    h.fleet.OnDatagram(5000, kToolIp, kToolPort, 0xFFFFFFFF, Discovery().data(), 16);
    EXPECT_TRUE(h.fleet.TakeDue(5099).empty());
    ASSERT_EQ(h.fleet.NextDueMs().value_or(0) >= 5100, true);
    const auto due = h.fleet.TakeDue(5900);
    ASSERT_EQ(due.size(), 200u);
    std::set<uint64_t> times;
    for (const auto& answer : due)
        times.insert(answer.dueMs);
    EXPECT_TRUE(std::is_sorted(due.begin(), due.end(),
                               [](const auto& a, const auto& b) { return a.dueMs < b.dueMs; }));
    // Spread, not a burst: 200 draws over 800 ms land on many different milliseconds.
    EXPECT_GT(times.size(), 100u);
}

} // namespace
} // namespace qarn::sim::test
