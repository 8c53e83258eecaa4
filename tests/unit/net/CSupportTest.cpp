#include "net/CSupport.h"

#include "diag/DiagnosticsConfiguration.h"
#include "diag/DiagnosticsValue.h"
#include "diag/FileLogger.h"
#include "platform/SocketLibrary.h"
#include "platform/TextCodec.h"
#include "support/NetLab.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include <gtest/gtest.h>

namespace qarn {
namespace {

// The log facility writing every level into a folder of its own while the object lives.
class LogCapture {
  public:
    LogCapture() {
        DiagnosticsConfiguration settings;
        settings.logEnabled = true;
        settings.logLevel = 4;
        settings.logFolder = m_temp.Path().string();
        std::string error;
        EXPECT_TRUE(WriteDiagnosticsValue(settings, &error)) << error;
        InitFileLoggerFacility();
    }
    ~LogCapture() { ShutdownFileLoggerFacility(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything logged so far, as UTF-8.
    std::string Text() const {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(m_temp.Path())) {
            if (entry.path().extension() != ".txt")
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
            std::u16string units;
            for (size_t i = 0; i + 1 < bytes.size(); i += 2)
                units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                      static_cast<uint8_t>(bytes[i + 1]) << 8));
            text += platform::Utf16ToUtf8(units);
        }
        return text;
    }

  private:
    test::TempDir m_temp{"qarn-support-log"};
    test::ScopedRegistryRoot m_store{m_temp};
};

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
        std::smatch match;
        if (!std::regex_search(listing, match, std::regex(R"(packets (\d+))")))
            return -1;
        return std::stoi(match[1]);
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
