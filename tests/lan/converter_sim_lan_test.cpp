// The simulator on the simulated LAN, seen from the tool's side (this program runs in <name>-pc
// through "testlan exec"; it starts the simulator in <name>-lan through "testlan lan-exec"):
// broadcasts reach a thousand converters and every answer comes back, a raw firmware transfer is
// acknowledged block by block, a commit is accepted only with the right checksum, and a converter
// follows a configuration write to its new address.
//
//   qarn_converter_sim_lan_tests --testlan scripts/testlan --sim qarn-converter-sim
// The LAN must be up with 1000 converter addresses from 198.18.1.1 (testlan up --converters 1000).

#include "unit/converter-sim/SimProcess.h"
#include "unit/converter-sim/SimTestSupport.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>

#include <gtest/gtest.h>

namespace qarn::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string g_testlan;
std::string g_sim;

constexpr uint32_t kFirst = 0xC6120101; // 198.18.1.1
constexpr uint16_t kPort = 58009;

std::string Dotted(uint32_t ip) {
    return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." +
           std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF);
}

// True when one echo to `ip` is answered within a second.
bool Pings(uint32_t ip) {
    return std::system(("ping -c1 -W1 -q " + Dotted(ip) + " >/dev/null 2>&1").c_str()) == 0;
}

// True when `ip` answers echo within `timeout`; a neighbour entry that failed a moment ago may
// hold back the first tries.
bool PingsWithin(uint32_t ip, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline)
        if (Pings(ip))
            return true;
    return false;
}

struct Datagram {
    uint32_t from = 0;
    Bytes bytes;
    Clock::time_point at;
};

class ConverterSimLanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(g_testlan.empty() || g_sim.empty()) << "--testlan and --sim are needed";
        // Stands where the tool stands: 0.0.0.0:58009 on the PC side.
        m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_socket, 0);
        const int on = 1;
        setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const int bytes = 8 * 1024 * 1024;
        setsockopt(m_socket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kPort);
        ASSERT_EQ(bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        timeval wait{0, 50000};
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    void TearDown() override {
        if (m_sim.Signal(SIGTERM))
            m_sim.Wait(5s);
        if (m_socket >= 0)
            close(m_socket);
        if (!HasFailure())
            std::filesystem::remove(m_log); // kept for a look after a failure
    }

    void StartSim(const std::vector<std::string>& options) {
        std::vector<std::string> argv = {g_testlan, "lan-exec", g_sim, "--log", m_log};
        argv.insert(argv.end(), options.begin(), options.end());
        ASSERT_TRUE(m_sim.Start(argv));
        const auto events = WaitForEvents(
            m_log, 20s, [](const auto& e) { return !EventsNamed(e, "ready").empty(); });
        ASSERT_FALSE(EventsNamed(events, "ready").empty()) << "the simulator did not start";
    }

    void Send(uint32_t ip, const Bytes& datagram) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(ip);
        to.sin_port = htons(kPort);
        ASSERT_EQ(sendto(m_socket, datagram.data(), datagram.size(), 0,
                         reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(datagram.size()));
    }

    // Datagrams from the converters (not the broadcasts this socket hears itself) until `count`
    // arrived or none came for `quiet`.
    std::vector<Datagram> Collect(size_t count, std::chrono::milliseconds quiet) {
        std::vector<Datagram> got;
        auto last = Clock::now();
        while (got.size() < count && Clock::now() - last < quiet) {
            uint8_t buffer[2048];
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t n = recvfrom(m_socket, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &size);
            if (n < 0 || ntohl(from.sin_addr.s_addr) == 0xC6120001)
                continue;
            last = Clock::now();
            got.push_back({ntohl(from.sin_addr.s_addr), Bytes(buffer, buffer + n), last});
        }
        return got;
    }

    // One firmware datagram and its answer, tried up to three times as a transfer engine does.
    std::optional<Bytes> Exchange(uint32_t ip, const Bytes& datagram) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            Send(ip, datagram);
            const auto got = Collect(1, 2500ms);
            if (!got.empty())
                return got[0].bytes;
        }
        return std::nullopt;
    }

    // The firmware version that the converter's next configuration answer reports; 0 for none.
    uint32_t ReportedVersion(uint32_t ip) {
        Send(ip, Discovery());
        const auto got = Collect(1, 2s);
        if (got.empty() || got[0].bytes.size() < 80)
            return 0;
        Bytes d = got[0].bytes;
        TestScramble(Le32(&d[12]), d.data() + 16, d.size() - 16);
        return Le32(&d[68]);
    }

    // Polls the converter's reported version until it is `want`, for at most `timeout`.
    bool WaitForVersion(uint32_t ip, uint32_t want, std::chrono::seconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline)
            if (ReportedVersion(ip) == want)
                return true;
        return false;
    }

    std::string m_log = (std::filesystem::temp_directory_path() /
                         ("qarn-sim-lan-" + std::to_string(getpid()) + ".jsonl"))
                            .string();
    SimProcess m_sim;
    int m_socket = -1;
};

TEST_F(ConverterSimLanTest, BroadcastReachesAThousandConvertersAndEveryAnswerComesBack) {
    StartSim({"--count", "1000", "--delay", "0-1000", "--seed", "11"});
    for (const uint32_t broadcast : {0xFFFFFFFFu, 0xC612FFFFu}) {
        SCOPED_TRACE(Dotted(broadcast));
        const auto start = Clock::now();
        Send(broadcast, Discovery());
        const auto got = Collect(1000, 3s);
        std::set<uint32_t> sources;
        for (const auto& answer : got) {
            Bytes d = answer.bytes;
            ASSERT_EQ(d.size(), 88u);
            TestScramble(Le32(&d[12]), d.data() + 16, 72);
            EXPECT_EQ(Octets(&d[20]), answer.from);
            sources.insert(answer.from);
        }
        EXPECT_EQ(got.size(), 1000u);
        EXPECT_EQ(sources.size(), 1000u);
        ASSERT_FALSE(got.empty());
        EXPECT_GT(got.back().at - start, 700ms) << "spread over the second, not one burst";
    }
    const auto events = ReadEvents(m_log);
    EXPECT_EQ(EventsNamed(events, "datagram").size(), 2u) << "each broadcast seen once";
    EXPECT_EQ(EventsNamed(events, "sent").size(), 2000u);
    EXPECT_TRUE(EventsNamed(events, "send_failed").empty());
}

TEST_F(ConverterSimLanTest, BlockTransferIsAcknowledgedAndOnlyTheRightCommitAccepted) {
    StartSim(
        {"--count", "2", "--mix", "extended", "--restart-ms", "6000", "--address-control", "ip"});
    const Bytes image = Image(148972, 21);
    uint32_t seed = 1;
    for (uint32_t k = 0; k * 1024 < image.size(); ++k) {
        SCOPED_TRACE(k);
        const size_t size = std::min<size_t>(1024, image.size() - k * 1024);
        const uint32_t dwBlock = k | (size < 1024 ? 0x10000 : 0);
        const Bytes plain(image.begin() + k * 1024, image.begin() + k * 1024 + size);
        const auto answer = Exchange(kFirst, FirmwareBlock(dwBlock, plain, seed += 7919));
        ASSERT_TRUE(answer.has_value()) << "no acknowledgement";
        ASSERT_EQ(answer->size(), 16u);
        EXPECT_EQ(Le16(&(*answer)[4]), k);
        EXPECT_NE((*answer)[2], 0);
    }
    const uint32_t checksum = TestAdler32(image);
    const auto refused = Exchange(kFirst, Commit(checksum ^ 0x00010000, 148972));
    ASSERT_TRUE(refused.has_value());
    EXPECT_NE((*refused)[1], 0x26);
    const auto accepted = Exchange(kFirst, Commit(checksum, 148972));
    ASSERT_TRUE(accepted.has_value());
    EXPECT_EQ((*accepted)[1], 0x26);

    // Off the LAN while it restarts (6 s: longer than a neighbour lookup keeps a datagram for an
    // address that has gone), then back with the new version. The restart begins a moment after
    // the acknowledgement: wait until the simulator took the address away.
    const auto gone = [](const std::vector<nlohmann::json>& events) {
        return !EventsNamed(events, "address_removed").empty();
    };
    ASSERT_TRUE(gone(WaitForEvents(m_log, 20s, gone))) << "the restart did not begin";
    EXPECT_FALSE(Pings(kFirst)) << "a restarting converter does not answer echo";
    EXPECT_EQ(ReportedVersion(kFirst), 0u) << "nor UDP";
    EXPECT_TRUE(WaitForVersion(kFirst, 3026211, 15s));
    EXPECT_TRUE(PingsWithin(kFirst, 10s));

    const auto commits = EventsNamed(ReadEvents(m_log), "commit");
    ASSERT_EQ(commits.size(), 2u);
    EXPECT_FALSE(commits[0]["ok"].get<bool>());
    EXPECT_TRUE(commits[1]["ok"].get<bool>());
}

TEST_F(ConverterSimLanTest, FixedLayoutTransferEndsWithBlock497) {
    StartSim(
        {"--count", "2", "--mix", "standard", "--restart-ms", "1000", "--address-control", "ip"});
    Bytes image = Image(131072, 4);
    const std::string version = "2.4.10.23";
    std::copy(version.begin(), version.end(), image.begin() + 16);
    image[16 + version.size()] = 0;
    size_t offset = 0;
    for (const uint32_t first : {0u, 249u}) {
        for (uint32_t n = 0; n <= 62; ++n) {
            const bool last = n == 62;
            const uint32_t number = first + 4 * n;
            const size_t size = last ? 64 : 1056;
            SCOPED_TRACE(number);
            const Bytes plain(image.begin() + offset, image.begin() + offset + size);
            offset += size;
            const auto answer =
                Exchange(kFirst, FirmwareBlock(number | (last ? 0x10000 : 0), plain, number));
            ASSERT_TRUE(answer.has_value());
            ASSERT_EQ(answer->size(), 16u);
            EXPECT_EQ(Le16(&(*answer)[4]), number);
            EXPECT_NE((*answer)[2], 0);
        }
    }
    EXPECT_TRUE(WaitForVersion(kFirst, 2041023, 15s)) << "the version text of the image";
}

TEST_F(ConverterSimLanTest, WriteMovesTheConverterToItsNewAddress) {
    constexpr uint32_t kNew = 0xC6120909; // 198.18.9.9, not assigned before
    StartSim({"--count", "3", "--address-control", "ip"});
    ASSERT_FALSE(Pings(kNew));
    WriteFields f;
    f.ip = kNew;
    f.prefix = 16;
    f.mac = {0x02, 0x51, 0x00, 0x00, 0x00, 0x03}; // the third generated converter
    Send(0xFFFFFFFF, ConfigurationWrite(0x1C, f));
    const auto moved = WaitForEvents(
        m_log, 10s, [](const auto& e) { return !EventsNamed(e, "address_moved").empty(); });
    ASSERT_EQ(EventsNamed(moved, "address_moved").size(), 1u);
    EXPECT_EQ(EventsNamed(moved, "address_moved")[0]["control"], "ok");
    EXPECT_TRUE(PingsWithin(kNew, 10s));
    EXPECT_FALSE(Pings(kFirst + 2));
    Send(kNew, Discovery());
    const auto got = Collect(1, 2s);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].from, kNew);

    // And back, by a write to its new address, so that the shared LAN is as it was.
    f.ip = kFirst + 2;
    Send(kNew, ConfigurationWrite(0x1B, f));
    const auto back = WaitForEvents(
        m_log, 10s, [](const auto& e) { return EventsNamed(e, "address_moved").size() == 2; });
    ASSERT_EQ(EventsNamed(back, "address_moved").size(), 2u);
    EXPECT_EQ(EventsNamed(back, "address_moved")[1]["control"], "ok");
    EXPECT_TRUE(PingsWithin(kFirst + 2, 10s));
}

} // namespace
} // namespace qarn::sim::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--testlan")
            qarn::sim::test::g_testlan = argv[i + 1];
        if (std::string(argv[i]) == "--sim")
            qarn::sim::test::g_sim = argv[i + 1];
    }
    return RUN_ALL_TESTS();
}
