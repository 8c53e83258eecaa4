#include "net/CSupport.h"

#include "platform/SocketLibrary.h"
#include "support/LogCapture.h"
#include "support/NetLab.h"

#include <string>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::LogCapture;

// The test's namespace 198.18.1.1 is joined to a router R at 198.18.1.2, which owns
// 198.18.200.0/24 and counts the echo requests that reach it. Of its addresses, 198.18.200.1
// answers at once, 198.18.200.11 never (rejected as host unreachable, so a try costs no time-out)
// and 198.18.200.21 only from the third request on.
class SupportLab : public ::testing::Test {
  protected:
    void SetUp() override {
        QARN_REQUIRE_NETLAB();
        std::string why;
        ASSERT_TRUE(m_router.Create(&why)) << why;
        ASSERT_TRUE(test::RunOk("ip route add 198.18.200.0/24 via 198.18.1.2"));
        ASSERT_TRUE(m_router.RunOk(
            "sysctl -qw net.ipv4.icmp_ratelimit=0 && ip addr add 198.18.200.1/24 dev lo && "
            "nft -f - <<'EOF'\n"
            "table ip lab {\n"
            "  counter echoes {}\n"
            "  chain input {\n"
            "    type filter hook input priority 0; policy accept;\n"
            "    icmp type echo-request counter name \"echoes\"\n"
            "    ip daddr 198.18.200.11 reject with icmp type host-unreachable\n"
            // Each request without payload is 28 bytes: the first two use up the quota.
            "    ip daddr 198.18.200.21 icmp type echo-request quota until 56 bytes "
            "reject with icmp type host-unreachable\n"
            "  }\n"
            "}\n"
            "EOF"));
    }

    // Echo requests that reached the router since the last call.
    int TakeEchoCount() {
        std::string listing;
        EXPECT_EQ(m_router.Run("nft reset counter ip lab echoes", &listing), 0) << listing;
        return test::CounterPackets(listing);
    }

    test::PeerNamespace m_router{1};
};

TEST_F(SupportLab, GetIPResolvesDottedTextAndNothingElseHere) {
    struct Row {
        const char* name;
        const char* text;
        uint32_t address;
    };
    const Row rows[] = {
        {"dotted text", "192.168.1.10", 0x0A01A8C0},
        {"dotted text of the lab", "198.18.200.21", 0x15C812C6},
        {"empty text", "", 0},
        {"null text", nullptr, 0},
        {"name under a reserved domain", "converter.invalid", 0},
        {"text with a blank", "192.168.1.10 x", 0},
    };
    const int32_t users = platform::SocketLibraryUsers();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const uint32_t address = CSupport::GetIP(row.text);
        EXPECT_EQ(address, row.address);
        EXPECT_EQ(platform::SocketLibraryUsers(), users);
    }
    EXPECT_EQ(CSupport::GetIP("192.168.1.10") & 0xFF, 192u);
}

TEST_F(SupportLab, PingWaitCountsItsTries) {
    struct Row {
        const char* name;
        const char* target;
        int32_t retries;
        bool reachable;
        int echoes; // requests that reached the router
        const char* doneLine;
    };
    const Row rows[] = {
        {"no retries sends nothing", "198.18.200.1", 0, false, 0,
         "WARNING - CSupport::PingWait: IP:'198.18.200.1' Done(Retries:0) -> not reachable\r\n"},
        {"answers the first request", "198.18.200.1", 3, true, 1,
         "DEBUG   - CSupport::PingWait: IP:'198.18.200.1' Done(Retries:0) -> reachable\r\n"},
        {"answers the third request", "198.18.200.21", 5, true, 3,
         "DEBUG   - CSupport::PingWait: IP:'198.18.200.21' Done(Retries:2) -> reachable\r\n"},
        {"never answers", "198.18.200.11", 3, false, 3,
         "WARNING - CSupport::PingWait: IP:'198.18.200.11' Done(Retries:3) -> not reachable\r\n"},
        {"does not resolve", "converter.invalid", 2, false, 0,
         "WARNING - CSupport::PingWait: IP:'converter.invalid' Done(Retries:2) -> not "
         "reachable\r\n"},
    };
    LogCapture log;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const size_t logged = log.Text().size();
        TakeEchoCount();
        EXPECT_EQ(CSupport::PingWait(row.target, row.retries), row.reachable);
        EXPECT_EQ(TakeEchoCount(), row.echoes);
        const std::string lines = log.Text().substr(logged);
        const std::string start = "DEBUG   - CSupport::PingWait: IP:'" + std::string(row.target) +
                                  "' Retries:" + std::to_string(row.retries) + "\r\n";
        EXPECT_NE(lines.find(start), std::string::npos) << lines;
        EXPECT_NE(lines.find(row.doneLine), std::string::npos) << lines;
    }
}

} // namespace
} // namespace qarn
