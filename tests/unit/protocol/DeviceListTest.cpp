#include "protocol/DeviceList.h"

#include "ConverterDatagrams.h"
#include "protocol/ConverterText.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::AnswerSettings;
using test::BlockAnswer;
using test::ConfigurationAnswer;
using test::Ip;
using test::MacBlock;
using test::SerialBlock;
using test::VersionBlock;

constexpr uint32_t kSource = Ip(10, 0, 0, 5);
constexpr MacAddress kMacA = {0x00, 0x20, 0x4A, 0xAA, 0x00, 0x01};
constexpr MacAddress kMacB = {0x00, 0x20, 0x4A, 0xBB, 0x00, 0x02};

// Writes every notification as one short line, so a test can compare the whole conversation.
class RecordingObserver : public IDeviceListObserver {
  public:
    void UpdateStarted() override { Add("start"); }
    void UpdateFinished(std::optional<size_t> row) override {
        Add("finish " + (row ? std::to_string(*row) : std::string("-")));
    }
    void RowAboutToBeInserted(size_t row) override { Add("insert? " + std::to_string(row)); }
    void RowInserted(size_t row) override { Add("insert " + std::to_string(row)); }
    void RowAboutToBeRemoved(size_t row) override { Add("remove? " + std::to_string(row)); }
    void RowRemoved(size_t row) override { Add("remove " + std::to_string(row)); }
    void RowChanged(size_t row) override { Add("change " + std::to_string(row)); }
    void RowsAboutToBeCleared() override { Add("clear?"); }
    void RowsCleared() override { Add("clear"); }
    void RowsAboutToBeSorted() override { Add("sort?"); }
    void RowsSorted() override { Add("sort"); }
    void AnswerApplied() override { Add("applied"); }

    std::string Take() {
        std::string all = log;
        log.clear();
        return all;
    }

  private:
    void Add(const std::string& line) { log += (log.empty() ? "" : ", ") + line; }
    std::string log;
};

class DeviceListTest : public ::testing::Test {
  protected:
    AnswerDisposition Feed(uint32_t source, const std::vector<uint8_t>& datagram) {
        return list.OnConverterAnswer(source, datagram);
    }
    const LANconvDevice* Record(uint32_t source) const {
        const std::optional<size_t> row = list.FindRowBySource(source);
        return row ? list.GetRecord(*row) : nullptr;
    }
    std::string Column(uint32_t source, int column) const {
        const std::optional<size_t> row = list.FindRowBySource(source);
        return row ? list.GetColumnText(*row, column) : "(no row)";
    }
    // The source addresses of the rows, in row order.
    std::vector<uint32_t> Sources() const {
        std::vector<uint32_t> sources;
        for (size_t row = 0; row < list.GetRowCount(); ++row)
            sources.push_back(list.GetRecord(row)->dwSourceIp);
        return sources;
    }
    // Every row is found again by its source address.
    void ExpectLookupMatchesRows() const {
        for (size_t row = 0; row < list.GetRowCount(); ++row)
            EXPECT_EQ(list.FindRowBySource(list.GetRecord(row)->dwSourceIp), row);
    }

    int64_t now = 1000;
    test::EchoTable echo;
    DeviceList list{echo, [this] { return now; }, ParallelEcho::kInline};
};

TEST_F(DeviceListTest, ConfigurationAnswerFillsTheRecordAndTheColumns) {
    const AnswerSettings s;
    const std::vector<uint8_t> datagram = ConfigurationAnswer(s, 88);
    ASSERT_EQ(Feed(kSource, datagram), AnswerDisposition::Applied);

    ASSERT_EQ(list.GetRowCount(), 1u);
    EXPECT_EQ(echo.asked, std::vector<uint32_t>{kSource});
    EXPECT_TRUE(list.GetRecord(0)->bEchoPending) << "until the owner collects the result";
    EXPECT_EQ(list.GetPendingEchoCount(), 1u);
    EXPECT_EQ(list.CollectEchoResults(), 1u);
    EXPECT_EQ(list.GetPendingEchoCount(), 0u);
    const LANconvDevice& r = *list.GetRecord(0);
    EXPECT_EQ(r.dwSourceIp, kSource);
    EXPECT_EQ(r.dwIp, kSource) << "the address to configure starts as the source address";
    EXPECT_EQ(r.dwReportedIp, s.ip);
    EXPECT_EQ(r.dwGateway, s.gateway);
    EXPECT_EQ(r.dwNetmask, 0xFFFFFF00u);
    EXPECT_EQ(r.dwExtraIp, s.extraIp);
    EXPECT_EQ(r.dwPeerIp, s.peer);
    EXPECT_EQ(r.abyMac, s.mac);
    EXPECT_EQ(r.strSerial, s.serial);
    EXPECT_EQ(r.wPort1, 4001);
    EXPECT_EQ(r.wPort2, 4002);
    EXPECT_EQ(r.dwFirmwareVersion, s.firmware);
    EXPECT_EQ(r.byOptionA, s.optionA);
    EXPECT_EQ(r.byOptionB, s.optionB);
    EXPECT_EQ(r.byOptionC, s.optionC);
    EXPECT_EQ(r.byOptionD, s.optionD);
    EXPECT_EQ(r.byOptionE, s.optionE);
    EXPECT_EQ(r.strCode, "QX7");
    EXPECT_EQ(r.chLetter, 'K');
    EXPECT_EQ(r.bySystemType, 2);
    EXPECT_EQ(r.nKind, kKindExtended);
    EXPECT_EQ(r.lastSeen, now);
    const std::span<const uint8_t> kept = r.aBlocks[kSlotSettings];
    EXPECT_EQ(std::vector<uint8_t>(kept.begin(), kept.end()), datagram)
        << "slot 0 keeps the answer as received";
    for (size_t slot = 0; slot < kBlockSlotCount; ++slot) {
        const bool counted = slot == 0 || slot == 5 || slot == 16 || slot == 17;
        EXPECT_EQ(r.abBlockSeen[slot], counted) << "slot " << slot;
    }
    EXPECT_FALSE(r.bUnreachable);
    EXPECT_FALSE(r.bEchoPending);
    EXPECT_TRUE(r.bComplete);
    EXPECT_EQ(list.GetColourClass(0), RowColourClass::ReachableComplete);

    EXPECT_EQ(list.GetColumnText(0, DeviceList::kColumnAddress), "10.0.0.5");
    EXPECT_EQ(list.GetColumnText(0, DeviceList::kColumnMac), "00 20 4a 11 22 33");
    EXPECT_EQ(list.GetColumnText(0, DeviceList::kColumnSerial), "731458-0001-2345");
    EXPECT_EQ(list.GetColumnText(0, DeviceList::kColumnVersion), "3.2.62.11");
}

TEST_F(DeviceListTest, AnswerVariantsAndTheFieldsTheyDecide) {
    struct Row {
        const char* name;
        size_t size;
        std::function<void(AnswerSettings&)> change;
        std::function<void(const LANconvDevice&)> check;
    };
    const Row rows[] = {
        {"80 bytes carry no code, letter, type or last option", 80, [](AnswerSettings&) {},
         [](const LANconvDevice& r) {
             EXPECT_EQ(r.strCode, "");
             EXPECT_EQ(r.chLetter, 0);
             EXPECT_EQ(r.bySystemType, 0);
             EXPECT_EQ(r.byOptionE, 0);
             EXPECT_EQ(r.wPort2, 4002) << "the fields before offset 80 are all there";
             EXPECT_EQ(r.dwFirmwareVersion, 3026211u);
         }},
        {"letter 0 reads as underscore", 88, [](AnswerSettings& s) { s.letter = 0; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.chLetter, '_'); }},
        {"system type digit 0", 88, [](AnswerSettings& s) { s.systemType = '0'; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.bySystemType, 0); }},
        {"system type digit 1", 88, [](AnswerSettings& s) { s.systemType = '1'; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.bySystemType, 1); }},
        {"system type digit 2 stays a character", 88, [](AnswerSettings& s) { s.systemType = '2'; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.bySystemType, '2'); }},
        {"system type none", 88, [](AnswerSettings& s) { s.systemType = 0xFF; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.bySystemType, 0xFF); }},
        {"code of four bytes without terminator", 88, [](AnswerSettings& s) { s.code = "AB\xE9Z"; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.strCode, "AB\u00E9Z"); }},
        {"standard marker", 88, [](AnswerSettings& s) { s.marker = 0x12131416; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.nKind, kKindStandard); }},
        {"no marker counts as standard", 88, [](AnswerSettings& s) { s.marker = 0; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.nKind, kKindStandard); }},
        {"prefix 0", 88, [](AnswerSettings& s) { s.prefixLength = 0; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.dwNetmask, 0u); }},
        {"prefix 1", 88, [](AnswerSettings& s) { s.prefixLength = 1; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.dwNetmask, 0x80000000u); }},
        {"prefix 40", 88, [](AnswerSettings& s) { s.prefixLength = 40; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.dwNetmask, 0xFFFFFFFFu); }},
        {"serial cut at its first 0, Latin-1 characters", 88,
         [](AnswerSettings& s) { s.serial = std::string("ABC\xC4") + '\0' + "XYZ"; },
         [](const LANconvDevice& r) { EXPECT_EQ(r.strSerial, "ABC\u00C4"); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeviceList fresh(
            echo, [this] { return now; }, ParallelEcho::kInline);
        AnswerSettings settings;
        row.change(settings);
        ASSERT_EQ(fresh.OnConverterAnswer(kSource, ConfigurationAnswer(settings, row.size)),
                  AnswerDisposition::Applied);
        ASSERT_EQ(fresh.GetRowCount(), 1u);
        row.check(*fresh.GetRecord(0));
    }
}

TEST_F(DeviceListTest, DatagramsThatFailTheChecksLeaveNoTrace) {
    RecordingObserver observer;
    list.SetObserver(&observer);
    std::vector<uint8_t> typeTwo = ConfigurationAnswer(AnswerSettings{});
    typeTwo[0] = 2;
    std::vector<uint8_t> discovery(16, 0);
    discovery[0] = 1;
    discovery[1] = 0x1A;
    const struct {
        const char* name;
        std::vector<uint8_t> datagram;
        AnswerDisposition disposition;
    } rows[] = {
        {"empty", {}, AnswerDisposition::TooShort},
        {"three bytes", {3, 0, 0}, AnswerDisposition::TooShort},
        {"type 2", typeTwo, AnswerDisposition::IgnoredType},
        {"write by MAC is no answer", ConfigurationAnswer({}, 88, 7, 0x1C),
         AnswerDisposition::NotConfigurationAnswer},
        {"84 bytes", ConfigurationAnswer({}, 84), AnswerDisposition::NotConfigurationAnswer},
        {"our own discovery request", discovery, AnswerDisposition::NotConfigurationAnswer},
        {"block of only a header start", BlockAnswer(0xD0, 4), AnswerDisposition::NotBlockAnswer},
        {"block 0xFC", BlockAnswer(0xFC, 40), AnswerDisposition::NotBlockAnswer},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Feed(kSource, row.datagram), row.disposition);
    }
    EXPECT_EQ(list.GetRowCount(), 0u);
    EXPECT_TRUE(echo.asked.empty());
    EXPECT_EQ(observer.Take(), "");
}

TEST_F(DeviceListTest, BlockAnswersFillTheirSlotAndTheFieldTheyCarry) {
    std::vector<uint8_t> longVersion = VersionBlock("12.34.56.78.9.10", 32);
    struct Row {
        const char* name;
        std::vector<uint8_t> datagram;
        size_t slot;
        size_t kept; // bytes the slot keeps: up to the end of the field it feeds
        std::function<void(const DeviceList&)> check;
    };
    const Row rows[] = {
        {"0xD0 is slot 0", BlockAnswer(0xD0, 50), 0, 0, nullptr},
        {"0xF9 is slot 0 too", BlockAnswer(0xF9, 50), 0, 0, nullptr},
        {"0xDF is slot 15", BlockAnswer(0xDF, 50), 15, 0, nullptr},
        {"8 KB for a slot without a field: nothing kept", BlockAnswer(0xD3, 8192), 3, 0,
         [](const DeviceList& l) { EXPECT_EQ(l.GetRecord(0)->aBlocks.TotalBytes(), 0u); }},
        {"8 KB for the serial slot: kept up to the serial", SerialBlock("76290412345678", 8192), 5,
         116, nullptr},
        {"version text", VersionBlock("3.1.4.1"), 16, 28,
         [](const DeviceList& l) {
             EXPECT_EQ(l.GetColumnText(0, DeviceList::kColumnVersion), "3.1.4.1");
             EXPECT_EQ(l.GetRecord(0)->dwFirmwareVersion, 0u) << "only the column shows it";
         }},
        {"version text of 16 characters without a 0", longVersion, 16, 28,
         [](const DeviceList& l) {
             EXPECT_EQ(l.GetColumnText(0, DeviceList::kColumnVersion), "12.34.56.78.9.10");
         }},
        {"version text cut off by the end of the block", VersionBlock("1.2.3.4.5.6.7.8", 24), 16,
         20,
         [](const DeviceList& l) {
             EXPECT_EQ(l.GetColumnText(0, DeviceList::kColumnVersion), "");
         }},
        {"MAC block", MacBlock(kMacA, 200), 17, 26,
         [](const DeviceList& l) {
             EXPECT_EQ(l.GetRecord(0)->abyMac, kMacA);
             EXPECT_EQ(l.GetColumnText(0, DeviceList::kColumnMac), "00 20 4a aa 00 01");
         }},
        {"MAC block one byte short", MacBlock(kMacA, 29), 17, 25,
         [](const DeviceList& l) {
             EXPECT_EQ(l.GetRecord(0)->abyMac, MacAddress{});
             EXPECT_EQ(l.GetColumnText(0, DeviceList::kColumnMac), "");
         }},
        {"serial of an extended article", SerialBlock("76290412345678"), 5, 116,
         [](const DeviceList& l) {
             EXPECT_EQ(l.GetRecord(0)->strSerial, "76290412345678");
             EXPECT_EQ(l.GetRecord(0)->nKind, kKindExtended);
             EXPECT_EQ(l.GetColumnText(0, DeviceList::kColumnSerial), "762904-1234-5678");
         }},
        {"serial of a standard article", SerialBlock("469823"), 5, 116,
         [](const DeviceList& l) {
             EXPECT_EQ(l.GetRecord(0)->nKind, kKindStandard);
             EXPECT_EQ(l.GetColumnText(0, DeviceList::kColumnSerial), "469823--9823");
         }},
        {"serial of another article keeps the kind", SerialBlock("111111AAAA"), 5, 116,
         [](const DeviceList& l) { EXPECT_EQ(l.GetRecord(0)->nKind, kKindNone); }},
        {"serial block one byte short", SerialBlock("76290412345678", 119), 5, 115,
         [](const DeviceList& l) {
             EXPECT_EQ(l.GetRecord(0)->strSerial, "");
             EXPECT_EQ(l.GetRecord(0)->nKind, kKindNone);
             EXPECT_EQ(l.GetColumnText(0, DeviceList::kColumnSerial), "");
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeviceList fresh(
            echo, [this] { return now; }, ParallelEcho::kInline);
        ASSERT_EQ(fresh.OnConverterAnswer(kSource, row.datagram), AnswerDisposition::Applied);
        ASSERT_EQ(fresh.GetRowCount(), 1u);
        const LANconvDevice& r = *fresh.GetRecord(0);
        const std::span<const uint8_t> kept = r.aBlocks[row.slot];
        EXPECT_EQ(std::vector<uint8_t>(kept.begin(), kept.end()),
                  std::vector<uint8_t>(row.datagram.begin() + 4,
                                       row.datagram.begin() + 4 + static_cast<long>(row.kept)));
        for (size_t slot = 0; slot < kBlockSlotCount; ++slot)
            EXPECT_EQ(r.abBlockSeen[slot], slot == row.slot) << "slot " << slot;
        EXPECT_EQ(r.lastSeen, now);
        EXPECT_FALSE(r.bComplete);
        EXPECT_EQ(fresh.GetColourClass(0), RowColourClass::ReachableIncomplete);
        EXPECT_EQ(fresh.GetColumnText(0, DeviceList::kColumnAddress), "10.0.0.5");
        if (row.check)
            row.check(fresh);
    }
}

TEST_F(DeviceListTest, ARowIsCompleteWithAllFourBlocksOrWhenUnreachable) {
    const uint32_t deaf = Ip(10, 0, 0, 6);
    echo.silent.insert(deaf);
    for (const auto& block :
         {BlockAnswer(0xD0, 40), SerialBlock("73881200000001"), MacBlock(kMacA)})
        Feed(kSource, block);
    EXPECT_FALSE(Record(kSource)->bComplete) << "block 16 is missing";
    EXPECT_TRUE(IsDrawnRed(list.GetColourClass(*list.FindRowBySource(kSource))));
    Feed(kSource, VersionBlock("2.3.0.0"));
    EXPECT_TRUE(Record(kSource)->bComplete);
    EXPECT_TRUE(IsDrawnRed(list.GetColourClass(*list.FindRowBySource(kSource))))
        << "its echo is still out: it may yet turn out deaf";
    list.CollectEchoResults();
    EXPECT_FALSE(IsDrawnRed(list.GetColourClass(*list.FindRowBySource(kSource))));

    // Until its echo result is collected, a converter counts as reachable.
    Feed(deaf, BlockAnswer(0xD1, 40));
    ASSERT_NE(Record(deaf), nullptr);
    EXPECT_TRUE(Record(deaf)->bEchoPending);
    EXPECT_FALSE(Record(deaf)->bUnreachable);
    EXPECT_FALSE(Record(deaf)->bComplete);
    EXPECT_EQ(list.GetColourClass(*list.FindRowBySource(deaf)),
              RowColourClass::ReachableIncomplete);
    list.CollectEchoResults();
    EXPECT_TRUE(Record(deaf)->bUnreachable);
    EXPECT_TRUE(Record(deaf)->bComplete);
    EXPECT_EQ(list.GetColourClass(*list.FindRowBySource(deaf)),
              RowColourClass::UnreachableComplete);
    EXPECT_TRUE(IsDrawnRed(RowColourClass::UnreachableComplete));

    Feed(deaf, ConfigurationAnswer({}));
    list.CollectEchoResults();
    EXPECT_EQ(echo.asked, (std::vector<uint32_t>{kSource, deaf})) << "one echo per new row";
    EXPECT_TRUE(Record(deaf)->bUnreachable) << "never asked again while the row lives";
}

TEST_F(DeviceListTest, ExtendedConvertersAreDescribedByTheirConfigurationAnswerAlone) {
    Feed(kSource, ConfigurationAnswer({}));
    const LANconvDevice before = *Record(kSource);
    now += 5;
    EXPECT_EQ(Feed(kSource, MacBlock(kMacB)), AnswerDisposition::ExtendedRowIgnoresBlock);
    EXPECT_EQ(*Record(kSource), before) << "not even lastSeen moves";

    // A block-only converter becomes extended by its article and hears no further blocks.
    const uint32_t other = Ip(10, 0, 0, 7);
    Feed(other, SerialBlock("73145800000001"));
    EXPECT_EQ(Feed(other, MacBlock(kMacB)), AnswerDisposition::ExtendedRowIgnoresBlock);

    // A standard converter takes blocks after its configuration answer.
    const uint32_t standard = Ip(10, 0, 0, 8);
    AnswerSettings s;
    s.marker = 0x12131416;
    Feed(standard, ConfigurationAnswer(s));
    EXPECT_EQ(Feed(standard, MacBlock(kMacB)), AnswerDisposition::Applied);
    EXPECT_EQ(Record(standard)->abyMac, kMacB);
}

TEST_F(DeviceListTest, LearningAMacAddressDropsEveryOtherRowWithIt) {
    const uint32_t a = Ip(10, 0, 0, 1), b = Ip(10, 0, 0, 2), c = Ip(10, 0, 0, 3),
                   d = Ip(10, 0, 0, 4);
    AnswerSettings withA;
    withA.mac = kMacA;
    AnswerSettings withB;
    withB.mac = kMacB;
    Feed(a, ConfigurationAnswer(withA));
    Feed(c, ConfigurationAnswer(withB));
    Feed(d, BlockAnswer(0xD0, 40)); // no MAC address known yet
    ASSERT_EQ(list.GetRowCount(), 3u);

    RecordingObserver observer;
    list.SetObserver(&observer);
    Feed(b, ConfigurationAnswer(withA)); // the converter of row a moved to b
    EXPECT_EQ(Sources(), (std::vector<uint32_t>{c, d, b}));
    EXPECT_EQ(observer.Take(), "start, insert? 3, insert 3, change 3, remove? 0, remove 0, "
                               "applied, finish -")
        << "row count unchanged: no sort; no row is brought into view";
    ExpectLookupMatchesRows();

    // The same rule for a MAC block; the row that reported last stays.
    AnswerSettings standardB;
    standardB.mac = kMacB;
    standardB.marker = 0x12131416;
    Feed(c, ConfigurationAnswer(standardB));
    Feed(b, MacBlock(kMacB)); // b is extended: ignored
    EXPECT_EQ(list.GetRowCount(), 3u);
    Feed(d, MacBlock(kMacB));
    EXPECT_EQ(Sources(), (std::vector<uint32_t>{b, d}));
    ExpectLookupMatchesRows();
    EXPECT_EQ(list.FindRowByMac(kMacA), list.FindRowBySource(b));
    EXPECT_EQ(list.FindRowByMac(kMacB), list.FindRowBySource(d));
    EXPECT_EQ(list.FindRowByMac({0x00, 0x20, 0x4A, 0, 0, 0}), std::nullopt);

    // A converter that reports no MAC address (zeros) does not take rows along that have not
    // learned theirs.
    const uint32_t e = Ip(10, 0, 0, 9), f = Ip(10, 0, 0, 10);
    Feed(e, BlockAnswer(0xD0, 40));
    AnswerSettings zero;
    zero.mac = {};
    Feed(f, ConfigurationAnswer(zero));
    EXPECT_NE(list.FindRowBySource(e), std::nullopt);
    EXPECT_EQ(Column(f, DeviceList::kColumnMac), "00 00 00 00 00 00");
    EXPECT_EQ(list.FindRowByMac(MacAddress{}), list.FindRowBySource(e)) << "the first of them";
}

TEST_F(DeviceListTest, RowsSilentForMoreThanTwentySecondsGo) {
    const uint32_t early = Ip(10, 0, 0, 1), late = Ip(10, 0, 0, 2), never = Ip(10, 0, 0, 3);
    Feed(early, ConfigurationAnswer({}));
    now = 1005;
    Feed(late, BlockAnswer(0xD2, 40));
    EXPECT_EQ(Feed(never, BlockAnswer(0xE3, 40)), AnswerDisposition::NoSlot);
    ASSERT_NE(Record(never), nullptr) << "a block without a slot still makes its row";
    EXPECT_EQ(Record(never)->lastSeen, 0);

    const struct {
        int64_t at;
        size_t removed;
        std::vector<uint32_t> left;
    } steps[] = {
        {1005, 1, {early, late}}, // never seen: goes at the first walk
        {1020, 0, {early, late}}, // 20 s is not more than 20 s
        {1021, 1, {late}},        {1025, 0, {late}}, {1026, 1, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.at);
        now = step.at;
        EXPECT_EQ(list.RemoveStaleEntries(), step.removed);
        EXPECT_EQ(Sources(), step.left);
        ExpectLookupMatchesRows();
    }
}

// A step of the system's wall clock must neither keep silent converters listed nor empty the
// list: lastSeen counts on the monotonic clock, whatever the date.
TEST(DeviceListClockTest, TheDefaultClockIsMonotonic) {
    test::EchoTable echo;
    DeviceList list(echo, nullptr, ParallelEcho::kInline);
    const auto steadySeconds = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    const int64_t before = steadySeconds();
    list.OnConverterAnswer(kSource, ConfigurationAnswer({}));
    const int64_t seen = list.GetRecord(0)->lastSeen;
    EXPECT_GE(seen, before + 1);
    EXPECT_LE(seen, steadySeconds() + 1);
    EXPECT_EQ(list.RemoveStaleEntries(), 0u);
}

TEST_F(DeviceListTest, NewSourcesBeyondTheRowBoundAreDroppedAndCounted) {
    const uint32_t a = Ip(10, 0, 0, 1), b = Ip(10, 0, 0, 2), c = Ip(10, 0, 0, 3);
    list.SetMaxRows(2);
    Feed(a, BlockAnswer(0xD0, 40));
    Feed(b, BlockAnswer(0xD0, 40));
    RecordingObserver observer;
    list.SetObserver(&observer);
    EXPECT_EQ(Feed(c, ConfigurationAnswer({})), AnswerDisposition::ListFull);
    EXPECT_EQ(Feed(c, BlockAnswer(0xE3, 40)), AnswerDisposition::ListFull) << "no slot either";
    EXPECT_EQ(observer.Take(), "") << "a dropped datagram changes nothing";
    EXPECT_EQ(Feed(a, ConfigurationAnswer({})), AnswerDisposition::Applied)
        << "listed sources are still served";
    EXPECT_EQ(Sources(), (std::vector<uint32_t>{a, b}));
    EXPECT_EQ(echo.asked, (std::vector<uint32_t>{a, b})) << "no echo for a dropped source";
    EXPECT_EQ(list.GetDropCounts().listFull, 2u);

    // Counted once per cycle: the next call reports only what came since.
    EXPECT_EQ(list.LogDrops().listFull, 2u);
    EXPECT_FALSE(list.LogDrops().Any());
    EXPECT_TRUE(list.RemoveEntryByAddress(b));
    EXPECT_EQ(Feed(c, ConfigurationAnswer({})), AnswerDisposition::Applied);
    EXPECT_FALSE(list.LogDrops().Any());
    EXPECT_EQ(list.GetDropCounts().listFull, 2u) << "the total stays";
}

TEST_F(DeviceListTest, RemoveEntryByAddressAndClear) {
    const uint32_t a = Ip(10, 0, 0, 1), b = Ip(10, 0, 0, 2), c = Ip(10, 0, 0, 3);
    for (uint32_t source : {a, b, c})
        Feed(source, BlockAnswer(0xD0, 40));
    EXPECT_FALSE(list.RemoveEntryByAddress(0));
    EXPECT_FALSE(list.RemoveEntryByAddress(Ip(10, 0, 0, 99)));
    EXPECT_TRUE(list.RemoveEntryByAddress(b));
    EXPECT_EQ(Sources(), (std::vector<uint32_t>{a, c}));
    ExpectLookupMatchesRows();

    RecordingObserver observer;
    list.SetObserver(&observer);
    list.Clear();
    EXPECT_EQ(list.GetRowCount(), 0u);
    EXPECT_EQ(list.FindRowBySource(a), std::nullopt);
    EXPECT_EQ(observer.Take(), "clear?, clear");
}

TEST_F(DeviceListTest, SortOrdersByEachColumnAndHeaderClicks) {
    // Address column: the fourth octet weighs most, so 10.0.1.1 comes before 10.0.0.2.
    const uint32_t a = Ip(10, 0, 0, 2), b = Ip(10, 0, 1, 1), c = Ip(10, 0, 0, 1);
    const struct {
        uint32_t source;
        MacAddress mac;
        std::string serial;
        uint32_t firmware;
    } converters[] = {
        {a, {0x00, 0x20, 0x4A, 0x00, 0x00, 0x09}, "abc00000000002", 2030000},
        {b, {0x00, 0x20, 0x4A, 0x00, 0x00, 0xF0}, "ABD00000000001", 3000000},
        {c, {0x00, 0x20, 0x3F, 0xFF, 0xFF, 0xFF}, "ABc00000000003", 2029999},
    };
    for (const auto& converter : converters) {
        AnswerSettings s;
        s.mac = converter.mac;
        s.serial = converter.serial;
        s.firmware = converter.firmware;
        Feed(converter.source, ConfigurationAnswer(s));
    }
    EXPECT_EQ(list.GetSortColumn(), 0);
    EXPECT_TRUE(list.IsSortAscending());
    EXPECT_EQ(Sources(), (std::vector<uint32_t>{c, b, a})) << "sorted as rows came";

    const struct {
        int click;
        int column;
        bool ascending;
        std::vector<uint32_t> order;
    } clicks[] = {
        {0, 0, false, {a, b, c}},
        {0, 0, true, {c, b, a}},
        {1, 1, true, {c, a, b}},
        {2, 2, true, {a, c, b}}, // abc..2 < ABc..3 < ABD..1 without regard to case
        {2, 2, false, {b, c, a}},
        {3, 3, true, {c, a, b}},
        {7, 7, true, {c, a, b}}, // no such column: all equal, order kept
    };
    for (const auto& step : clicks) {
        SCOPED_TRACE("click " + std::to_string(step.click));
        list.HeaderClick(step.click);
        EXPECT_EQ(list.GetSortColumn(), step.column);
        EXPECT_EQ(list.IsSortAscending(), step.ascending);
        EXPECT_EQ(Sources(), step.order);
        for (int column = 0; column < DeviceList::kColumnCount; ++column) {
            const SortMark expected = column != step.column ? SortMark::None
                                      : step.ascending      ? SortMark::Down
                                                            : SortMark::Up;
            EXPECT_EQ(list.GetSortMark(column), expected) << "column " << column;
        }
        ExpectLookupMatchesRows();
    }
}

TEST_F(DeviceListTest, NewRowsSortInWhileUpdatedRowsKeepTheirPlace) {
    list.HeaderClick(3);
    list.HeaderClick(3); // descending by version
    std::mt19937 random(7);
    for (int i = 0; i < 60; ++i) {
        AnswerSettings s;
        s.mac = {0x02, 0, 0, 0, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
        s.firmware = 2000000 + static_cast<uint32_t>(random() % 7) * 10000;
        Feed(Ip(10, 1, static_cast<uint32_t>(i % 4), 1 + static_cast<uint32_t>(i)),
             ConfigurationAnswer(s));
        for (size_t row = 1; row < list.GetRowCount(); ++row)
            ASSERT_LE(DeviceList::Compare(list.GetRecord(row - 1), list.GetRecord(row), 3, false),
                      0)
                << "after answer " << i << ", row " << row;
        ExpectLookupMatchesRows();
    }
    // An answer that changes a row's key does not move it; the next new row sorts the list.
    const std::vector<uint32_t> before = Sources();
    AnswerSettings raised;
    raised.mac = {0x02, 0, 0, 0, 0xEE, 0xEE};
    raised.firmware = 5000000;
    Feed(before.back(), ConfigurationAnswer(raised));
    EXPECT_EQ(Sources(), before);
    Feed(Ip(10, 2, 0, 1), BlockAnswer(0xD0, 40));
    EXPECT_EQ(Sources().front(), before.back());
}

TEST_F(DeviceListTest, ObserverHearsOneAnswerInOrder) {
    RecordingObserver observer;
    list.SetObserver(&observer);
    const uint32_t first = Ip(10, 0, 0, 9), second = Ip(10, 0, 0, 1);
    Feed(first, BlockAnswer(0xD0, 40));
    EXPECT_EQ(observer.Take(),
              "start, insert? 0, insert 0, change 0, applied, sort?, sort, finish 0");
    Feed(second, BlockAnswer(0xD0, 40));
    EXPECT_EQ(observer.Take(),
              "start, insert? 1, insert 1, change 1, applied, sort?, sort, finish 0")
        << "the new row is shown where the sort put it";
    Feed(first, BlockAnswer(0xD1, 40));
    EXPECT_EQ(observer.Take(), "start, change 1, applied, finish 1");
    Feed(first, ConfigurationAnswer({}));
    EXPECT_EQ(observer.Take(), "start, change 1, applied, finish -");
    Feed(first, BlockAnswer(0xD1, 40));
    EXPECT_EQ(observer.Take(), "start, finish -") << "extended now: block ignored";

    // Both echo results come together, in one update that shows no row.
    EXPECT_EQ(list.CollectEchoResults(), 2u);
    EXPECT_EQ(observer.Take(), "start, change 1, change 0, applied, finish -");
    EXPECT_EQ(list.CollectEchoResults(), 0u);
    EXPECT_EQ(observer.Take(), "") << "nothing new: not a word";
}

// Echoes that answer only when the test lets them; every address but `deaf` replies.
class HeldEcho : public IReachability {
  public:
    explicit HeldEcho(uint32_t deaf) : m_deaf(deaf) {}
    bool Echo(uint32_t address) override {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_open; });
        return address != m_deaf;
    }
    void Open() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }

  private:
    const uint32_t m_deaf;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
};

TEST(DeviceListEchoTest, TheEchoOfANewConverterNeverHoldsUpTheList) {
    const uint32_t a = Ip(10, 0, 0, 1), deaf = Ip(10, 0, 0, 2), gone = Ip(10, 0, 0, 3);
    HeldEcho echo(deaf);
    DeviceList list(echo, [] { return int64_t{100}; });
    std::atomic<int> readyCalls{0};
    list.SetEchoReadyCallback([&] { ++readyCalls; });
    RecordingObserver observer;
    list.SetObserver(&observer);
    uint8_t octet = 0;
    for (const uint32_t source : {a, deaf, gone}) {
        AnswerSettings s;
        s.mac[5] = ++octet;
        EXPECT_EQ(list.OnConverterAnswer(source, ConfigurationAnswer(s)),
                  AnswerDisposition::Applied);
    }
    EXPECT_EQ(list.GetRowCount(), 3u) << "listed while every echo is still out";
    EXPECT_EQ(list.GetPendingEchoCount(), 3u);
    EXPECT_FALSE(list.WaitForEchoes(std::chrono::milliseconds(10)));
    EXPECT_EQ(list.CollectEchoResults(), 0u);
    EXPECT_TRUE(list.RemoveEntryByAddress(gone));
    EXPECT_EQ(list.GetPendingEchoCount(), 2u);
    observer.Take();

    echo.Open();
    ASSERT_TRUE(list.WaitForEchoes(std::chrono::seconds(20)));
    EXPECT_GE(readyCalls.load(), 1);
    EXPECT_EQ(list.CollectEchoResults(), 2u) << "the result for the row that went is dropped";
    EXPECT_EQ(list.GetPendingEchoCount(), 0u);
    const std::string heard = observer.Take();
    // The workers finish in either order.
    EXPECT_TRUE(heard == "start, change 0, change 1, applied, finish -" ||
                heard == "start, change 1, change 0, applied, finish -")
        << heard;
    const LANconvDevice& reached = *list.GetRecord(*list.FindRowBySource(a));
    const LANconvDevice& silent = *list.GetRecord(*list.FindRowBySource(deaf));
    EXPECT_FALSE(reached.bUnreachable);
    EXPECT_TRUE(silent.bUnreachable);
    EXPECT_FALSE(reached.bEchoPending || silent.bEchoPending);
    EXPECT_EQ(list.GetColourClass(*list.FindRowBySource(deaf)),
              RowColourClass::UnreachableComplete);
}

TEST(DeviceListCompareTest, NullRecordsComeFirstWhateverTheDirection) {
    LANconvDevice record;
    for (bool ascending : {true, false}) {
        EXPECT_EQ(DeviceList::Compare(nullptr, &record, 0, ascending), -1);
        EXPECT_EQ(DeviceList::Compare(&record, nullptr, 0, ascending), 1);
        EXPECT_EQ(DeviceList::Compare(nullptr, nullptr, 0, ascending), -1);
    }
}

} // namespace
} // namespace qarn
