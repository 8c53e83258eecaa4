// What the two transfer engines share: the restart wait, the choice of transport, the clean-up,
// and the wait for answers that arrive on another thread.

#include "firmware/CConfigLANconverter.h"
#include "firmware/CLtxTransfer.h"
#include "firmware/CSam4Transfer.h"
#include "support/LogCapture.h"
#include "unit/firmware/FirmwareEngineFakes.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

enum class Engine { Sam4, Ltx };

struct EngineCase {
    Engine engine;
    const char* name;
    const char* logName;
    int32_t clientLimit;
    int clientPauseMs;
};

std::string PrintName(const ::testing::TestParamInfo<EngineCase>& info) {
    return info.param.name;
}

class EngineCommonTest : public ::testing::TestWithParam<EngineCase> {
  protected:
    Bytes Image() const {
        return GetParam().engine == Engine::Sam4 ? TestImage(10 * 1024, 9) : TestImage(131072, 9);
    }
    bool Run(const FirmwareTransferEnvironment& environment, bool waitForRestart, bool useUdp,
             IProgressDisplay* progress = nullptr) {
        const Bytes image = Image();
        if (GetParam().engine == Engine::Sam4)
            return CSam4Transfer(environment)
                .Run(kTarget, image, progress, waitForRestart, useUdp, &m_result);
        return CLtxTransfer(environment)
            .Run(kTarget, image, progress, waitForRestart, useUdp, &m_result);
    }
    bool RunPublic(bool useUdp) {
        const Bytes image = Image();
        if (GetParam().engine == Engine::Sam4)
            return CConfigLANconverter::UpdateSam4LANconverter(kTarget, image, nullptr, false,
                                                               useUdp);
        return CConfigLANconverter::UpdateLtxLANconverter(kTarget, image, nullptr, false, useUdp);
    }
    std::string Line(const std::string& detail) const {
        return std::string("CConfigLANconverter::") + GetParam().logName + ": Dst:'" + kTarget +
               "' " + detail;
    }

    LogCapture m_log;
    FakeLink m_link;
    TransferResult m_result;
};

INSTANTIATE_TEST_SUITE_P(
    Engines, EngineCommonTest,
    ::testing::Values(EngineCase{Engine::Sam4, "Sam4", "UpdateSam4LANconverter", 50, 0},
                      EngineCase{Engine::Ltx, "Ltx", "UpdateLtxLANconverter", 100, 1000}),
    PrintName);

TEST_P(EngineCommonTest, RestartWaitPausesFiveSecondsThenPings25TimesAtMost) {
    for (const bool answers : {true, false}) {
        SCOPED_TRACE(answers ? "converter answers echo" : "converter stays away");
        m_link = FakeLink{};
        m_link.pingAnswers = answers;
        FakeProgress progress(m_link);
        EXPECT_EQ(Run(FakeEnvironment(m_link), true, true, &progress), answers);
        EXPECT_EQ(m_result.verdict, answers ? TransferVerdict::Done : TransferVerdict::Unconfirmed)
            << "acknowledged, yet not back: the converter's version decides";

        std::vector<std::string> expected = {"pos 100", "repaint parent"};
        expected.insert(expected.end(), 100, "sleep 50");
        expected.insert(expected.end(),
                        {"text off", "text ''", std::string("ping ") + kTarget + " 25", "close"});
        EXPECT_EQ(TimelineFrom(m_link.timeline, "pos 100"), expected)
            << "silent during the pause, and the endpoint is let go of only at the end";
    }
    const std::string text = m_log.Text();
    EXPECT_EQ(CountOf(text, Line("done:Success")), 2u) << text;
}

// Whatever else reaches the port during a transfer (junk, a stray answer, forged
// acknowledgements from another host) is no answer: it can neither break the transfer off nor
// pass for the converter's consent.
TEST_P(EngineCommonTest, OnlyTheConvertersOwnAnswersCount) {
    const bool sam4 = GetParam().engine == Engine::Sam4;
    const struct {
        const char* name;
        std::function<std::vector<Bytes>(const Sent&)> fromElsewhere;
        bool converterSilent;
        TransferVerdict verdict;
    } cases[] = {
        {"one-byte junk before every answer",
         [](const Sent&) { return std::vector<Bytes>(3, Bytes{0x42}); }, false,
         TransferVerdict::Done},
        {"forged acknowledgements to a silent converter",
         [](const Sent& d) {
             return std::vector<Bytes>{d.IsCommit() ? CommitAnswer(0x26) : Ack(d.Number())};
         },
         true, TransferVerdict::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_link = FakeLink{};
        m_link.fromElsewhere = c.fromElsewhere;
        if (c.converterSilent)
            m_link.blockScripts[0] = {{}, {}, {}};
        FakeProgress progress(m_link);
        EXPECT_EQ(Run(FakeEnvironment(m_link), false, true, &progress),
                  c.verdict == TransferVerdict::Done);
        EXPECT_EQ(m_result.verdict, c.verdict) << m_result.reason;
        EXPECT_EQ(progress.positions.back(), c.converterSilent ? 0 : 100);
        EXPECT_EQ(m_link.Blocks().size(),
                  c.converterSilent ? (sam4 ? 3u : 1u) : (sam4 ? 10u : 126u));
    }
    EXPECT_EQ(CountOf(m_log.Text(), "Invalid anser length"), 0u) << m_log.Text();
}

TEST_P(EngineCommonTest, WithoutRestartWaitNeitherPauseNorPing) {
    EXPECT_TRUE(Run(FakeEnvironment(m_link), false, true));
    for (const std::string& entry : m_link.timeline) {
        EXPECT_EQ(entry.rfind("sleep", 0), std::string::npos);
        EXPECT_EQ(entry.rfind("ping", 0), std::string::npos);
    }
}

TEST_P(EngineCommonTest, TransportThatDoesNotOpenEndsTheTransferAtOnce) {
    m_link.openSucceeds = false;
    FakeProgress progress(m_link);
    EXPECT_FALSE(Run(FakeEnvironment(m_link), true, true, &progress));
    EXPECT_EQ(m_link.timeline, std::vector<std::string>{"open"});
}

TEST_P(EngineCommonTest, AnswersWaitingBeforeTheFirstBlockAreDropped) {
    m_link.waitingAtOpen = {Ack(5), Ack(0, 0), Bytes{1, 2, 3}};
    EXPECT_TRUE(Run(FakeEnvironment(m_link), false, true));
    EXPECT_EQ(m_link.SendsOfBlock(0), 1u);
    EXPECT_EQ(CountOf(m_log.Text(), "ERROR"), 0u) << m_log.Text();
}

TEST_P(EngineCommonTest, ClientPathWithoutAClientFailsWithALogLine) {
    EXPECT_FALSE(Run(FakeEnvironment(m_link), false, false));
    EXPECT_EQ(m_link.transportsMade, 1);
    EXPECT_FALSE(m_link.madeForUdp);
    EXPECT_EQ(m_link.clientLimit, GetParam().clientLimit);
    EXPECT_TRUE(m_link.sent.empty());
    EXPECT_EQ(
        CountOf(m_log.Text(), "ERROR   - " + Line("Failure:communication client not available\n")),
        1u)
        << m_log.Text();
}

TEST_P(EngineCommonTest, ClientPathUsesTheRegisteredClient) {
    int32_t limit = 0;
    SetClientTransportFactory([this, &limit](int32_t clientLimit) {
        limit = clientLimit;
        return std::make_unique<FakeTransport>(m_link);
    });
    const auto start = Clock::now();
    EXPECT_TRUE(RunPublic(false));
    const auto took = Clock::now() - start;
    SetClientTransportFactory({});
    EXPECT_EQ(limit, GetParam().clientLimit);
    EXPECT_EQ(m_link.openedTarget, kTargetAddress);
    EXPECT_EQ(m_link.closes, 1);
    EXPECT_FALSE(m_link.sent.empty());
    EXPECT_GE(took, std::chrono::milliseconds(GetParam().clientPauseMs))
        << "the fixed-layout engine pauses before it opens the client";

    m_link = FakeLink{};
    EXPECT_FALSE(RunPublic(false)) << "once the client is gone again";
    EXPECT_TRUE(m_link.timeline.empty());
}

// Answers that arrive on another thread, a moment after each send, as the receive worker of a
// real endpoint delivers them. Records the longest time between two sends.
class DelayedTransport : public IFirmwareTransport {
  public:
    DelayedTransport(FakeLink& link, Clock::duration& longestGap)
        : m_link(link), m_longestGap(longestGap) {}
    ~DelayedTransport() override { Close(); }

    bool Open(CMsgQueue& answers, uint32_t, bool signalAnswers) override {
        m_queue = &answers;
        m_signal = signalAnswers;
        m_link.signalAnswers = signalAnswers;
        m_worker = std::thread([this] { Deliver(); });
        return true;
    }
    bool Send(std::span<const uint8_t> datagram) override {
        const auto now = Clock::now();
        if (m_lastSend)
            m_longestGap = std::max(m_longestGap, now - *m_lastSend);
        m_lastSend = now;
        m_link.sent.emplace_back(Bytes(datagram.begin(), datagram.end()));
        const std::lock_guard<std::mutex> guard(m_lock);
        for (const Bytes& answer : m_link.AnswersTo(m_link.sent.back()))
            m_pending.push_back(answer);
        m_wake.notify_one();
        return true;
    }
    void Close() override {
        {
            const std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        m_wake.notify_one();
        if (m_worker.joinable())
            m_worker.join();
    }

  private:
    void Deliver() {
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_pending.empty(); });
            if (m_stop)
                return;
            Bytes answer = std::move(m_pending.front());
            m_pending.pop_front();
            lock.unlock();
            std::this_thread::sleep_for(1ms);
            auto msg = std::make_unique<CMsg>();
            msg->data = std::move(answer);
            msg->address = kTargetAddress;
            m_queue->Push(std::move(msg), m_signal);
            lock.lock();
        }
    }

    FakeLink& m_link;
    Clock::duration& m_longestGap;
    CMsgQueue* m_queue = nullptr;
    bool m_signal = false;
    std::thread m_worker;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Bytes> m_pending;
    bool m_stop = false;
    std::optional<Clock::time_point> m_lastSend;
};

// A wake-up lost between a look at the queue and the wait would leave an answer lying until the
// deadline (2 to 3 s); with either way of waiting, each answer must be taken as it arrives.
TEST_P(EngineCommonTest, AnswersFromAnotherThreadAreTakenAsTheyArrive) {
    for (const AnswerWait wait : {AnswerWait::Event, AnswerWait::Poll}) {
        SCOPED_TRACE(wait == AnswerWait::Event ? "event" : "poll");
        m_link = FakeLink{};
        Clock::duration longestGap{};
        FirmwareTransferEnvironment environment = FakeEnvironment(m_link);
        environment.answerWait = wait;
        environment.makeTransport = [&](bool, int32_t) -> std::unique_ptr<IFirmwareTransport> {
            return std::make_unique<DelayedTransport>(m_link, longestGap);
        };
        EXPECT_TRUE(Run(environment, false, true));
        EXPECT_EQ(m_link.signalAnswers, wait == AnswerWait::Event);
        EXPECT_LT(longestGap, 1s) << "an answer was left until the deadline";
        EXPECT_EQ(CountOf(m_log.Text(), "Failure:Timeout"), 0u) << m_log.Text();
    }
}

} // namespace
} // namespace qarn::test
