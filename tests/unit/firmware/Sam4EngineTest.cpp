#include "firmware/CSam4Transfer.h"
#include "support/LogCapture.h"
#include "unit/firmware/FirmwareEngineFakes.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <set>
#include <string>
#include <vector>
#include <zlib.h>

#include <gtest/gtest.h>

namespace qarn::test {
namespace {

const std::string kLine = "CConfigLANconverter::UpdateSam4LANconverter: Dst:'198.18.1.7' ";

std::string ErrorLine(const std::string& detail) {
    return "ERROR   - " + kLine + detail + "\n"; // error lines end in a bare line feed
}

uint32_t ZlibAdler32(const Bytes& bytes) {
    return static_cast<uint32_t>(
        adler32(adler32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

class Sam4EngineTest : public ::testing::Test {
  protected:
    bool Run(const Bytes& image, bool waitForRestart = false,
             IProgressDisplay* progress = nullptr) {
        CSam4Transfer transfer(FakeEnvironment(m_link));
        return transfer.Run(kTarget, image, progress, waitForRestart, true, &m_result);
    }

    LogCapture m_log;
    FakeLink m_link;
    TransferResult m_result;
};

struct LayoutCase {
    const char* name;
    size_t imageSize;
    size_t blocks;
    size_t lastSize;
    uint32_t lastBlock; // dwBlock of the last data datagram
};

TEST_F(Sam4EngineTest, SendsNumberedBlocksThenCommitsLengthAndChecksum) {
    const LayoutCase cases[] = {
        {"image 151", 148972, 146, 492, 0x10091},
        {"two whole blocks", 2048, 2, 1024, 0x00001},
        {"one byte", 1, 1, 1, 0x10000},
        {"one byte past a block", 1025, 2, 1, 0x10001},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_link = FakeLink{};
        const Bytes image = TestImage(c.imageSize, static_cast<uint32_t>(c.imageSize));
        ASSERT_TRUE(Run(image));

        ASSERT_EQ(m_link.sent.size(), c.blocks + 1);
        Bytes received;
        for (size_t k = 0; k < c.blocks; ++k) {
            const Sent& d = m_link.sent[k];
            SCOPED_TRACE(k);
            EXPECT_EQ(d.type, 1);
            EXPECT_EQ(d.cmd, 0x1E);
            EXPECT_EQ(d.answerCmd, 0);
            EXPECT_EQ(d.subCmd, 0);
            EXPECT_EQ(d.length, 0u);
            EXPECT_LE(d.seed, 0x7FFFu) << "a 15-bit draw";
            const bool last = k + 1 == c.blocks;
            EXPECT_EQ(d.block, last ? c.lastBlock : k);
            EXPECT_EQ(d.bytes.size(), 16 + (last ? c.lastSize : 1024));
            received.insert(received.end(), d.plain.begin(), d.plain.end());
        }
        EXPECT_EQ(received, image);

        const Sent& commit = m_link.sent.back();
        EXPECT_EQ(commit.bytes.size(), 16u);
        EXPECT_EQ(commit.type, 1);
        EXPECT_EQ(commit.cmd, 0x26);
        EXPECT_EQ(commit.block, ZlibAdler32(image));
        EXPECT_EQ(commit.length, c.imageSize);
        EXPECT_LE(commit.seed, 0x7FFFu);
        EXPECT_EQ(m_link.openedTarget, kTargetAddress);
        EXPECT_EQ(m_link.closes, 1);
    }
    EXPECT_EQ(CountOf(m_log.Text(), "INFO    - " + kLine + "done:Success\r\n"), 4u);
}

TEST_F(Sam4EngineTest, SeedsVaryFromBlockToBlock) {
    ASSERT_TRUE(Run(TestImage(64 * 1024, 3)));
    std::set<uint32_t> seeds;
    for (const Sent& d : m_link.sent)
        seeds.insert(d.seed);
    // 65 draws of 15 bits: a generator that was not drawn again would give one seed.
    EXPECT_GT(seeds.size(), 50u);
}

TEST_F(Sam4EngineTest, ProgressRunsFromZeroTo99ThenHundredAndHidesTheText) {
    FakeProgress progress(m_link);
    ASSERT_TRUE(Run(TestImage(148972, 1), false, &progress));
    ASSERT_EQ(progress.positions.size(), 1 + 146 + 1u);
    EXPECT_EQ(progress.positions.front(), 0) << "before anything is sent";
    EXPECT_EQ(progress.positions[1], 0) << "after block 0";
    EXPECT_EQ(progress.positions[146], 99) << "after block 145: (145 * 1000 / 146) / 10";
    EXPECT_EQ(progress.positions.back(), 100);
    for (size_t k = 0; k < 146; ++k)
        EXPECT_EQ(progress.positions[k + 1], static_cast<int32_t>(k * 1000 / 146 / 10)) << k;

    const std::vector<std::string> start = {"open", "pos 0", "repaint", "repaint parent", "send"};
    EXPECT_EQ(std::vector<std::string>(m_link.timeline.begin(), m_link.timeline.begin() + 5),
              start);
    const std::vector<std::string> end = {"send",     "pos 100", "repaint parent",
                                          "text off", "text ''", "close"};
    EXPECT_EQ(std::vector<std::string>(m_link.timeline.end() - 6, m_link.timeline.end()), end);
}

// Answers to block 3 in turn; the block is sent again after each wrong one, at most three times,
// and the transfer goes on whatever the third answer was. An acknowledgement of an earlier block
// (a converter that repeats its answers) is no answer at all and costs no attempt.
struct WrongAnswerCase {
    const char* name;
    std::vector<std::vector<Bytes>> answers;
    size_t sendsOfBlock3;
    std::vector<std::string> lines;
};

TEST_F(Sam4EngineTest, WrongAnswersCostAnAttemptButNeverTheTransfer) {
    const std::string sequence = "Failure:Invalid block sequence or answer command: ";
    const std::string length = "Failure:Invalid anser length:";
    const WrongAnswerCase cases[] = {
        {"wrong echo three times",
         {{Ack(9)}, {Ack(9)}, {Ack(9)}},
         3,
         {sequence + "block(send:3 got:9) cmd:1", sequence + "block(send:3 got:9) cmd:1",
          sequence + "block(send:3 got:9) cmd:1"}},
        {"wrong echo, then right", {{Ack(9)}}, 2, {sequence + "block(send:3 got:9) cmd:1"}},
        {"earlier blocks' acknowledgements, then the right one",
         {{Ack(2), Ack(0), Ack(2), Ack(3)}},
         1,
         {}},
        {"refused by answer command 0", {{Ack(3, 0)}}, 2, {sequence + "block(send:3 got:3) cmd:0"}},
        {"too long, yet a fitting acknowledgement",
         {{Resized(Ack(3), 20)}},
         1,
         {length + "20 bytes (expect:LANconvConfigHdr(16 bytes))"}},
        {"too short to carry an echo",
         {{Resized(Ack(3), 5)}},
         2,
         {length + "5 bytes (expect:LANconvConfigHdr(16 bytes))",
          sequence + "block(send:3 got:0) cmd:1"}},
    };
    for (const WrongAnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t logged = m_log.Text().size();
        m_link = FakeLink{};
        m_link.blockScripts[3] = {c.answers.begin(), c.answers.end()};
        EXPECT_TRUE(Run(TestImage(8 * 1024, 8)));
        EXPECT_EQ(m_link.SendsOfBlock(3), c.sendsOfBlock3);
        const std::vector<Sent> blocks = m_link.Blocks();
        EXPECT_EQ(blocks.size(), 8 + c.sendsOfBlock3 - 1);
        EXPECT_EQ(blocks[3 + c.sendsOfBlock3].Number(), 4) << "then the next block";
        const std::string text = m_log.Text().substr(logged);
        for (const std::string& line : c.lines)
            EXPECT_EQ(CountOf(text, ErrorLine(line)),
                      static_cast<size_t>(std::count(c.lines.begin(), c.lines.end(), line)))
                << text;
        EXPECT_EQ(CountOf(text, "ERROR   - "), c.lines.size()) << text;
    }
}

TEST_F(Sam4EngineTest, RefusedCommitFailsAfterThreeAttempts) {
    m_link.commitScript = {{CommitAnswer(0)}, {CommitAnswer(0)}, {CommitAnswer(0)}};
    FakeProgress progress(m_link);
    EXPECT_FALSE(Run(TestImage(4096, 2), true, &progress));
    EXPECT_EQ(m_result.verdict, TransferVerdict::Failed);
    EXPECT_EQ(m_result.reason,
              "the converter refused the image: it answered the commit 3 times without consent");
    ASSERT_EQ(m_link.sent.size(), 4 + 3u);
    for (size_t i = 4; i < 7; ++i)
        EXPECT_TRUE(m_link.sent[i].IsCommit());
    const std::string text = m_log.Text();
    EXPECT_EQ(CountOf(text, "ERROR   - "), 1u) << text;
    EXPECT_EQ(CountOf(text, ErrorLine("Failure:Commit not acknowledged")), 1u) << text;
    EXPECT_EQ(CountOf(text, "done:Success"), 0u);
    EXPECT_EQ(progress.positions.back(), 75) << "the bar keeps its last position";
    EXPECT_EQ(TimelineFrom(m_link.timeline, "sleep 50").size(), 0u) << "no restart wait";
    EXPECT_EQ(m_link.timeline.back(), "close");
}

TEST_F(Sam4EngineTest, CommitAnswerOfAnotherLengthIsLoggedAndStillCounts) {
    m_link.commitScript = {{Bytes{0x01, 0x1E}}, {Resized(CommitAnswer(0x26), 24)}};
    EXPECT_TRUE(Run(TestImage(1024, 2)));
    EXPECT_EQ(m_link.sent.size(), 1 + 2u);
    const std::string text = m_log.Text();
    EXPECT_EQ(CountOf(text, ErrorLine("Failure:Invalid answer length:2 bytes "
                                      "(expect:LANconvConfigHdr(16 bytes))")),
              1u)
        << text;
    EXPECT_EQ(CountOf(text, ErrorLine("Failure:Invalid answer length:24 bytes "
                                      "(expect:LANconvConfigHdr(16 bytes))")),
              1u)
        << text;
}

// Two wrong answers and then silence: the third attempt's time-out ends the transfer (2 to 3 s).
TEST_F(Sam4EngineTest, TimeoutOnTheThirdAttemptFailsEvenAfterAnswers) {
    m_link.blockScripts[1] = {{Ack(5)}, {Ack(5)}, {}};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Run(TestImage(4096, 5)));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::seconds(2));
    EXPECT_EQ(m_link.sent.size(), 1 + 3u) << "block 0, block 1 three times, nothing more";
    const std::string text = m_log.Text();
    EXPECT_EQ(CountOf(text, ErrorLine("Failure:Timeout")), 1u) << text;
    EXPECT_EQ(CountOf(text, "Invalid block sequence"), 2u) << text;
    EXPECT_EQ(m_result.verdict, TransferVerdict::Failed);
    EXPECT_EQ(m_result.reason, "block 1 of 4 was not acknowledged (1 of 3 attempts without an "
                               "answer)");
}

// The commit's acknowledgement can be lost on its way back, and a converter that took the image
// restarts and refuses the commit when it comes again: unless every attempt was refused, the
// engine waits for the restart (asked to or not) and leaves the verdict to the converter's
// version. A late block acknowledgement answers no commit.
TEST_F(Sam4EngineTest, TheCommitsVerdictIsLeftToTheVersionUnlessTheConverterRefused) {
    const struct {
        const char* name;
        std::deque<std::vector<Bytes>> commitScript;
        TransferVerdict verdict;
        size_t commits;
        const char* reason;
    } cases[] = {
        {"a late block acknowledgement, then consent",
         {{Ack(3), CommitAnswer(0x26)}},
         TransferVerdict::Done,
         1,
         ""},
        {"acknowledgement lost, then refused as a repeat",
         {{}, {CommitAnswer(0)}, {CommitAnswer(0)}},
         TransferVerdict::Unconfirmed,
         3,
         "the commit was not acknowledged (1 of 3 attempts without an answer); the converter "
         "answered echo after the restart wait"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_link = FakeLink{};
        m_link.commitScript = c.commitScript;
        EXPECT_EQ(Run(TestImage(4096, 2), false), c.verdict == TransferVerdict::Done);
        EXPECT_EQ(m_result.verdict, c.verdict);
        EXPECT_EQ(m_result.reason, c.reason);
        size_t commits = 0;
        for (const Sent& d : m_link.sent)
            commits += d.IsCommit() ? 1 : 0;
        EXPECT_EQ(commits, c.commits);
        const bool waited = !TimelineFrom(m_link.timeline, "sleep 50").empty();
        EXPECT_EQ(waited, c.verdict == TransferVerdict::Unconfirmed)
            << "the restart wait, though the caller did not ask for it";
    }
}

TEST_F(Sam4EngineTest, ImagesTooLargeForTheBlockNumbersAreRefused) {
    const Bytes image(kSam4MaxImageSize + 1, 0);
    EXPECT_FALSE(Run(image));
    EXPECT_EQ(m_link.transportsMade, 0);
    EXPECT_EQ(CountOf(m_log.Text(), ErrorLine("Failure:Invalid image size:67108865 bytes "
                                              "(expect:at most 67108864 bytes)")),
              1u)
        << m_log.Text();
}

} // namespace
} // namespace qarn::test
