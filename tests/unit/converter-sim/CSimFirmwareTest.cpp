// Firmware transfers of both layouts, block by block, with the commit check, the restart and the
// misbehaviours that a transfer engine has to survive.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

namespace qarn::sim::test {
namespace {

std::string HexWord(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

constexpr uint32_t kIp = 0xC6120101;
constexpr uint32_t kShort = 0x10000;

struct Ack {
    size_t length = 0;
    uint8_t cmd = 0;
    uint8_t answerCmd = 0;
    uint16_t echo = 0;
};

std::vector<Ack> Acks(const std::vector<SimOutgoing>& answers) {
    std::vector<Ack> acks;
    for (const auto& a : answers)
        acks.push_back({a.bytes.size(), a.bytes.size() > 1 ? a.bytes[1] : uint8_t{0},
                        a.bytes.size() > 2 ? a.bytes[2] : uint8_t{0},
                        a.bytes.size() >= 6 ? Le16(&a.bytes[4]) : uint16_t{0}});
    return acks;
}

// The 1024-byte layout: block k holds image bytes k*1024.., the last one flagged when shorter.
std::vector<std::pair<uint32_t, Bytes>> Blocks1024(const Bytes& image) {
    std::vector<std::pair<uint32_t, Bytes>> blocks;
    for (size_t offset = 0, k = 0; offset < image.size(); offset += 1024, ++k) {
        const size_t size = std::min<size_t>(1024, image.size() - offset);
        blocks.emplace_back(static_cast<uint32_t>(k) | (size < 1024 ? kShort : 0),
                            Bytes(image.begin() + offset, image.begin() + offset + size));
    }
    return blocks;
}

// The fixed layout of a 131072-byte image: two halves of 62 blocks of 1056 bytes numbered in
// steps of 4 and one flagged block of 64 bytes; the second half's numbers start at 249.
std::vector<std::pair<uint32_t, Bytes>> BlocksFixed(const Bytes& image) {
    std::vector<std::pair<uint32_t, Bytes>> blocks;
    size_t offset = 0;
    for (uint32_t first : {0u, 249u}) {
        for (uint32_t n = 0; n < 62; ++n, offset += 1056)
            blocks.emplace_back(first + 4 * n,
                                Bytes(image.begin() + offset, image.begin() + offset + 1056));
        blocks.emplace_back((first + 248) | kShort,
                            Bytes(image.begin() + offset, image.begin() + offset + 64));
        offset += 64;
    }
    return blocks;
}

SimConverterConfig Sam(uint32_t ip = kIp) {
    SimConverterConfig c = Converter(ip);
    c.settings.firmwareVersion = 3012004;
    c.restartMs = 2000;
    return c;
}

uint32_t ReportedVersion(FleetHarness& h, uint64_t now) {
    const auto answers = h.Exchange(now, kIp, Discovery());
    if (answers.size() != 1)
        return 0;
    Bytes d = answers[0].bytes;
    TestScramble(Le32(&d[12]), d.data() + 16, d.size() - 16);
    return Le32(&d[68]);
}

// Sends every block and expects one accepting answer echoing each block number.
void SendAllAcknowledged(FleetHarness& h, const std::vector<std::pair<uint32_t, Bytes>>& blocks) {
    uint32_t seed = 7;
    for (const auto& [dwBlock, plain] : blocks) {
        SCOPED_TRACE(dwBlock);
        const auto acks = Acks(h.Exchange(100, kIp, FirmwareBlock(dwBlock, plain, seed += 977)));
        ASSERT_EQ(acks.size(), 1u);
        EXPECT_EQ(acks[0].length, 16u);
        EXPECT_EQ(acks[0].cmd, 0x1E);
        EXPECT_NE(acks[0].answerCmd, 0);
        EXPECT_EQ(acks[0].echo, dwBlock & 0xFFFF);
    }
}

TEST(SimFirmwareTest, BlockTransferWithRightCommitRestartsWithTheNewVersion) {
    FleetHarness h;
    h.Add(Sam());
    const Bytes image = Image(148972, 3);
    const auto blocks = Blocks1024(image);
    ASSERT_EQ(blocks.size(), 146u);
    ASSERT_EQ(blocks.back().first, 0x10091u);
    SendAllAcknowledged(h, blocks);
    const auto commit = Acks(h.Exchange(200, kIp, Commit(TestAdler32(image), 148972)));
    ASSERT_EQ(commit.size(), 1u);
    EXPECT_EQ(commit[0].cmd, 0x26);
    EXPECT_EQ(commit[0].length, 16u);

    // Silent while it restarts (its address off the LAN), then back with 3.2.62.11.
    h.fleet.Advance(300);
    ASSERT_EQ(h.Events("restart_begin").size(), 1u);
    EXPECT_EQ(h.Events("restart_begin")[0]["image_bytes"], 148972);
    EXPECT_EQ(h.Events("restart_begin")[0]["image_adler32"], HexWord(TestAdler32(image)));
    EXPECT_EQ(h.control.calls, std::vector<std::string>{"remove " + std::to_string(kIp)});
    EXPECT_TRUE(h.Exchange(1000, kIp, Discovery()).empty());
    EXPECT_TRUE(h.Exchange(1000, kIp, Commit(TestAdler32(image), 148972)).empty());
    h.fleet.Advance(2300);
    EXPECT_EQ(h.Events("restart_end").size(), 1u);
    EXPECT_EQ(h.control.calls.back(), "add " + std::to_string(kIp));
    EXPECT_EQ(ReportedVersion(h, 2400), 3026211u);
}

TEST(SimFirmwareTest, CommitIsAcceptedOnlyWithTheRightLengthAndChecksum) {
    const Bytes image = Image(5000, 11); // 4 full blocks and one of 904 bytes
    struct Row {
        const char* name;
        uint32_t checksum;
        uint32_t length;
        bool skipBlock2;
    };
    const uint32_t right = TestAdler32(image);
    const Row rows[] = {
        {"checksum off by one", right + 1, 5000, false},
        {"checksum of the bytes swapped", (right << 16) | (right >> 16), 5000, false},
        {"length one byte short", right, 4999, false},
        {"length one byte long", right, 5001, false},
        {"length of the full blocks only", right, 4096, false},
        {"a block missing", right, 5000, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FleetHarness h;
        h.Add(Sam());
        auto blocks = Blocks1024(image);
        if (row.skipBlock2)
            blocks.erase(blocks.begin() + 2);
        SendAllAcknowledged(h, blocks);
        const auto acks = Acks(h.Exchange(200, kIp, Commit(row.checksum, row.length)));
        ASSERT_EQ(acks.size(), 1u);
        EXPECT_NE(acks[0].cmd, 0x26);
        ASSERT_EQ(h.Events("commit").size(), 1u);
        EXPECT_FALSE(h.Events("commit")[0]["ok"].get<bool>());
        h.fleet.Advance(100000);
        EXPECT_TRUE(h.Events("restart_begin").empty());
        EXPECT_EQ(ReportedVersion(h, 100000), 3012004u);
    }
}

TEST(SimFirmwareTest, FixedLayoutEndsWithBlock497AndTakesTheImagesVersion) {
    struct Row {
        const char* name;
        std::string versionField; // bytes 16..31 of the image
        uint32_t reported;        // version after the restart
    };
    const Row rows[] = {
        {"version text", std::string("2.4.10.23") + '\0', 2041023},
        {"16 characters without an end", "0002.04.10.00023", 2041023},
        {"no version in the image", std::string(16, 'x'), 2021100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FleetHarness h;
        SimConverterConfig c = Converter(kIp);
        c.settings.firmwareVersion = 2021100; // 2.2.11.0: the fixed layout
        c.restartMs = 500;
        h.Add(c);
        Bytes image = Image(131072, 5);
        std::copy(row.versionField.begin(), row.versionField.end(), image.begin() + 16);
        const auto blocks = BlocksFixed(image);
        ASSERT_EQ(blocks.size(), 126u);
        SendAllAcknowledged(h, blocks);
        ASSERT_EQ(h.Events("transfer_complete").size(), 1u);
        h.fleet.Advance(300);
        ASSERT_EQ(h.Events("restart_begin").size(), 1u);
        EXPECT_EQ(h.Events("restart_begin")[0]["image_adler32"], HexWord(TestAdler32(image)))
            << "the image kept is the one sent, unscrambled and in its place";
        EXPECT_TRUE(h.Exchange(400, kIp, Discovery()).empty());
        h.fleet.Advance(800);
        EXPECT_EQ(ReportedVersion(h, 900), row.reported);
    }
}

TEST(SimFirmwareTest, BlocksOutsideTheConvertersLayoutAreNotAcknowledged) {
    struct Row {
        const char* name;
        uint32_t version; // selects the layout
        uint32_t dwBlock;
        size_t size;
    };
    const Row rows[] = {
        {"1024 layout: short block without the flag", 3012004, 3, 1000},
        {"1024 layout: full block with the flag", 3012004, 3 | kShort, 1024},
        {"1024 layout: fixed-layout block", 3012004, 4, 1056},
        {"1024 layout: past the largest image", 3012004, 2000, 1024},
        {"fixed layout: number between two blocks", 2040903, 2, 1056},
        {"fixed layout: 248 without the flag", 2040903, 248, 64},
        {"fixed layout: 1024-byte block", 2040903, 0, 1024},
        {"fixed layout: number past 497", 2040903, 501, 1056},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FleetHarness h;
        SimConverterConfig c = Converter(kIp);
        c.settings.firmwareVersion = row.version;
        h.Add(c);
        const auto acks =
            Acks(h.Exchange(0, kIp, FirmwareBlock(row.dwBlock, Bytes(row.size, 0xA5), 1)));
        ASSERT_EQ(acks.size(), 1u);
        EXPECT_EQ(acks[0].answerCmd, 0);
        EXPECT_EQ(acks[0].echo, row.dwBlock & 0xFFFF);
    }
}

TEST(SimFirmwareTest, BroadcastFirmwareDatagramsAreIgnored) {
    FleetHarness h;
    h.Add(Sam());
    EXPECT_TRUE(h.Exchange(0, 0xFFFFFFFF, FirmwareBlock(0, Bytes(1024, 1), 5)).empty());
    EXPECT_TRUE(h.Exchange(0, 0xFFFFFFFF, Commit(1, 1024)).empty());
}

TEST(SimMisbehaviourTest, FirmwareFaults) {
    const Bytes image = Image(6 * 1024, 9);
    struct Row {
        const char* name;
        void (*setUp)(SimMisbehaviour&);
        size_t sendsOfBlock3;
        std::vector<Ack> answersToBlock3; // to all the sends of block 3 together
    };
    const Row rows[] = {
        {"silent from block 3", [](SimMisbehaviour& m) { m.silentFromBlock = 3; }, 2, {}},
        {"wrong echo twice",
         [](SimMisbehaviour& m) {
             m.wrongEcho = {true, 3, 2};
         },
         3,
         {{16, 0x1E, 1, 4}, {16, 0x1E, 1, 4}, {16, 0x1E, 1, 3}}},
        {"wrong echo, then the right one",
         [](SimMisbehaviour& m) {
             m.wrongEcho = {true, 3, 1};
             m.wrongEchoThenRight = true;
         },
         1,
         {{16, 0x1E, 1, 4}, {16, 0x1E, 1, 3}}},
        {"answers of 20 bytes twice",
         [](SimMisbehaviour& m) {
             m.wrongAckLength = {true, 3, 2};
             m.ackLength = 20;
         },
         3,
         {{20, 0x1E, 1, 3}, {20, 0x1E, 1, 3}, {16, 0x1E, 1, 3}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FleetHarness h;
        SimConverterConfig c = Sam();
        row.setUp(c.misbehave);
        h.Add(c);
        const auto blocks = Blocks1024(image);
        for (uint32_t k = 0; k < 3; ++k)
            h.Exchange(0, kIp, FirmwareBlock(blocks[k].first, blocks[k].second, k));
        std::vector<Ack> answers;
        for (size_t n = 0; n < row.sendsOfBlock3; ++n)
            for (const Ack& a :
                 Acks(h.Exchange(0, kIp, FirmwareBlock(blocks[3].first, blocks[3].second, 3))))
                answers.push_back(a);
        ASSERT_EQ(answers.size(), row.answersToBlock3.size());
        for (size_t i = 0; i < answers.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(answers[i].length, row.answersToBlock3[i].length);
            EXPECT_EQ(answers[i].echo, row.answersToBlock3[i].echo);
            EXPECT_EQ(answers[i].answerCmd != 0, row.answersToBlock3[i].answerCmd != 0);
        }
    }
}

TEST(SimMisbehaviourTest, SilentConverterDoesNotAnswerTheCommitEither) {
    FleetHarness h;
    SimConverterConfig c = Sam();
    c.misbehave.silentFromBlock = 1;
    h.Add(c);
    const Bytes image = Image(1024, 1);
    EXPECT_EQ(h.Exchange(0, kIp, FirmwareBlock(0, image, 1)).size(), 1u);
    EXPECT_TRUE(h.Exchange(0, kIp, FirmwareBlock(1 | kShort, Bytes(10, 0), 1)).empty());
    EXPECT_TRUE(h.Exchange(0, kIp, Commit(TestAdler32(image), 1024)).empty());
}

TEST(SimMisbehaviourTest, AnswerFaults) {
    constexpr uint32_t kElsewhere = 0xC6120163;
    FleetHarness h;
    SimConverterConfig c = Converter(kIp);
    c.misbehave.duplicates = 2;
    c.misbehave.answerFrom = kElsewhere;
    c.misbehave.configAnswerLength = 84;
    h.Add(c);
    const auto answers = h.Exchange(0, kIp, Discovery());
    ASSERT_EQ(answers.size(), 3u);
    for (const auto& a : answers) {
        EXPECT_EQ(a.from, kElsewhere);
        EXPECT_EQ(a.bytes.size(), 84u);
        EXPECT_EQ(a.bytes, answers[0].bytes);
    }
}

TEST(SimMisbehaviourTest, LossIsASeededShareOfEachDirection) {
    auto answered = [](double lossIn, double lossOut, uint64_t seed) {
        FleetHarness h;
        SimConverterConfig c = Converter(kIp);
        c.misbehave.lossIn = lossIn;
        c.misbehave.lossOut = lossOut;
        c.seed = seed;
        h.Add(c);
        size_t count = 0;
        for (int i = 0; i < 2000; ++i)
            count += h.Exchange(static_cast<uint64_t>(i), kIp, Discovery()).size();
        return count;
    };
    const size_t in = answered(0.25, 0, 5);
    const size_t out = answered(0, 0.25, 5);
    const size_t both = answered(0.5, 0.5, 5);
    EXPECT_NEAR(static_cast<double>(in), 1500, 100);
    EXPECT_NEAR(static_cast<double>(out), 1500, 100);
    EXPECT_NEAR(static_cast<double>(both), 500, 80);
    EXPECT_EQ(answered(0.25, 0, 5), in) << "the same seed loses the same datagrams";
    EXPECT_EQ(answered(0, 0, 5), 2000u);
}

} // namespace
} // namespace qarn::sim::test
