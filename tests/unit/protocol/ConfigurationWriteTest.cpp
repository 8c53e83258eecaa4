#include "protocol/ConfigurationWrite.h"

#include "ConverterDatagrams.h"
#include "FakeEndpoint.h"
#include "protocol/EditRules.h"
#include "support/NetLab.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Get32;
using test::Ip;

constexpr uint32_t kSeed = 0x7ABC1234;
constexpr MacAddress kMac = {0x00, 0x20, 0x4A, 0x12, 0x34, 0x56};

LANconvDevice FilledRecord() {
    LANconvDevice r;
    r.dwSourceIp = Ip(10, 0, 0, 5);
    r.dwIp = Ip(192, 168, 7, 21);
    r.dwReportedIp = Ip(1, 1, 1, 1);
    r.dwNetmask = 0xFFFFFF00;
    r.dwGateway = Ip(192, 168, 7, 1);
    r.dwPeerIp = Ip(192, 168, 7, 200);
    r.dwExtraIp = Ip(172, 16, 0, 9);
    r.dwFirmwareVersion = 3026211;
    r.wPort1 = 0x1234;
    r.wPort2 = 0xBEEF;
    r.byOptionA = 0xA1;
    r.byOptionB = 0xB2;
    r.byOptionC = 0xC3;
    r.byOptionD = 0xD4;
    r.byOptionE = 0xE5;
    r.nKind = kKindExtended;
    r.strSerial = "73145800012345";
    r.abyMac = kMac;
    r.strCode = "QX7";
    r.chLetter = 'K';
    r.bySystemType = 2;
    return r;
}

// The write with its settings block unscrambled by the test's own scrambler.
std::vector<uint8_t> PlainWrite(const LANconvDevice& record) {
    std::vector<uint8_t> d = BuildConfigurationWrite(record, kSeed);
    EXPECT_EQ(d.size(), 88u);
    if (d.size() == 88)
        test::TestScramble(Get32(d, 12), d.data() + 16, 72);
    return d;
}

TEST(ConfigurationWriteTest, EveryFieldAtItsOffsetAndNothingElse) {
    const std::vector<uint8_t> d = PlainWrite(FilledRecord());
    std::vector<uint8_t> expected(88, 0);
    expected[0] = 1;
    expected[1] = 0x1B;
    test::Put32(expected, 12, kSeed);
    test::Put32(expected, 16, 0x12131417);
    test::Put32(expected, 20, Ip(192, 168, 7, 21));
    test::Put32(expected, 24, Ip(192, 168, 7, 1));
    expected[28] = 24;
    expected[30] = 0xA1;
    test::Put32(expected, 32, Ip(172, 16, 0, 9));
    std::copy(kMac.begin(), kMac.end(), expected.begin() + 36);
    expected[43] = 0xB2; // 42 (option C) stays 0: answers only
    test::PutText(expected, 44, "73145800012345");
    expected[58] = 0xD4;
    test::Put32(expected, 60, Ip(192, 168, 7, 200));
    expected[64] = 0x34;
    expected[65] = 0x12;
    expected[66] = 0xEF;
    expected[67] = 0xBE; // 68..71, the firmware version, stay 0
    test::PutText(expected, 80, "QX7");
    expected[84] = 'K';
    expected[85] = 2;
    expected[86] = 0xE5;
    EXPECT_EQ(d, expected);

    // And on the wire the block is scrambled.
    const std::vector<uint8_t> wire = BuildConfigurationWrite(FilledRecord(), kSeed);
    EXPECT_TRUE(std::equal(wire.begin(), wire.begin() + 16, expected.begin()));
    EXPECT_FALSE(std::equal(wire.begin() + 16, wire.end(), expected.begin() + 16));
}

TEST(ConfigurationWriteTest, CommandMarkerAndSerialByKindAndArticle) {
    const struct {
        const char* name;
        int32_t kind;
        std::string serial;
        uint8_t cmd;
        uint32_t marker;
        std::string serialBytes; // offsets 44..57, up to the first 0
    } rows[] = {
        {"by MAC", kKindByMac, "46951700000001", 0x1C, 0x12131417, ""},
        {"extended article", kKindStandard, "76290400000001", 0x1B, 0x12131417, "76290400000001"},
        {"standard article", kKindExtended, "46982300000001", 0x1B, 0x12131416, "46982300000001"},
        {"other article", kKindExtended, "12345600000001", 0x1B, 0, "12345600000001"},
        {"no serial", kKindNone, "", 0x1B, 0, ""},
        {"serial longer than 14", kKindStandard, "7388120000000123", 0x1B, 0x12131416,
         "73881200000001"},
        {"Latin-1 serial", kKindStandard, "738812\u00C4BC", 0x1B, 0x12131416,
         "738812\xC4"
         "BC"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LANconvDevice record = FilledRecord();
        record.nKind = row.kind;
        record.strSerial = row.serial;
        const std::vector<uint8_t> d = PlainWrite(record);
        EXPECT_EQ(d[1], row.cmd);
        EXPECT_EQ(Get32(d, 16), row.marker);
        std::string serial;
        for (size_t i = 44; i < 58 && d[i] != 0; ++i)
            serial += static_cast<char>(d[i]);
        EXPECT_EQ(serial, row.serialBytes);
        for (size_t i = 44 + serial.size(); i < 58; ++i)
            EXPECT_EQ(d[i], 0) << "offset " << i;
    }
}

TEST(ConfigurationWriteTest, NetmaskAndCodeAsTheWriteCarriesThem) {
    const struct {
        uint32_t netmask;
        uint8_t prefix;
    } masks[] = {{0xFFFFFF00, 24}, {0, 0}, {0xFF00FF00, 8}, {0xFFFFFFFF, 32}, {0x0FFFFFFF, 0}};
    for (const auto& row : masks) {
        LANconvDevice record = FilledRecord();
        record.dwNetmask = row.netmask;
        EXPECT_EQ(PlainWrite(record)[28], row.prefix) << std::hex << row.netmask;
    }
    LANconvDevice record = FilledRecord();
    record.strCode = "ABCDEFG";
    const std::vector<uint8_t> d = PlainWrite(record);
    EXPECT_EQ(std::string(d.begin() + 80, d.begin() + 84), "ABCD");
    EXPECT_EQ(d[84], 'K');
}

TEST(ConfigurationWriteTest, TheListReadsAWriteBackAsTheSameSettings) {
    // A write has the layout of an 88-byte answer: reading it back must give the fields back,
    // except what only answers carry.
    test::EchoTable echo;
    DeviceList list(
        echo, [] { return int64_t{50}; }, ParallelEcho::kInline);
    const LANconvDevice written = FilledRecord();
    ASSERT_EQ(list.OnConverterAnswer(Ip(10, 0, 0, 5), BuildConfigurationWrite(written)),
              AnswerDisposition::Applied);
    const LANconvDevice& read = *list.GetRecord(0);
    EXPECT_EQ(read.dwReportedIp, written.dwIp);
    EXPECT_EQ(read.dwNetmask, written.dwNetmask);
    EXPECT_EQ(read.dwGateway, written.dwGateway);
    EXPECT_EQ(read.dwPeerIp, written.dwPeerIp);
    EXPECT_EQ(read.dwExtraIp, written.dwExtraIp);
    EXPECT_EQ(read.wPort1, written.wPort1);
    EXPECT_EQ(read.wPort2, written.wPort2);
    EXPECT_EQ(read.abyMac, written.abyMac);
    EXPECT_EQ(read.strSerial, written.strSerial);
    EXPECT_EQ(read.strCode, written.strCode);
    EXPECT_EQ(read.chLetter, written.chLetter);
    EXPECT_EQ(read.bySystemType, written.bySystemType);
    EXPECT_EQ(read.byOptionA, written.byOptionA);
    EXPECT_EQ(read.byOptionB, written.byOptionB);
    EXPECT_EQ(read.byOptionD, written.byOptionD);
    EXPECT_EQ(read.byOptionE, written.byOptionE);
    EXPECT_EQ(read.nKind, kKindExtended);
    EXPECT_EQ(read.dwFirmwareVersion, 0u);
    EXPECT_EQ(read.byOptionC, 0);
}

class WriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AddRow(kSource, kMac);
        AddRow(kOther, {0x00, 0x20, 0x4A, 0x99, 0x99, 0x99});
    }
    void AddRow(uint32_t source, const MacAddress& mac) {
        test::AnswerSettings s;
        s.mac = mac;
        ASSERT_EQ(list.OnConverterAnswer(source, test::ConfigurationAnswer(s)),
                  AnswerDisposition::Applied);
    }
    LANconvDevice Working() const { return *list.GetRecord(*list.FindRowBySource(kSource)); }

    static constexpr uint32_t kSource = Ip(10, 0, 0, 5);
    static constexpr uint32_t kOther = Ip(10, 0, 0, 6);
    test::EchoTable echo;
    test::FakeEndpoint endpoint;
    DeviceList list{echo, [] { return int64_t{100}; }, ParallelEcho::kInline};
    DiscoveryCycle discovery{endpoint, list};
    MacLookupResult neighbour{MacLookupStatus::NoRow, {}};
    std::vector<uint32_t> lookedUp;
    ConfigurationWriter writer{endpoint, list, discovery, echo, [this](uint32_t address) {
                                   lookedUp.push_back(address);
                                   return neighbour;
                               }};
};

TEST_F(WriterTest, OutcomesOfTheWriteButton) {
    constexpr uint32_t kNew = Ip(10, 0, 0, 77);
    constexpr uint32_t kBroadcast = 0xFFFFFFFF;
    struct Row {
        const char* name;
        std::function<void(LANconvDevice&)> edit; // on the working copy, after BeginEdit
        bool newAddressAnswers;
        MacLookupResult neighbour;
        bool busy;
        WriteOutcome outcome;
        uint32_t sentTo; // 0: nothing sent
        bool oldRowGone;
        bool lookupAsked;
    };
    const MacLookupResult ours{MacLookupStatus::Found, kMac};
    const MacLookupResult foreign{MacLookupStatus::Found, {0x00, 0x20, 0x4A, 0, 0, 1}};
    const MacLookupResult noRow{MacLookupStatus::NoRow, {}};
    const MacLookupResult failed{MacLookupStatus::Failed, {}};
    const auto moveTo = [](LANconvDevice& w) { w.dwIp = kNew; };
    const Row rows[] = {
        {"address kept", [](LANconvDevice&) {}, true, ours, false, WriteOutcome::SentUnicast,
         kSource, false, false},
        {"address kept, unreachable", [](LANconvDevice& w) { w.bUnreachable = true; }, true, ours,
         false, WriteOutcome::SentBroadcast, kBroadcast, false, false},
        {"named by MAC", [](LANconvDevice& w) { w.nKind = kKindByMac; }, true, ours, false,
         WriteOutcome::SentBroadcast, kBroadcast, false, false},
        {"moved to a free address", moveTo, false, foreign, false, WriteOutcome::SentUnicast,
         kSource, true, false},
        {"moved to where it already answers", moveTo, true, ours, false, WriteOutcome::SentUnicast,
         kSource, true, true},
        {"moved onto another device", moveTo, true, foreign, false, WriteOutcome::AddressTaken, 0,
         false, true},
        {"moved to an address without neighbour row", moveTo, true, noRow, false,
         WriteOutcome::AddressTaken, 0, false, true},
        {"neighbour table unreadable", moveTo, true, failed, false, WriteOutcome::AddressTaken, 0,
         false, true},
        {"firmware update running", moveTo, false, ours, true, WriteOutcome::Busy, 0, false, false},
        {"no source address", [](LANconvDevice& w) { w.dwSourceIp = 0; }, true, ours, false,
         WriteOutcome::NoDestination, 0, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp(); // the rows come back for each case
        echo.silent = row.newAddressAnswers ? std::set<uint32_t>{} : std::set<uint32_t>{kNew};
        echo.asked.clear();
        endpoint.sent.clear();
        lookedUp.clear();
        neighbour = row.neighbour;
        discovery.RestartCountdown();
        discovery.Tick(); // countdown 3

        LANconvDevice working = Working();
        const LANconvDevice snapshot = BeginEdit(working);
        row.edit(working);
        const WriteResult result = writer.OnWriteConfiguration(working, snapshot, row.busy);

        EXPECT_EQ(result.outcome, row.outcome);
        const bool moved = working.dwIp != snapshot.dwIp && !row.busy &&
                           row.outcome != WriteOutcome::NoDestination;
        EXPECT_EQ(echo.asked, moved ? std::vector<uint32_t>{kNew} : std::vector<uint32_t>{});
        EXPECT_EQ(lookedUp,
                  row.lookupAsked ? std::vector<uint32_t>{kNew} : std::vector<uint32_t>{});
        EXPECT_EQ(result.removedOldRow, row.oldRowGone);
        EXPECT_EQ(list.FindRowBySource(kSource) == std::nullopt, row.oldRowGone);
        EXPECT_NE(list.FindRowBySource(kOther), std::nullopt);
        if (row.sentTo == 0) {
            EXPECT_TRUE(endpoint.sent.empty());
            EXPECT_TRUE(result.datagram.empty());
            EXPECT_EQ(discovery.GetCountdown(), 3) << "a refused write changes nothing";
            continue;
        }
        ASSERT_EQ(endpoint.sent.size(), 1u);
        EXPECT_EQ(endpoint.sent[0].address, row.sentTo);
        EXPECT_EQ(endpoint.sent[0].port, 0) << "the endpoint's converter port";
        EXPECT_EQ(endpoint.sent[0].datagram, result.datagram);
        EXPECT_EQ(result.destination, row.sentTo);
        EXPECT_TRUE(result.sendSucceeded);
        EXPECT_EQ(discovery.GetCountdown(), DiscoveryCycle::kTicksPerRequest);
        std::vector<uint8_t> plain = result.datagram;
        test::TestScramble(Get32(plain, 12), plain.data() + 16, 72);
        EXPECT_EQ(Get32(plain, 20), working.dwIp);
    }
}

TEST_F(WriterTest, AFailedSendIsReportedAsSuch) {
    endpoint.sendSucceeds = false;
    LANconvDevice working = Working();
    const LANconvDevice snapshot = BeginEdit(working);
    const WriteResult result = writer.OnWriteConfiguration(working, snapshot, false);
    EXPECT_EQ(result.outcome, WriteOutcome::SentUnicast);
    EXPECT_FALSE(result.sendSucceeded);
    EXPECT_EQ(endpoint.sent.size(), 1u);
}

TEST(GetMacForAddressTest, TellsNoRowFromAFoundAddress) {
    QARN_REQUIRE_NETLAB();
    ASSERT_TRUE(test::AddDummy("cw0", "198.18.9.1/24"));
    ASSERT_TRUE(test::RunOk("ip neigh add 198.18.9.10 lladdr 02:11:22:33:44:55 nud permanent "
                            "dev cw0"));
    const MacLookupResult found = GetMacForAddress(Ip(198, 18, 9, 10));
    EXPECT_EQ(found.status, MacLookupStatus::Found);
    EXPECT_EQ(found.mac, (MacAddress{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
    const MacLookupResult missing = GetMacForAddress(Ip(198, 18, 9, 11));
    EXPECT_EQ(missing.status, MacLookupStatus::NoRow);
    EXPECT_EQ(missing.mac, MacAddress{});
}

} // namespace
} // namespace qarn
