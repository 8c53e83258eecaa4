#include "platform/Icmp.h"

#include "support/NetLab.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::platform {
namespace {

using Clock = std::chrono::steady_clock;

uint32_t Ip(const char* text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    return address.s_addr;
}

std::string KindName(const ::testing::TestParamInfo<IcmpSocketKind>& info) {
    return info.param == IcmpSocketKind::Datagram ? "Datagram" : "Raw";
}

TEST(IcmpErrorStatusTest, MapsTypeAndCodeToStatus) {
    struct Row {
        const char* name;
        uint8_t type;
        uint8_t code;
        uint32_t status;
    };
    const Row rows[] = {
        {"net unreachable", 3, 0, kIpDestNetUnreachable},
        {"net unknown", 3, 6, kIpDestNetUnreachable},
        {"net unreachable for TOS", 3, 11, kIpDestNetUnreachable},
        {"host unreachable", 3, 1, kIpDestHostUnreachable},
        {"host prohibited", 3, 10, kIpDestHostUnreachable},
        {"communication prohibited", 3, 13, kIpDestHostUnreachable},
        {"protocol unreachable", 3, 2, kIpDestProtUnreachable},
        {"port unreachable", 3, 3, kIpDestPortUnreachable},
        {"fragmentation needed", 3, 4, kIpPacketTooBig},
        {"source route failed", 3, 5, kIpBadRoute},
        {"unknown unreachable code", 3, 14, kIpGeneralFailure},
        {"ttl expired in transit", 11, 0, kIpTtlExpiredTransit},
        {"reassembly time exceeded", 11, 1, kIpTtlExpiredReassem},
        {"unknown time exceeded code", 11, 2, kIpGeneralFailure},
        {"parameter problem", 12, 0, kIpParamProblem},
        {"source quench", 4, 0, kIpSourceQuench},
        {"redirect", 5, 0, kIpGeneralFailure},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(IcmpErrorStatus(row.type, row.code), row.status);
    }
}

TEST(IcmpEchoTest, OpenFailureIsReportedWithTheSystemError) {
    QARN_REQUIRE_NETLAB();
    ASSERT_TRUE(test::AllowPingSockets(true));
    test::ScopedDescriptorExhaustion noDescriptors;
    ASSERT_TRUE(noDescriptors.Active());
    IcmpEcho echo;
    EXPECT_FALSE(echo.IsValid());
    EXPECT_EQ(echo.OpenError(), EMFILE);
    IcmpEchoReply reply;
    EXPECT_FALSE(echo.SendEcho(Ip("127.0.0.1"), 64, 100, &reply));
}

TEST(IcmpEchoTest, WithoutRawSocketRightsOnlyThePingGroupsCanPing) {
    QARN_REQUIRE_NETLAB();
    struct Row {
        const char* name;
        bool pingSockets; // whether our group may open ICMP datagram sockets
        bool valid;
    };
    // "None" first: in a user namespace it cannot be set again after a change.
    const Row rows[] = {
        {"no group may ping", false, false},
        {"our group may ping", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(test::AllowPingSockets(row.pingSockets));
        test::ScopedWithoutNetRaw unprivileged;
        if (!unprivileged.Active())
            GTEST_SKIP() << "needs CAP_NET_RAW to give up; run the tests as root";
        IcmpEcho echo;
        ASSERT_EQ(echo.IsValid(), row.valid);
        if (row.valid) {
            EXPECT_EQ(echo.Kind(), IcmpSocketKind::Datagram);
            IcmpEchoReply reply;
            EXPECT_TRUE(echo.SendEcho(Ip("127.0.0.1"), 64, 1000, &reply));
        } else {
            EXPECT_EQ(echo.OpenError(), EPERM);
        }
    }
}

// The test's namespace 198.18.1.1 is joined to a router R at 198.18.1.2. Behind R:
//   198.18.200.0/24  R's own (on its lo): answers echo, except .11 - .15, which R rejects with
//                    the ICMP errors of the table below
//   198.18.201.0/24  forwarded towards 198.18.1.99, which nobody holds: a time-to-live of 1
//                    expires at R; with more, R sends a redirect and the request dies silently
//   198.18.202.0/24  black hole: silent
// 198.18.1.77 is on the link but nobody holds it.
class IcmpLab : public ::testing::TestWithParam<IcmpSocketKind> {
  protected:
    void SetUp() override {
        QARN_REQUIRE_NETLAB();
        std::string why;
        ASSERT_TRUE(m_router.Create(&why)) << why;
        ASSERT_TRUE(test::RunOk("ip route add 198.18.200.0/22 via 198.18.1.2"));
        ASSERT_TRUE(m_router.RunOk("sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0 && "
                                   "ip addr add 198.18.200.1/24 dev lo && "
                                   "ip route add 198.18.201.0/24 via 198.18.1.99 && "
                                   "ip route add blackhole 198.18.202.0/24"));
        ASSERT_TRUE(
            m_router.RunOk("nft -f - <<'EOF'\n"
                           "table ip lab {\n"
                           "  chain input {\n"
                           "    type filter hook input priority 0; policy accept;\n"
                           "    ip daddr 198.18.200.11 reject with icmp type host-unreachable\n"
                           "    ip daddr 198.18.200.12 reject with icmp type net-unreachable\n"
                           "    ip daddr 198.18.200.13 reject with icmp type prot-unreachable\n"
                           "    ip daddr 198.18.200.14 reject with icmp type port-unreachable\n"
                           "    ip daddr 198.18.200.15 reject with icmp type admin-prohibited\n"
                           "  }\n"
                           "}\n"
                           "EOF"));
        ASSERT_TRUE(test::AllowPingSockets(GetParam() == IcmpSocketKind::Datagram));
        IcmpEcho probe;
        ASSERT_TRUE(probe.IsValid()) << "needs root or CAP_NET_RAW for raw ICMP sockets";
        ASSERT_EQ(probe.Kind(), GetParam());
    }

    test::PeerNamespace m_router{1};
};

TEST_P(IcmpLab, AnswersRepliesErrorsAndSilence) {
    struct Row {
        const char* name;
        const char* target;
        uint8_t ttl;
        bool answered;
        uint32_t status;  // when answered
        const char* from; // when answered; null: the target itself
    };
    const Row rows[] = {
        {"loopback", "127.0.0.1", 64, true, kIpSuccess, nullptr},
        {"own address on the link", "198.18.1.1", 64, true, kIpSuccess, nullptr},
        {"router", "198.18.1.2", 64, true, kIpSuccess, nullptr},
        {"host behind the router", "198.18.200.1", 255, true, kIpSuccess, nullptr},
        {"host unreachable", "198.18.200.11", 255, true, kIpDestHostUnreachable, nullptr},
        {"net unreachable", "198.18.200.12", 255, true, kIpDestNetUnreachable, nullptr},
        {"protocol unreachable", "198.18.200.13", 255, true, kIpDestProtUnreachable, nullptr},
        {"port unreachable", "198.18.200.14", 255, true, kIpDestPortUnreachable, nullptr},
        {"administratively prohibited", "198.18.200.15", 255, true, kIpDestHostUnreachable,
         nullptr},
        {"ttl 1 expires at the router", "198.18.201.9", 1, true, kIpTtlExpiredTransit,
         "198.18.1.2"},
        {"ttl 2 passes the router, redirect is no answer", "198.18.201.9", 2, false, 0, nullptr},
        {"address nobody holds", "198.18.1.77", 64, false, 0, nullptr},
        {"black hole", "198.18.202.1", 64, false, 0, nullptr},
    };
    constexpr uint32_t kTimeoutMs = 300;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        IcmpEcho echo;
        IcmpEchoReply reply;
        const Clock::time_point start = Clock::now();
        const bool answered = echo.SendEcho(Ip(row.target), row.ttl, kTimeoutMs, &reply);
        const auto took = Clock::now() - start;
        ASSERT_EQ(answered, row.answered);
        if (answered) {
            EXPECT_EQ(reply.status, row.status);
            EXPECT_EQ(reply.address, Ip(row.from != nullptr ? row.from : row.target));
        } else {
            EXPECT_GE(took, std::chrono::milliseconds(kTimeoutMs - 10));
            EXPECT_LT(took, std::chrono::milliseconds(kTimeoutMs + 1000));
        }
    }
}

TEST_P(IcmpLab, RequestWithoutRouteFailsAtOnce) {
    IcmpEcho echo;
    IcmpEchoReply reply;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(echo.SendEcho(Ip("203.0.113.1"), 64, 2000, &reply));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
}

TEST_P(IcmpLab, ConcurrentRequestsSeeOnlyTheirOwnAnswers) {
    // While the silent targets' requests wait, the others draw a stream of replies; on a raw
    // socket every waiting request sees all of them.
    const char* const answering[] = {"198.18.200.1", "198.18.1.2", "198.18.200.1"};
    const char* const silent[] = {"198.18.202.1", "198.18.1.77", "198.18.202.2"};
    constexpr int kRepliesPerThread = 25;
    std::latch start(std::size(answering) + std::size(silent));
    std::vector<int> answered(std::size(answering), 0);
    std::vector<int> wrong(std::size(answering), 0);
    std::vector<int> silentAnswered(std::size(silent), -1);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < std::size(answering); ++i)
        threads.emplace_back([&, i] {
            IcmpEcho echo;
            start.arrive_and_wait();
            for (int n = 0; n < kRepliesPerThread; ++n) {
                IcmpEchoReply reply;
                const bool ok = echo.SendEcho(Ip(answering[i]), 64, 1000, &reply);
                answered[i] += ok && reply.status == kIpSuccess;
                wrong[i] += ok && reply.address != Ip(answering[i]);
            }
        });
    for (size_t i = 0; i < std::size(silent); ++i)
        threads.emplace_back([&, i] {
            IcmpEcho echo;
            IcmpEchoReply reply;
            start.arrive_and_wait();
            silentAnswered[i] = echo.SendEcho(Ip(silent[i]), 64, 300, &reply) ? 1 : 0;
        });
    for (std::thread& thread : threads)
        thread.join();
    for (size_t i = 0; i < std::size(answering); ++i) {
        SCOPED_TRACE(answering[i]);
        EXPECT_EQ(answered[i], kRepliesPerThread);
        EXPECT_EQ(wrong[i], 0);
    }
    for (size_t i = 0; i < std::size(silent); ++i) {
        SCOPED_TRACE(silent[i]);
        EXPECT_EQ(silentAnswered[i], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, IcmpLab,
                         ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         KindName);

} // namespace
} // namespace qarn::platform
