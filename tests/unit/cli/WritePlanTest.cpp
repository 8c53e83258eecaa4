#include "cli/WritePlan.h"

#include "protocol/ConverterText.h"

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

constexpr MacAddress kMac{0x02, 0x51, 0x00, 0x00, 0x00, 0x07};

uint32_t Ip(const char* text) {
    return *ParseIpText(text);
}

// A listed extended converter whose answers are all in, as the device list holds it.
LANconvDevice Listed(int32_t kind = kKindExtended, uint32_t firmware = 2041023) {
    LANconvDevice record;
    record.dwSourceIp = record.dwIp = record.dwReportedIp = Ip("198.18.1.7");
    record.dwNetmask = 0xFFFF0000;
    record.dwGateway = Ip("198.18.0.1");
    record.dwFirmwareVersion = firmware;
    record.wPort1 = 4001;
    record.wPort2 = 4002;
    record.nKind = kind;
    record.abyMac = kMac;
    record.strSerial = "73145800010007";
    record.chLetter = 'C';
    record.bySystemType = kSystemTypeRilo;
    record.abBlockSeen.fill(true);
    record.RecomputeComplete();
    return record;
}

TEST(WritePlanTest, EditsGoThroughTheValueRules) {
    const LANconvDevice listed = Listed();
    const struct {
        const char* name;
        WriteEdits edits;
        const char* error; // empty: accepted
    } cases[] = {
        {"address group",
         {.ip = "198.18.9.9", .netmask = "255.255.255.0", .gateway = "0.0.0.0"},
         ""},
        {"type before letter", {.letter = "Q", .systemType = "tesk"}, ""},
        {"letter while rilo",
         {.letter = "Q"},
         "--letter cannot be written to this converter while"},
        {"last octet 255", {.ip = "198.18.1.255"}, "--ip 198.18.1.255 refused: the last octet"},
        {"not an address", {.gateway = "gateway"}, "--gateway 'gateway' is not a dotted IPv4"},
        {"negative port", {.port1 = "-5"}, "--port1 '-5' is not a port number"},
        {"two letters",
         {.letter = "QQ", .systemType = "vardo"},
         "--letter 'QQ' is not one character"},
        {"unknown type",
         {.systemType = "tesla"},
         "--system-type 'tesla' is not rilo, tesk or vardo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PreparedWrite prepared;
        std::string error;
        const bool accepted = PrepareWrite(&listed, {}, c.edits, prepared, &error);
        EXPECT_EQ(accepted, std::string(c.error).empty()) << error;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }

    PreparedWrite prepared;
    ASSERT_TRUE(PrepareWrite(
        &listed, {},
        {.ip = "198.18.9.9", .netmask = "255.255.255.0", .letter = "Q", .systemType = "tesk"},
        prepared, nullptr));
    EXPECT_EQ(prepared.working.dwIp, Ip("198.18.9.9"));
    EXPECT_EQ(prepared.working.dwNetmask, 0xFFFFFF00u);
    EXPECT_EQ(prepared.working.chLetter, 'Q');
    EXPECT_EQ(prepared.working.bySystemType, kSystemTypeTesk);
    EXPECT_EQ(prepared.snapshot, listed) << "the snapshot is the record before the edits";
    EXPECT_TRUE(prepared.notes.empty());
}

TEST(WritePlanTest, CorrectedPortsAreReported) {
    const LANconvDevice listed = Listed();
    PreparedWrite prepared;
    ASSERT_TRUE(PrepareWrite(&listed, {}, {.port1 = "58009", .port2 = "70000"}, prepared, nullptr));
    EXPECT_EQ(prepared.working.wPort1, 58018);
    EXPECT_EQ(prepared.working.wPort2, 65535);
    EXPECT_EQ(prepared.notes, (std::vector<std::string>{"--port2 70000 corrected to 65535",
                                                        "--port1 58009 corrected to 58018"}));
}

TEST(WritePlanTest, RefusesWhatTheConverterDoesNotOffer) {
    const struct {
        const char* name;
        LANconvDevice record;
        WriteEdits edits;
        const char* error;
    } cases[] = {
        {"second port on firmware 3",
         Listed(kKindExtended, 3010000),
         {.port2 = "5000"},
         "--port2 cannot be written to this converter (firmware 3.1.0.0 has no second port); it "
         "takes --ip, --netmask, --gateway, --port1, --peer, --system-type"},
        {"port on a standard converter",
         Listed(kKindStandard),
         {.port1 = "5000"},
         "--port1 cannot be written to this converter; it takes --ip, --netmask, --gateway"},
        {"incomplete answers",
         [] {
             LANconvDevice record = Listed();
             record.abBlockSeen[kSlotVersionText] = false;
             record.RecomputeComplete();
             return record;
         }(),
         {.ip = "198.18.9.9"},
         "its answers are still incomplete"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PreparedWrite prepared;
        std::string error;
        EXPECT_FALSE(PrepareWrite(&c.record, {}, c.edits, prepared, &error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

TEST(WritePlanTest, UnlistedMacIsWrittenFromTheBlankRecord) {
    PreparedWrite prepared;
    std::string error;
    EXPECT_FALSE(PrepareWrite(nullptr, kMac, {.netmask = "255.255.0.0"}, prepared, &error));
    EXPECT_NE(error.find("needs --ip"), std::string::npos) << error;

    ASSERT_TRUE(PrepareWrite(nullptr, kMac, {.ip = "198.18.9.10", .netmask = "255.255.0.0"},
                             prepared, &error))
        << error;
    EXPECT_EQ(prepared.working.nKind, kKindByMac);
    EXPECT_EQ(prepared.working.abyMac, kMac);
    EXPECT_EQ(prepared.working.dwIp, Ip("198.18.9.10"));
    EXPECT_EQ(prepared.working.dwNetmask, 0xFFFF0000u);
    EXPECT_EQ(prepared.snapshot.dwIp, 0u) << "so the write checks the new address first";

    EXPECT_FALSE(
        PrepareWrite(nullptr, kMac, {.ip = "198.18.9.10", .port1 = "5000"}, prepared, &error));
    EXPECT_EQ(error, "--port1 cannot be written to this converter; it takes --ip, --netmask, "
                     "--gateway");
}

TEST(WritePlanTest, AnswersConfirmOnlyWhatTheyCarry) {
    LANconvDevice written = Listed();
    written.dwIp = Ip("198.18.9.9");
    written.wPort1 = 5000;
    written.chLetter = 0;
    written.bySystemType = kSystemTypeVardo;
    const WriteEdits edits{
        .ip = "198.18.9.9", .port1 = "5000", .letter = "", .systemType = "vardo"};
    LANconvDevice answer = written;
    answer.dwReportedIp = written.dwIp;
    answer.chLetter = '_'; // how an answer shows "no letter"
    const uint32_t moved = written.dwIp;
    const uint32_t old = Ip("198.18.1.7");

    EXPECT_EQ(UnconfirmedSettings(written, edits, moved, answer, true, true),
              std::vector<std::string>{});

    LANconvDevice stale = answer;
    stale.wPort1 = 4001;
    stale.bySystemType = 0xFF;
    EXPECT_EQ(
        UnconfirmedSettings(written, edits, moved, stale, true, true),
        (std::vector<std::string>{"port1 is 4001, not 5000", "system type is 255, not vardo"}));
    EXPECT_EQ(UnconfirmedSettings(written, edits, old, answer, true, true),
              std::vector<std::string>{"its address is 198.18.1.7, not 198.18.9.9"});
    // A block answer carries no settings, an 80-byte answer no letter and no system type.
    EXPECT_EQ(UnconfirmedSettings(written, edits, moved, stale, false, false),
              std::vector<std::string>{});
    EXPECT_EQ(UnconfirmedSettings(written, edits, moved, stale, true, false),
              std::vector<std::string>{"port1 is 4001, not 5000"});
    // Settings not given are not checked: the converter may keep its own.
    EXPECT_EQ(
        UnconfirmedSettings(written, WriteEdits{.ip = "198.18.9.9"}, moved, stale, true, true),
        std::vector<std::string>{});
}

} // namespace
} // namespace qarn::cli
