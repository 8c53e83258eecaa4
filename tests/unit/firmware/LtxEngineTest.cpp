#include "firmware/CLtxTransfer.h"
#include "support/LogCapture.h"
#include "unit/firmware/FirmwareEngineFakes.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::test {
namespace {

const std::string kLine = "CConfigLANconverter::UpdateLtxLANconverter: Dst:'198.18.1.7' ";

std::string ErrorLine(const std::string& detail) {
    return "ERROR   - " + kLine + detail + "\n"; // error lines end in a bare line feed
}

constexpr size_t kImageSize = 131072;

class LtxEngineTest : public ::testing::Test {
  protected:
    bool Run(const Bytes& image, IProgressDisplay* progress = nullptr) {
        CLtxTransfer transfer(FakeEnvironment(m_link));
        return transfer.Run(kTarget, image, progress, false, true, &m_result);
    }
    std::string Logged() const { return m_log.Text(); }

    LogCapture m_log;
    FakeLink m_link;
    TransferResult m_result;
    const Bytes m_image = TestImage(kImageSize, 150);
};

TEST_F(LtxEngineTest, SendsTheFixedLayoutOf126BlocksWithoutACommit) {
    FakeProgress progress(m_link);
    ASSERT_TRUE(Run(m_image, &progress));
    ASSERT_EQ(m_link.sent.size(), 126u);

    // Written out from the layout: 0, 4, ... 244, 248 short, then 249, 253, ... 493, 497 short.
    std::vector<uint32_t> expected;
    for (uint32_t n = 0; n <= 244; n += 4)
        expected.push_back(n);
    expected.push_back(0x100F8);
    for (uint32_t n = 249; n <= 493; n += 4)
        expected.push_back(n);
    expected.push_back(0x101F1);

    Bytes received;
    size_t long_ = 0;
    size_t short_ = 0;
    for (size_t i = 0; i < m_link.sent.size(); ++i) {
        const Sent& d = m_link.sent[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(d.type, 1);
        EXPECT_EQ(d.cmd, 0x1E);
        EXPECT_EQ(d.length, 0u);
        EXPECT_EQ(d.block, expected[i]);
        EXPECT_EQ(d.seed & 0x80008000u, 0u) << "two 15-bit draws, (first << 16) | second";
        long_ += d.bytes.size() == 1072 ? 1 : 0;
        short_ += d.bytes.size() == 80 ? 1 : 0;
        received.insert(received.end(), d.plain.begin(), d.plain.end());
    }
    EXPECT_EQ(long_, 124u);
    EXPECT_EQ(short_, 2u);
    EXPECT_EQ(received, m_image) << "the halves end with their 64-byte blocks";

    ASSERT_EQ(progress.positions.size(), 1 + 126 + 1u);
    EXPECT_EQ(progress.positions[1], 0) << "after block 0";
    EXPECT_EQ(progress.positions[63], 49) << "after block 248: 248 * 1000 / 4980";
    EXPECT_EQ(progress.positions[126], 99) << "after block 497";
    EXPECT_EQ(progress.positions.back(), 100);
    EXPECT_EQ(CountOf(Logged(), "INFO    - " + kLine + "done:Success\r\n"), 1u) << Logged();
}

TEST_F(LtxEngineTest, ImagesOfAnotherSizeAreRefusedBeforeAnythingIsSent) {
    for (const size_t size : {kImageSize - 1, kImageSize + 1, size_t{148972}, size_t{1}}) {
        SCOPED_TRACE(size);
        m_link = FakeLink{};
        EXPECT_FALSE(Run(TestImage(size, 1)));
        EXPECT_EQ(m_link.transportsMade, 0);
        EXPECT_TRUE(m_link.sent.empty());
        EXPECT_EQ(CountOf(Logged(), ErrorLine("Failure:Invalid image size:" + std::to_string(size) +
                                              " bytes (expect:131072 bytes)")),
                  1u)
            << Logged();
    }
    m_link = FakeLink{};
    EXPECT_FALSE(Run(Bytes{}));
    EXPECT_EQ(m_link.transportsMade, 0);
}

// Neither resends the block. An earlier block's echo (a converter that repeats its answers) is
// passed over without a word; any other is logged.
TEST_F(LtxEngineTest, WrongEchoIsWaitedPastWithoutAResend) {
    const struct {
        const char* name;
        uint16_t echo;
        size_t lines;
    } cases[] = {{"an earlier block's", 4, 0}, {"a later block's", 12, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t logged = Logged().size();
        m_link = FakeLink{};
        m_link.blockScripts[8] = {{Ack(c.echo), Ack(8)}};
        EXPECT_TRUE(Run(m_image));
        EXPECT_EQ(m_link.SendsOfBlock(8), 1u);
        EXPECT_EQ(m_link.sent.size(), 126u);
        const std::string text = Logged().substr(logged);
        EXPECT_EQ(CountOf(text, "ERROR   - "), c.lines) << text;
        EXPECT_EQ(CountOf(text, ErrorLine("Failure:Invalid block sequence or answer command: "
                                          "block(send:8 got:" +
                                          std::to_string(c.echo) + ") cmd:1")),
                  c.lines)
            << text;
    }
}

// The converter takes the image with block 497: when that block's acknowledgement does not come,
// the converter may hold the image all the same, so the engine waits for the restart and leaves
// the verdict to its version. Any earlier block that fails leaves the image incomplete.
TEST_F(LtxEngineTest, AnUnansweredLastBlockLeavesTheVerdictToTheVersion) {
    const struct {
        uint16_t silentBlock;
        TransferVerdict verdict;
        const char* reason;
    } cases[] = {
        {497, TransferVerdict::Unconfirmed,
         "block 497 (126 of 126) was not acknowledged (no answer within 2.5 s); the converter "
         "answered echo after the restart wait"},
        {493, TransferVerdict::Failed,
         "block 493 (125 of 126) was not acknowledged (no answer within 2.5 s)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.silentBlock);
        m_link = FakeLink{};
        m_link.blockScripts[c.silentBlock] = {{}};
        EXPECT_FALSE(Run(m_image));
        EXPECT_EQ(m_result.verdict, c.verdict);
        EXPECT_EQ(m_result.reason, c.reason);
        EXPECT_EQ(m_link.sent.size(), c.silentBlock == 497 ? 126u : 125u) << "no resend";
        EXPECT_EQ(TimelineFrom(m_link.timeline, "sleep 50").empty(),
                  c.verdict == TransferVerdict::Failed);
    }
}

TEST_F(LtxEngineTest, AFloodOfMismatchingAnswersEndsTheTransfer) {
    std::vector<Bytes> flood(40, Ack(0xFFFF));
    flood.push_back(Ack(0)); // too late: the bound has tripped by then
    m_link.blockScripts[0] = {flood};
    EXPECT_FALSE(Run(m_image));
    EXPECT_EQ(m_link.sent.size(), 1u);
    const std::string text = Logged();
    EXPECT_EQ(CountOf(text, "Failure:Invalid block sequence"),
              size_t{CLtxTransfer::kMaxMismatchedAnswers})
        << text;
    EXPECT_EQ(CountOf(text, ErrorLine("Failure:Too many mismatching answers:16 for block:0")), 1u)
        << text;
}

struct WrongLengthCase {
    const char* name;
    int wrongAnswers;
    bool succeeds;
};

TEST_F(LtxEngineTest, AnswersOfAnotherLengthResendTheBlockUpToThreeTimes) {
    const WrongLengthCase cases[] = {
        {"twice, then the acknowledgement", 2, true},
        {"three times", 3, false},
    };
    for (const WrongLengthCase& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t logged = Logged().size();
        m_link = FakeLink{};
        for (int i = 0; i < c.wrongAnswers; ++i)
            m_link.blockScripts[8].push_back({Resized(Ack(8), 20)});
        EXPECT_EQ(Run(m_image), c.succeeds);
        EXPECT_EQ(m_link.SendsOfBlock(8), 3u);
        EXPECT_EQ(m_link.sent.size(), c.succeeds ? 128u : 3 + 2u) << "nothing after a failure";
        const std::string text = Logged().substr(logged);
        EXPECT_EQ(CountOf(text, ErrorLine("Failure:Invalid anser length:20 bytes "
                                          "(expect:LANconvConfigHdr(16 bytes))")),
                  static_cast<size_t>(c.wrongAnswers))
            << text;
    }
}

} // namespace
} // namespace qarn::test
