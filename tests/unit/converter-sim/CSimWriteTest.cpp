// Configuration writes: who takes them, what they change, and how a new address is followed.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

namespace qarn::sim::test {
namespace {

constexpr uint32_t kIpA = 0xC6120101; // 198.18.1.1
constexpr uint32_t kIpB = 0xC6120102;
constexpr uint32_t kNewIp = 0xC6120150; // 198.18.1.80

const std::array<uint8_t, 6> kMacA = {0x02, 0x51, 0x00, 0x00, 0x00, 0x01};
const std::array<uint8_t, 6> kMacB = {0x02, 0x51, 0x00, 0x00, 0x00, 0x02};

WriteFields NewSettings(uint32_t ip, const std::array<uint8_t, 6>& mac) {
    WriteFields f;
    f.ip = ip;
    f.mac = mac;
    f.serial = "73145812345678";
    return f;
}

// The converter's settings as its next configuration answer reports them.
Bytes ReportedSettings(FleetHarness& h, uint32_t ip) {
    const auto answers = h.Exchange(0, ip, Discovery());
    if (answers.size() != 1)
        return {};
    Bytes d = answers[0].bytes;
    TestScramble(Le32(&d[12]), d.data() + 16, d.size() - 16);
    return d;
}

TEST(SimWriteTest, AppliedWriteShowsInTheNextAnswerAndKeepsTheFactoryData) {
    FleetHarness h;
    h.Add(Converter(kIpA));
    WriteFields f = NewSettings(kIpA, kMacB); // a MAC of another device: not taken over
    f.marker = 0;
    f.serial = "99999999999999";
    h.Exchange(0, kIpA, ConfigurationWrite(0x1B, f));
    ASSERT_EQ(h.Events("write_applied").size(), 1u);
    const Bytes d = ReportedSettings(h, kIpA);
    ASSERT_EQ(d.size(), 88u);
    EXPECT_EQ(Octets(&d[24]), f.gateway);
    EXPECT_EQ(d[28], 24);
    EXPECT_EQ(d[30], 3);
    EXPECT_EQ(Octets(&d[32]), f.extraIp);
    EXPECT_EQ(d[43], 9);
    EXPECT_EQ(d[58], 4);
    EXPECT_EQ(Octets(&d[60]), f.peer);
    EXPECT_EQ(Le16(&d[64]), 5001);
    EXPECT_EQ(Le16(&d[66]), 5002);
    EXPECT_EQ(Bytes(d.begin() + 80, d.begin() + 84), Bytes({'A', 'B', 0, 0}));
    EXPECT_EQ(d[84], 'K');
    EXPECT_EQ(d[85], 2);
    EXPECT_EQ(d[86], 7);
    // Generation marker, MAC, serial number, version and the answer-only option stay.
    EXPECT_EQ(Le32(&d[16]), 0x12131417u);
    EXPECT_EQ(Bytes(d.begin() + 36, d.begin() + 42), Bytes(kMacA.begin(), kMacA.end()));
    EXPECT_EQ(std::string(d.begin() + 44, d.begin() + 58), "73145812345678");
    EXPECT_EQ(Le32(&d[68]), 3012004u);
    EXPECT_EQ(d[42], 0x22);
}

TEST(SimWriteTest, WriteIsTakenOnlyByTheConverterItNames) {
    struct Row {
        const char* name;
        uint8_t cmd;
        uint32_t dst;
        std::array<uint8_t, 6> mac;
        size_t length;
        int appliedByA; // 1 when converter A takes it
        int appliedByB;
    };
    const Row rows[] = {
        {"0x1B to A's address", 0x1B, kIpA, kMacA, 88, 1, 0},
        {"0x1B to A's address with B's MAC", 0x1B, kIpA, kMacB, 88, 1, 0},
        {"0x1B broadcast with A's MAC", 0x1B, 0xFFFFFFFF, kMacA, 88, 1, 0},
        {"0x1C broadcast with B's MAC", 0x1C, 0xFFFFFFFF, kMacB, 88, 0, 1},
        {"0x1C directed broadcast with A's MAC", 0x1C, 0xC612FFFF, kMacA, 88, 1, 0},
        {"0x1C broadcast with an unknown MAC", 0x1C, 0xFFFFFFFF, {2, 0, 0, 0, 0, 9}, 88, 0, 0},
        {"0x1C to A's address with B's MAC", 0x1C, kIpA, kMacB, 88, 0, 0},
        {"80-byte write to A", 0x1B, kIpA, kMacA, 80, 0, 0},
        {"89-byte write to A", 0x1B, kIpA, kMacA, 89, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FleetHarness h;
        h.Add(Converter(kIpA));
        h.Add(Converter(kIpB));
        // Each converter keeps its own address: the write changes its ports and the like.
        const uint32_t keep = row.dst != kIpA && row.mac == kMacB ? kIpB : kIpA;
        Bytes write = ConfigurationWrite(row.cmd, NewSettings(keep, row.mac));
        write.resize(row.length, 0);
        EXPECT_TRUE(h.Exchange(0, row.dst, write).empty()) << "a write is never answered";
        int byA = 0;
        int byB = 0;
        for (const auto& event : h.Events("write_applied")) {
            byA += event["conv"] == "198.18.1.1";
            byB += event["conv"] == "198.18.1.2";
        }
        EXPECT_EQ(byA, row.appliedByA);
        EXPECT_EQ(byB, row.appliedByB);
        EXPECT_EQ(Le16(&ReportedSettings(h, kIpA)[64]), row.appliedByA ? 5001 : 4001);
    }
}

TEST(SimWriteTest, UnsoundWriteIsRefusedWhole) {
    struct Row {
        const char* name;
        uint32_t ip;
        uint8_t prefix;
    };
    const Row rows[] = {
        {"prefix length above 32", kIpA, 33},       {"address 0.0.0.0", 0, 24},
        {"broadcast address", 0xFFFFFFFF, 24},      {"multicast address", 0xE0000001, 24},
        {"address of another converter", kIpB, 24},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FleetHarness h;
        h.Add(Converter(kIpA));
        h.Add(Converter(kIpB));
        WriteFields f = NewSettings(row.ip, kMacA);
        f.prefix = row.prefix;
        h.Exchange(0, kIpA, ConfigurationWrite(0x1B, f));
        EXPECT_TRUE(h.Events("write_applied").empty());
        ASSERT_EQ(h.Events("write_refused").size(), 1u);
        EXPECT_FALSE(h.Events("write_refused")[0].value("reason", "").empty());
        const Bytes d = ReportedSettings(h, kIpA);
        ASSERT_EQ(d.size(), 88u);
        EXPECT_EQ(Le16(&d[64]), 4001) << "nothing of a refused write is applied";
        EXPECT_EQ(d[28], 16);
        EXPECT_TRUE(h.control.calls.empty());
    }
}

TEST(SimWriteTest, NewAddressMovesTheConverterAndItsAnswers) {
    FleetHarness h;
    h.Add(Converter(kIpA));
    h.Exchange(0, 0xFFFFFFFF, ConfigurationWrite(0x1C, NewSettings(kNewIp, kMacA)));
    ASSERT_EQ(h.control.calls.size(), 1u);
    EXPECT_EQ(h.control.calls[0], "move " + std::to_string(kIpA) + " " + std::to_string(kNewIp));
    ASSERT_EQ(h.Events("address_moved").size(), 1u);
    EXPECT_EQ(h.Events("address_moved")[0]["to"], "198.18.1.80");
    EXPECT_TRUE(h.Exchange(0, kIpA, Discovery()).empty()) << "the old address is silent";
    const auto answers = h.Exchange(0, kNewIp, Discovery());
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].from, kNewIp);
    const Bytes d = ReportedSettings(h, kNewIp);
    EXPECT_EQ(Octets(&d[20]), kNewIp);
    // The new network's directed broadcast (prefix 24 now) reaches it; the old one's does not.
    EXPECT_EQ(h.Exchange(0, 0xC61201FF, Discovery()).size(), 1u);
    EXPECT_TRUE(h.Exchange(0, 0xC612FFFF, Discovery()).empty());
}

} // namespace
} // namespace qarn::sim::test
