#include "net/EchoEngine.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using namespace std::chrono_literals;
using platform::IcmpAnswer;
using platform::ProbeSend;
using TimePoint = EchoSchedule::TimePoint;

constexpr uint32_t kHostA = 0x0A01A8C0; // 192.168.1.10, network order
constexpr uint32_t kHostB = 0x0B01A8C0;
constexpr uint32_t kRouter = 0x0101A8C0;
constexpr uint16_t kId = 0x4242;

class FakeSocket : public IEchoProbeSocket {
  public:
    struct Sent {
        uint32_t address;
        uint16_t sequence;
    };
    ProbeSend Send(uint32_t address, uint16_t sequence) override {
        if (busy)
            return ProbeSend::Busy;
        if (address == refuse)
            return ProbeSend::Refused;
        sent.push_back({address, sequence});
        return ProbeSend::Sent;
    }
    uint16_t Identifier() const override { return kId; }

    std::vector<Sent> sent;
    uint32_t refuse = 0;
    bool busy = false;
};

struct Harness {
    explicit Harness(EchoSettings settings = {})
        : schedule(socket, settings, [this](uint32_t address, bool reply) {
              results.push_back({address, reply});
          }) {}
    void RunAt(std::chrono::milliseconds at) { schedule.Run(start + at); }
    void Answer(IcmpAnswer answer, std::chrono::milliseconds at) {
        schedule.OnAnswer(answer, start + at);
    }
    std::optional<bool> ResultFor(uint32_t address) const {
        for (const auto& [a, reply] : results)
            if (a == address)
                return reply;
        return std::nullopt;
    }

    FakeSocket socket;
    EchoSchedule schedule;
    std::vector<std::pair<uint32_t, bool>> results;
    TimePoint start = TimePoint{} + 100s;
};

IcmpAnswer Reply(uint32_t from, uint16_t sequence, uint16_t id = kId) {
    IcmpAnswer answer;
    answer.from = from;
    answer.target = from;
    answer.identifier = id;
    answer.sequence = sequence;
    return answer;
}

IcmpAnswer Error(uint32_t router, uint32_t target, uint16_t sequence) {
    IcmpAnswer answer;
    answer.from = router;
    answer.target = target;
    answer.identifier = kId;
    answer.sequence = sequence;
    answer.status = platform::kIpDestHostUnreachable;
    return answer;
}

TEST(EchoScheduleTest, MatchesAnswersByIdentifierSequenceAndSource) {
    // Each row: one echo to host A, its first probe sent at 0 ms; then `answer` arrives at 100 ms
    // (made from the sequence the first probe carried). The echo's result right after it, and at
    // the end of the time-out.
    struct Row {
        const char* name;
        std::function<IcmpAnswer(uint16_t sequence)> answer;
        std::optional<bool> afterAnswer;
        bool finally;
    };
    const Row rows[] = {
        {"reply from the host", [](uint16_t s) { return Reply(kHostA, s); }, true, true},
        {"reply with another identifier", [](uint16_t s) { return Reply(kHostA, s, kId + 1); },
         std::nullopt, false},
        {"reply to another sequence", [](uint16_t s) { return Reply(kHostA, s + 7); }, std::nullopt,
         false},
        {"reply from another source",
         [](uint16_t s) {
             IcmpAnswer a = Reply(kHostB, s);
             a.target = kHostA; // a host answering for another
             return a;
         },
         std::nullopt, false},
        {"reply from B to A's probe", [](uint16_t s) { return Reply(kHostB, s); }, std::nullopt,
         false},
        {"router says unreachable", [](uint16_t s) { return Error(kRouter, kHostA, s); }, false,
         false},
        {"error quoting another target", [](uint16_t s) { return Error(kRouter, kHostB, s); },
         std::nullopt, false},
        {"refused by this host",
         [](uint16_t s) {
             IcmpAnswer a = Error(0, kHostA, s);
             a.local = true;
             a.status = platform::kIpGeneralFailure;
             return a;
         },
         false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h;
        ASSERT_TRUE(h.schedule.Submit(kHostA, false));
        h.RunAt(0ms);
        ASSERT_EQ(h.socket.sent.size(), 1u);
        h.Answer(row.answer(h.socket.sent[0].sequence), 100ms);
        EXPECT_EQ(h.ResultFor(kHostA), row.afterAnswer);
        h.RunAt(999ms);
        h.RunAt(1000ms);
        EXPECT_EQ(h.ResultFor(kHostA), std::optional<bool>(row.finally));
        EXPECT_EQ(h.results.size(), 1u) << "an echo ends exactly once";
        EXPECT_EQ(h.schedule.Outstanding(), 0u);
    }
}

TEST(EchoScheduleTest, SendsFurtherProbesWithinTheSameTimeout) {
    Harness h;
    ASSERT_TRUE(h.schedule.Submit(kHostA, false));
    h.RunAt(0ms);
    h.RunAt(249ms);
    EXPECT_EQ(h.socket.sent.size(), 1u);
    h.RunAt(250ms);
    EXPECT_EQ(h.socket.sent.size(), 2u);
    h.RunAt(500ms);
    ASSERT_EQ(h.socket.sent.size(), 3u);
    EXPECT_NE(h.socket.sent[0].sequence, h.socket.sent[2].sequence);
    h.RunAt(999ms);
    EXPECT_FALSE(h.ResultFor(kHostA).has_value()) << "the time-out is not stretched by probes";
    EXPECT_EQ(h.socket.sent.size(), 3u);
    // The first probe was lost; the reply to the last one still counts, within the time-out.
    h.Answer(Reply(kHostA, h.socket.sent[2].sequence), 990ms);
    EXPECT_EQ(h.ResultFor(kHostA), std::optional<bool>(true));
}

TEST(EchoScheduleTest, LateAndDuplicateRepliesAreIgnored) {
    Harness h;
    ASSERT_TRUE(h.schedule.Submit(kHostA, false));
    h.RunAt(0ms);
    const uint16_t first = h.socket.sent[0].sequence;
    h.RunAt(250ms);
    const uint16_t second = h.socket.sent[1].sequence;
    h.Answer(Reply(kHostA, second), 260ms);
    h.Answer(Reply(kHostA, second), 261ms); // duplicate
    h.Answer(Reply(kHostA, first), 262ms);  // the slower first probe
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_TRUE(h.results[0].second);
    h.RunAt(2000ms);
    EXPECT_EQ(h.socket.sent.size(), 2u) << "no probes after the echo ended";

    // A new echo to the same host: the old echo's late reply must not answer it.
    h.results.clear();
    ASSERT_TRUE(h.schedule.Submit(kHostA, false));
    h.RunAt(3000ms);
    h.Answer(Reply(kHostA, first), 3001ms);
    h.Answer(Reply(kHostA, second), 3002ms);
    EXPECT_TRUE(h.results.empty());
    h.RunAt(4000ms);
    EXPECT_EQ(h.ResultFor(kHostA), std::optional<bool>(false));
}

TEST(EchoScheduleTest, SequenceWrapSkipsNumbersStillAwaited) {
    EchoSettings settings;
    settings.probes = 1;
    settings.probesPerSecond = 1000000;
    settings.maxOutstanding = 70000;
    Harness h(settings);
    // Host A's probe stays in flight while 65535 others come and go (each ended by its reply).
    ASSERT_TRUE(h.schedule.Submit(kHostA, false));
    h.RunAt(0ms);
    const uint16_t awaited = h.socket.sent[0].sequence;
    for (uint32_t i = 1; i <= 65536; ++i) {
        const uint32_t host = 0x0000000A | (i << 8);
        ASSERT_TRUE(h.schedule.Submit(host, false));
        h.RunAt(std::chrono::milliseconds(i / 1000));
        ASSERT_EQ(h.socket.sent.back().address, host);
        ASSERT_NE(h.socket.sent.back().sequence, awaited) << "wrapped onto a live probe";
        h.Answer(Reply(host, h.socket.sent.back().sequence), std::chrono::milliseconds(i / 1000));
    }
    EXPECT_FALSE(h.ResultFor(kHostA).has_value());
    h.Answer(Reply(kHostA, awaited), 90ms);
    EXPECT_EQ(h.ResultFor(kHostA), std::optional<bool>(true));
}

TEST(EchoScheduleTest, PacesProbesAndSendsUrgentOnesFirst) {
    EchoSettings settings;
    settings.probes = 1;
    settings.probesPerSecond = 1000; // a burst of 20, then one per millisecond
    settings.maxOutstanding = 100;
    settings.urgentReserve = 2;
    Harness h(settings);
    for (uint32_t i = 0; i < 100; ++i)
        ASSERT_TRUE(h.schedule.Submit(0x0A000000 + i, false));
    EXPECT_FALSE(h.schedule.Submit(0x0B000000, false)) << "the bound holds new sources out";
    ASSERT_TRUE(h.schedule.Submit(kHostA, true)) << "a known host has a reserve";
    ASSERT_TRUE(h.schedule.Submit(kHostB, true));
    EXPECT_FALSE(h.schedule.Submit(kRouter, true)) << "the reserve is bounded too";
    h.RunAt(0ms);
    ASSERT_EQ(h.socket.sent.size(), 20u);
    EXPECT_EQ(h.socket.sent[0].address, kHostA);
    EXPECT_EQ(h.socket.sent[1].address, kHostB);
    h.RunAt(10ms);
    EXPECT_EQ(h.socket.sent.size(), 30u);
    // A full socket buffer: nothing is lost, it goes out later.
    h.socket.busy = true;
    h.RunAt(20ms);
    EXPECT_EQ(h.socket.sent.size(), 30u);
    h.socket.busy = false;
    h.RunAt(21ms);
    EXPECT_EQ(h.socket.sent.size(), 41u);
}

TEST(EchoScheduleTest, AnEchoThatCannotBeSentEndsAtOnce) {
    Harness h;
    h.socket.refuse = kHostA;
    ASSERT_TRUE(h.schedule.Submit(kHostA, false));
    ASSERT_TRUE(h.schedule.Submit(kHostB, false));
    h.RunAt(0ms);
    EXPECT_EQ(h.ResultFor(kHostA), std::optional<bool>(false));
    EXPECT_FALSE(h.ResultFor(kHostB).has_value());
    EXPECT_EQ(h.schedule.Outstanding(), 1u);
}

TEST(EchoScheduleTest, TimesOutManyEchoesFromOneQueue) {
    Harness h;
    for (uint32_t i = 0; i < 50; ++i)
        ASSERT_TRUE(h.schedule.Submit(0x0A000000 + i, false));
    h.RunAt(0ms);
    ASSERT_TRUE(h.schedule.Submit(kHostA, false));
    h.RunAt(400ms);
    h.RunAt(1000ms);
    EXPECT_EQ(h.results.size(), 50u);
    EXPECT_FALSE(h.ResultFor(kHostA).has_value());
    h.RunAt(1400ms);
    EXPECT_EQ(h.ResultFor(kHostA), std::optional<bool>(false));
    EXPECT_EQ(h.schedule.Outstanding(), 0u);
}

} // namespace
} // namespace qarn
