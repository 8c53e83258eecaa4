#include "net/CPing.h"

#include "platform/SocketLibrary.h"
#include "support/LogCapture.h"
#include "support/NetLab.h"

#include <arpa/inet.h>
#include <chrono>
#include <string>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using Clock = std::chrono::steady_clock;

uint32_t Ip(const char* text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    return address.s_addr;
}

using test::LogCapture;

TEST(CPingTest, HoldsOneSocketLibraryStartUpForItsLifetime) {
    const int32_t before = platform::SocketLibraryUsers();
    {
        CPing ping;
        EXPECT_TRUE(ping.IsInitialized());
        EXPECT_EQ(platform::SocketLibraryUsers(), before + 1);
    }
    EXPECT_EQ(platform::SocketLibraryUsers(), before);
}

// The test's namespace 198.18.1.1 is joined to a router R at 198.18.1.2, which owns
// 198.18.200.0/24 (answers echo) but rejects 198.18.200.11 as host unreachable. The test's own
// outgoing echo requests are counted.
class PingLab : public ::testing::Test {
  protected:
    void SetUp() override {
        QARN_REQUIRE_NETLAB();
        std::string why;
        ASSERT_TRUE(m_router.Create(&why)) << why;
        ASSERT_TRUE(test::RunOk("ip route add 198.18.200.0/24 via 198.18.1.2"));
        ASSERT_TRUE(m_router.RunOk("sysctl -qw net.ipv4.icmp_ratelimit=0 && "
                                   "ip addr add 198.18.200.1/24 dev lo && "
                                   "nft add table ip lab && nft add chain ip lab input "
                                   "'{ type filter hook input priority 0; }' && "
                                   "nft add rule ip lab input ip daddr 198.18.200.11 "
                                   "reject with icmp type host-unreachable"));
        ASSERT_TRUE(test::RunOk("nft add table ip count && nft add counter ip count echoes && "
                                "nft add chain ip count output "
                                "'{ type filter hook output priority 0; }' && "
                                "nft add rule ip count output icmp type echo-request "
                                "counter name echoes"));
    }

    // Echo requests this namespace has sent since SetUp.
    int SentEchoes() {
        std::string listing;
        EXPECT_EQ(test::Run("nft list counter ip count echoes", &listing), 0) << listing;
        return test::CounterPackets(listing);
    }

    test::PeerNamespace m_router{1};
};

TEST_F(PingLab, ResultCodesAddressesAndStatusLine) {
    struct Row {
        const char* name;
        const char* target;
        int32_t result;
        const char* replyFrom; // null: no reply recorded
    };
    const Row rows[] = {
        {"loopback", "127.0.0.1", CPing::kReply, "127.0.0.1"},
        {"host behind the router", "198.18.200.1", CPing::kReply, "198.18.200.1"},
        {"rejected as host unreachable", "198.18.200.11", CPing::kNoUsableReply, "198.18.200.11"},
        {"address nobody holds", "198.18.1.77", CPing::kNoUsableReply, nullptr},
    };
    constexpr uint32_t kTimeoutMs = 250;
    LogCapture log;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CPing ping;
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(ping.PingHost(row.target, kTimeoutMs, 255), row.result);
        const auto took = Clock::now() - start;
        EXPECT_EQ(ping.GetReplyAddress(), row.replyFrom != nullptr ? Ip(row.replyFrom) : 0u);
        EXPECT_EQ(ping.GetTargetAddress(), row.replyFrom != nullptr ? Ip(row.target) : 0u);
        if (row.replyFrom == nullptr) {
            EXPECT_GE(took, std::chrono::milliseconds(kTimeoutMs - 10));
        }
    }
    const std::string text = log.Text();
    EXPECT_EQ(test::CountOf(text, "INFO    - CPing: IcmpSendEcho returns 11003\r\n"), 1u) << text;
    EXPECT_EQ(test::CountOf(text, "IcmpSendEcho returns"), 1u) << text;
}

TEST_F(PingLab, WithoutAnAddressNothingIsSent) {
    struct Row {
        const char* name;
        int32_t (*call)(CPing&);
    };
    const Row rows[] = {
        {"address 0", [](CPing& p) { return p.Ping(0, 250, 255); }},
        {"empty text", [](CPing& p) { return p.PingHost("", 250, 255); }},
        {"null text",
         [](CPing& p) { return p.PingHost(static_cast<const char*>(nullptr), 250, 255); }},
        {"name that does not resolve",
         [](CPing& p) { return p.PingHost("converter.invalid", 250, 255); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CPing ping;
        // A reply first, so that clearing the addresses shows.
        ASSERT_EQ(ping.Ping(Ip("198.18.200.1"), 1000, 255), CPing::kReply);
        const int sent = SentEchoes();
        EXPECT_EQ(row.call(ping), CPing::kNoAddress);
        EXPECT_EQ(SentEchoes(), sent);
        EXPECT_EQ(ping.GetReplyAddress(), 0u);
        EXPECT_EQ(ping.GetTargetAddress(), 0u);
    }
}

TEST_F(PingLab, EchoFacilityThatCannotOpenIsLogged) {
    ASSERT_TRUE(test::AllowPingSockets(false));
    LogCapture log;
    {
        test::ScopedWithoutNetRaw unprivileged;
        if (!unprivileged.Active())
            GTEST_SKIP() << "needs CAP_NET_RAW to give up; run the tests as root";
        CPing ping;
        EXPECT_EQ(ping.Ping(Ip("127.0.0.1"), 250, 255), CPing::kNoUsableReply);
        EXPECT_EQ(ping.GetReplyAddress(), 0u);
    }
    EXPECT_EQ(SentEchoes(), 0);
    const std::string text = log.Text();
    EXPECT_EQ(
        test::CountOf(text, "ERROR   - CPing: IcmpCreateFile failure. handle:0xffffffff code:1\n"),
        1u)
        << text;
}

} // namespace
} // namespace qarn
