// The real program on loopback, in a network namespace of the test's own: one socket serving a
// thousand converters, each answer from its converter's own address, none lost.
#include "SimProcess.h"
#include "SimTestSupport.h"
#include "support/NetLab.h"
#include "support/TempDir.h"

#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

namespace qarn::sim::test {
namespace {

using namespace std::chrono_literals;

constexpr uint16_t kSimPort = 58009;
constexpr uint32_t kFirst = 0x7F010001; // 127.1.0.1: all of 127/8 is local on lo

std::string Hex(const Bytes& bytes) {
    std::string text;
    char pair[3];
    for (const uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

class SimProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QARN_REQUIRE_NETLAB();
        m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_socket, 0);
        const int bytes = 8 * 1024 * 1024;
        setsockopt(m_socket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
        const int on = 1;
        setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        timeval wait{0, 200000};
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    void TearDown() override {
        if (m_socket >= 0)
            close(m_socket);
    }

    void StartSim(const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {
            QARN_SIM_EXECUTABLE, "--port", std::to_string(kSimPort), "--log", m_log,
            "--state",           m_state};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ASSERT_TRUE(m_sim.Start(argv));
        const auto events = WaitForEvents(
            m_log, 10s, [](const auto& e) { return !EventsNamed(e, "ready").empty(); });
        ASSERT_FALSE(EventsNamed(events, "ready").empty()) << "the simulator did not start";
    }

    void SendTo(uint32_t ip, const Bytes& datagram) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(ip);
        to.sin_port = htons(kSimPort);
        ASSERT_EQ(sendto(m_socket, datagram.data(), datagram.size(), 0,
                         reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(datagram.size()));
    }

    struct Received {
        uint32_t from;
        Bytes bytes;
        std::chrono::steady_clock::time_point at;
    };
    // Collects datagrams until `count` arrived or nothing came for `quiet`.
    std::vector<Received> Collect(size_t count, std::chrono::milliseconds quiet) {
        std::vector<Received> got;
        auto last = std::chrono::steady_clock::now();
        while (got.size() < count && std::chrono::steady_clock::now() - last < quiet) {
            uint8_t buffer[2048];
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t n = recvfrom(m_socket, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &size);
            if (n < 0)
                continue;
            last = std::chrono::steady_clock::now();
            got.push_back({ntohl(from.sin_addr.s_addr), Bytes(buffer, buffer + n), last});
        }
        return got;
    }

    qarn::test::TempDir m_temp{"qarn-sim"};
    std::string m_log = (m_temp / "sim.jsonl").string();
    std::string m_state = (m_temp / "state.json").string();
    SimProcess m_sim;
    int m_socket = -1;
};

TEST_F(SimProcessTest, ThousandConvertersSpreadOverOneSecondAllAnswerFromTheirOwnAddress) {
    StartSim({"--count", "1000", "--first", "127.1.0.1", "--prefix", "8", "--delay", "0-1000",
              "--seed", "4"});
    SendTo(0x7FFFFFFF, Discovery()); // the directed broadcast of 127/8
    const auto got = Collect(1000, 3s);
    ASSERT_EQ(got.size(), 1000u);
    std::map<uint32_t, int> perSource;
    for (const auto& answer : got) {
        Bytes d = answer.bytes;
        ASSERT_EQ(d.size(), 88u);
        TestScramble(Le32(&d[12]), d.data() + 16, 72);
        EXPECT_EQ(Octets(&d[20]), answer.from) << "reported address is the source address";
        ++perSource[answer.from];
    }
    EXPECT_EQ(perSource.size(), 1000u);
    EXPECT_EQ(perSource.begin()->first, kFirst);
    EXPECT_EQ(perSource.rbegin()->first, kFirst + 999);
    const auto spread = got.back().at - got.front().at;
    // A burst lasts a few milliseconds. The bound stays well below the one-second window because
    // a loaded machine (sanitizer builds, parallel tests) may start the simulator's sends late,
    // which squeezes the early end of the window but not its late end.
    EXPECT_GT(spread, 250ms) << "answers are spread over the window, not sent in one burst";

    // The state on request, then a clean stop that leaves nothing unsent.
    ASSERT_TRUE(m_sim.Signal(SIGUSR1));
    const auto events = WaitForEvents(
        m_log, 5s, [](const auto& e) { return !EventsNamed(e, "state_written").empty(); });
    ASSERT_FALSE(EventsNamed(events, "state_written").empty());
    std::ifstream in(m_state);
    const auto state = nlohmann::json::parse(in, nullptr, false);
    ASSERT_FALSE(state.is_discarded());
    EXPECT_EQ(state["converters"].size(), 1000u);
    EXPECT_EQ(state["stats"]["sent"], 1000);
    ASSERT_TRUE(m_sim.Signal(SIGTERM));
    EXPECT_EQ(m_sim.Wait(5s), 0);
    const auto stopped = EventsNamed(ReadEvents(m_log), "stopped");
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(stopped[0]["unsent"], 0);
    EXPECT_EQ(stopped[0]["send_failures"], 0);
    EXPECT_EQ(EventsNamed(ReadEvents(m_log), "sent").size(), 1000u);
}

TEST_F(SimProcessTest, DatagramsAreLoggedWithTheirBytesSourceAndDestination) {
    StartSim({"--count", "2", "--first", "127.1.0.1"});
    const Bytes write = ConfigurationWrite(0x1B, [] {
        WriteFields f;
        f.ip = kFirst;
        return f;
    }());
    SendTo(kFirst, write);
    SendTo(kFirst + 1, Discovery());
    ASSERT_EQ(Collect(1, 2s).size(), 1u);
    const auto events = WaitForEvents(m_log, 5s, [](const auto& e) {
        return EventsNamed(e, "datagram").size() >= 2 && !EventsNamed(e, "sent").empty();
    });
    const auto datagrams = EventsNamed(events, "datagram");
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(datagrams[0]["dst"], "127.1.0.1");
    EXPECT_EQ(datagrams[0]["len"], 88);
    EXPECT_EQ(datagrams[0]["hex"], Hex(write));
    EXPECT_EQ(datagrams[0]["src"].get<std::string>().rfind("127.0.0.1:", 0), 0u);
    EXPECT_EQ(datagrams[1]["dst"], "127.1.0.2");
    EXPECT_EQ(EventsNamed(events, "write_applied").size(), 1u);
    EXPECT_EQ(EventsNamed(events, "sent")[0]["src"], "127.1.0.2");
}

// The simulator runs as root: a link planted at its --log or at its state file's temporary name
// must not make it write where the link points.
TEST_F(SimProcessTest, LogAndStateAreNeverWrittenThroughALink) {
    const std::string victim = (m_temp / "victim").string();
    std::ofstream(victim) << "keep";
    const std::string link = (m_temp / "link.jsonl").string();
    std::filesystem::create_symlink(victim, link);
    SimProcess refused;
    ASSERT_TRUE(
        refused.Start({QARN_SIM_EXECUTABLE, "--port", std::to_string(kSimPort), "--log", link}));
    EXPECT_NE(refused.Wait(10s), 0) << "a log it cannot open safely stops the simulator";

    std::filesystem::create_symlink(victim, m_state + ".tmp");
    StartSim({});
    ASSERT_TRUE(m_sim.Signal(SIGUSR1));
    const auto events = WaitForEvents(
        m_log, 10s, [](const auto& e) { return !EventsNamed(e, "state_failed").empty(); });
    EXPECT_FALSE(EventsNamed(events, "state_failed").empty());
    std::ifstream kept(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
    EXPECT_FALSE(std::filesystem::exists(m_state));
}

} // namespace
} // namespace qarn::sim::test
