// The two firmware transfer engines against qarn-converter-sim on a simulated LAN: this program
// runs in <name>-pc through "testlan exec" and starts the simulator in <name>-lan through "testlan
// lan-exec". What the simulator received is read back from its event log and checked with the
// test's own unscrambling and checksum, apart from the program's.
//
//   firmware_engine_lan_tests --testlan scripts/testlan --sim qarn-converter-sim
//   [--gtest_filter=...]
// The LAN must be up with two converter addresses from 198.18.1.1 (testlan up --converters 2).

#include "firmware/CConfigLANconverter.h"
#include "firmware/FirmwareImages.h"
#include "firmware/FirmwareTransferEnvironment.h"
#include "ipc/CSharedQueue.h"
#include "ipc/ClientFirmwareTransport.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "unit/converter-sim/SimProcess.h"
#include "unit/converter-sim/SimTestSupport.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

std::string g_testlan;
std::string g_sim;
std::string g_service;

// The converter of each layout: 3.1.20.4 takes 1024-byte blocks, 2.4.9.3 the fixed layout.
constexpr char kBlocksConverter[] = "198.18.1.1";
constexpr char kFixedConverter[] = "198.18.1.2";

Bytes FromHex(const std::string& hex) {
    Bytes bytes(hex.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    return bytes;
}

Bytes EmbeddedImage(uint32_t id) {
    std::vector<uint8_t> image;
    EXPECT_TRUE(LoadFirmwareImage(ProgramModule(), id, image)) << id;
    return image;
}

// One firmware datagram that reached a converter, its payload unscrambled by the test.
struct Received {
    std::string src; // "198.18.0.1:58009"
    uint8_t cmd = 0;
    uint32_t block = 0;
    uint32_t length = 0;
    size_t size = 0;
    Bytes plain;
};

double Seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

class FirmwareLanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(g_testlan.empty() || g_sim.empty()) << "--testlan and --sim are needed";
    }
    void TearDown() override {
        if (m_simPid > 0)
            kill(m_simPid, SIGTERM);
        m_sim.Wait(5s);
    }

    // Starts the simulator with the two converters, `changes` merged into the one at `ip`.
    void StartSim(const std::string& ip, const json& changes) {
        json blocks = {{"ip", kBlocksConverter}, {"kind", "extended"}, {"restart_ms", 3000}};
        json fixed = {{"ip", kFixedConverter},
                      {"kind", "standard"},
                      {"version", "2.4.9.3"},
                      {"restart_ms", 3000}};
        json& changed = ip == kBlocksConverter ? blocks : fixed;
        for (const auto& item : changes.items())
            changed[item.key()] = item.value();
        std::ofstream(m_fleet) << json{{"converters", {blocks, fixed}}}.dump();
        ASSERT_TRUE(m_sim.Start({g_testlan, "lan-exec", g_sim, "--config", m_fleet, "--log", m_log,
                                 "--state", m_state, "--address-control", "ip"}));
        const auto events = WaitForEvents(
            m_log, 20s, [](const auto& e) { return !EventsNamed(e, "ready").empty(); });
        const auto ready = EventsNamed(events, "ready");
        ASSERT_FALSE(ready.empty()) << "the simulator did not start";
        m_simPid = ready[0]["pid"].get<pid_t>();
    }

    // Firmware datagrams to `ip`, in the order the simulator received them.
    std::vector<Received> ReceivedBy(const std::string& ip) const {
        std::vector<Received> received;
        for (const json& e : EventsNamed(ReadEvents(m_log), "datagram")) {
            if (e["dst"] != ip)
                continue;
            Bytes d = FromHex(e["hex"].get<std::string>());
            if (d.size() < 16 || (d[1] != 0x1E && d[1] != 0x26))
                continue;
            Received r{e.value("src", ""), d[1], Le32(&d[4]), Le32(&d[8]), d.size(), {}};
            r.plain.assign(d.begin() + 16, d.end());
            TestScramble(Le32(&d[12]), r.plain.data(), r.plain.size());
            received.push_back(std::move(r));
        }
        return received;
    }

    // The converter's record from the simulator's state dump.
    json ConverterState(const std::string& ip) {
        const size_t before = EventsNamed(ReadEvents(m_log), "state_written").size();
        if (m_simPid <= 0 || kill(m_simPid, SIGUSR1) != 0)
            return {};
        WaitForEvents(m_log, 5s, [before](const auto& e) {
            return EventsNamed(e, "state_written").size() > before;
        });
        const json state = json::parse(std::ifstream(m_state), nullptr, false);
        if (state.is_discarded() || !state.contains("converters"))
            return {};
        for (const json& converter : state["converters"])
            if (converter.value("ip", "") == ip)
                return converter;
        return {};
    }

    // Waits until the converter at `ip` has restarted `count` times in all.
    bool WaitForRestarts(size_t count, std::chrono::seconds timeout) const {
        const auto events = WaitForEvents(m_log, timeout, [count](const auto& e) {
            return EventsNamed(e, "restart_end").size() >= count;
        });
        return EventsNamed(events, "restart_end").size() >= count;
    }

    std::string Line(const char* engine, const std::string& ip, const std::string& detail) const {
        return std::string("CConfigLANconverter::") + engine + ": Dst:'" + ip + "' " + detail;
    }

    qarn::test::LogCapture m_log_capture;
    qarn::test::TempDir m_temp{"qarn-firmware-lan"};
    std::string m_fleet = (m_temp.Path() / "fleet.json").string();
    std::string m_log = (m_temp.Path() / "sim.jsonl").string();
    std::string m_state = (m_temp.Path() / "state.json").string();
    SimProcess m_sim;
    pid_t m_simPid = -1;
};

constexpr char kSam4[] = "UpdateSam4LANconverter";
constexpr char kLtx[] = "UpdateLtxLANconverter";

// ---- whole transfers -------------------------------------------------------------------------

struct TransferCase {
    const char* name;
    bool sam4;
    bool waitForRestart;
};

class FirmwareTransferLanTest : public FirmwareLanTest,
                                public ::testing::WithParamInterface<TransferCase> {};

std::string TransferName(const ::testing::TestParamInfo<TransferCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Engines, FirmwareTransferLanTest,
                         ::testing::Values(TransferCase{"Sam4WithRestartWait", true, true},
                                           TransferCase{"Sam4WithoutRestartWait", true, false},
                                           TransferCase{"LtxWithRestartWait", false, true},
                                           TransferCase{"LtxWithoutRestartWait", false, false}),
                         TransferName);

TEST_P(FirmwareTransferLanTest, ConverterReceivesTheImageAndComesBackWithTheNewVersion) {
    const TransferCase& c = GetParam();
    const std::string ip = c.sam4 ? kBlocksConverter : kFixedConverter;
    StartSim(ip, json::object());
    const Bytes image = EmbeddedImage(c.sam4 ? kImageIdSam4 : kImageIdLtxSecond);
    ASSERT_FALSE(image.empty());

    const auto start = Clock::now();
    const bool done = c.sam4 ? CConfigLANconverter::UpdateSam4LANconverter(ip, image, nullptr,
                                                                           c.waitForRestart, true)
                             : CConfigLANconverter::UpdateLtxLANconverter(ip, image, nullptr,
                                                                          c.waitForRestart, true);
    const auto took = Clock::now() - start;
    EXPECT_TRUE(done) << m_log_capture.Text();
    if (c.waitForRestart) {
        EXPECT_GE(took, 5s) << "the restart pause";
        EXPECT_EQ(EventsNamed(ReadEvents(m_log), "restart_end").size(), 1u)
            << "back on the LAN before the engine returned";
    } else {
        EXPECT_LT(took, 5s);
        ASSERT_TRUE(WaitForRestarts(1, 10s));
    }

    const std::vector<Received> received = ReceivedBy(ip);
    const size_t blocks = c.sam4 ? 146 : 126;
    ASSERT_EQ(received.size(), blocks + (c.sam4 ? 1 : 0)) << "each datagram exactly once";
    Bytes joined;
    for (size_t i = 0; i < blocks; ++i) {
        EXPECT_EQ(received[i].cmd, 0x1E) << i;
        joined.insert(joined.end(), received[i].plain.begin(), received[i].plain.end());
    }
    EXPECT_EQ(joined, image);
    if (c.sam4) {
        EXPECT_EQ(received[145].block, 0x10091u);
        EXPECT_EQ(received[145].size, 16 + 492u);
        const Received& commit = received.back();
        EXPECT_EQ(commit.cmd, 0x26);
        EXPECT_EQ(commit.size, 16u);
        EXPECT_EQ(commit.length, image.size());
        EXPECT_EQ(commit.block, TestAdler32(image));
        const auto commits = EventsNamed(ReadEvents(m_log), "commit");
        ASSERT_EQ(commits.size(), 1u);
        EXPECT_TRUE(commits[0]["ok"].get<bool>());
    } else {
        EXPECT_EQ(received[62].block, 0x100F8u);
        EXPECT_EQ(received[125].block, 0x101F1u);
        EXPECT_EQ(received[62].size, 80u);
        EXPECT_EQ(received[0].size, 1072u);
    }

    const json state = ConverterState(ip);
    EXPECT_EQ(state.value("version", ""), c.sam4 ? "3.2.62.11" : "2.4.10.23") << state.dump();
    EXPECT_EQ(state.value("phase", ""), "running");
    const std::string text = m_log_capture.Text();
    EXPECT_EQ(qarn::test::CountOf(text, Line(c.sam4 ? kSam4 : kLtx, ip, "done:Success")), 1u)
        << text;
    EXPECT_EQ(qarn::test::CountOf(text, "ERROR   - "), 0u) << text;
}

// ---- failures --------------------------------------------------------------------------------

class FirmwareFailureLanTest : public FirmwareLanTest {};

TEST_F(FirmwareFailureLanTest, SilentConverterCostsThe1024ByteEngineThreeTimeouts) {
    StartSim(kBlocksConverter, {{"misbehave", {{"silent_from_block", 0}}}});
    const auto start = Clock::now();
    EXPECT_FALSE(CConfigLANconverter::UpdateSam4LANconverter(
        kBlocksConverter, EmbeddedImage(kImageIdSam4), nullptr, true, true));
    const double took = Seconds(Clock::now() - start);
    EXPECT_GE(took, 6.0) << "three waits of 2 to 3 s each";
    EXPECT_LT(took, 10.0);
    const std::string text = m_log_capture.Text();
    EXPECT_EQ(qarn::test::CountOf(text, Line(kSam4, kBlocksConverter, "Failure:Timeout\n")), 3u)
        << text;
    const auto received = ReceivedBy(kBlocksConverter);
    ASSERT_EQ(received.size(), 3u) << "block 0 three times, nothing else";
    for (const Received& r : received)
        EXPECT_EQ(r.block, 0u);
}

TEST_F(FirmwareFailureLanTest, SilenceAfterBlock0EndsTheFixedLayoutEngineAtTheFirstTimeout) {
    StartSim(kFixedConverter, {{"misbehave", {{"silent_from_block", 4}}}});
    const auto start = Clock::now();
    EXPECT_FALSE(CConfigLANconverter::UpdateLtxLANconverter(
        kFixedConverter, EmbeddedImage(kImageIdLtxFirst), nullptr, true, true));
    const double took = Seconds(Clock::now() - start);
    EXPECT_GE(took, 2.0) << "one wait of 2 to 3 s";
    EXPECT_LT(took, 4.0);
    const std::string text = m_log_capture.Text();
    EXPECT_EQ(qarn::test::CountOf(text, Line(kLtx, kFixedConverter, "Failure:Timeout\n")), 1u)
        << text;
    const auto received = ReceivedBy(kFixedConverter);
    ASSERT_EQ(received.size(), 2u) << "block 0, then block 4 once";
    EXPECT_EQ(received[1].block, 4u);
}

struct WrongAnswerCase {
    const char* name;
    bool sam4;
    json misbehave;
    bool succeeds;
    std::vector<std::pair<std::string, size_t>> lines; // detail and how often
    uint32_t block;                                    // its number and how often it arrived
    size_t arrivals;
};

class FirmwareWrongAnswerLanTest : public FirmwareLanTest,
                                   public ::testing::WithParamInterface<WrongAnswerCase> {};

const std::string kSequence = "Failure:Invalid block sequence or answer command: ";

INSTANTIATE_TEST_SUITE_P(
    Cases, FirmwareWrongAnswerLanTest,
    ::testing::Values(
        WrongAnswerCase{"Sam4WrongEchoThreeTimesMovesOn",
                        true,
                        {{"wrong_echo", {{"block", 3}, {"times", 3}}}},
                        true,
                        {{kSequence + "block(send:3 got:4) cmd:1\n", 3}},
                        3,
                        3},
        WrongAnswerCase{"Sam4ShortAnswersAreLoggedTwice",
                        true,
                        {{"wrong_ack_length", {{"block", 5}, {"times", 3}, {"length", 4}}}},
                        true,
                        {{"Failure:Invalid anser length:4 bytes (expect:LANconvConfigHdr(16 "
                          "bytes))\n",
                          3},
                         {kSequence + "block(send:5 got:0) cmd:1\n", 3}},
                        5,
                        3},
        WrongAnswerCase{"LtxWrongEchoThenRightIsNotResent",
                        false,
                        {{"wrong_echo", {{"block", 8}, {"times", 1}, {"then_right", true}}}},
                        true,
                        {{kSequence + "block(send:8 got:9) cmd:1\n", 1}},
                        8,
                        1},
        WrongAnswerCase{"LtxThreeLongAnswersFail",
                        false,
                        {{"wrong_ack_length", {{"block", 8}, {"times", 3}, {"length", 20}}}},
                        false,
                        {{"Failure:Invalid anser length:20 bytes (expect:LANconvConfigHdr(16 "
                          "bytes))\n",
                          3}},
                        8,
                        3},
        // A converter that sends every answer twice: the second copy arrives while the next
        // block waits for its answer, and is passed over.
        WrongAnswerCase{
            "Sam4RepeatedAnswersCostNothing", true, {{"duplicates", 1}}, true, {}, 3, 1},
        WrongAnswerCase{
            "LtxRepeatedAnswersCostNothing", false, {{"duplicates", 1}}, true, {}, 8, 1},
        // Answers that leave from another address are not the converter's.
        WrongAnswerCase{"LtxAnswersFromElsewhereDoNotCount",
                        false,
                        {{"answer_from", "198.18.1.99"}},
                        false,
                        {{"Failure:Timeout\n", 1}},
                        0,
                        1},
        WrongAnswerCase{"LtxFloodOfWrongEchoesIsBounded",
                        false,
                        {{"wrong_echo", {{"block", 0}}}, {"duplicates", 20}},
                        false,
                        {{kSequence + "block(send:0 got:1) cmd:1\n", 16},
                         {"Failure:Too many mismatching answers:16 for block:0\n", 1}},
                        0,
                        1}),
    [](const ::testing::TestParamInfo<WrongAnswerCase>& info) { return info.param.name; });

TEST_P(FirmwareWrongAnswerLanTest, LoggedWithTheirEffectOnTheTransfer) {
    const WrongAnswerCase& c = GetParam();
    const std::string ip = c.sam4 ? kBlocksConverter : kFixedConverter;
    StartSim(ip, {{"misbehave", c.misbehave}});
    const Bytes image = EmbeddedImage(c.sam4 ? kImageIdSam4 : kImageIdLtxFirst);
    const bool done =
        c.sam4 ? CConfigLANconverter::UpdateSam4LANconverter(ip, image, nullptr, false, true)
               : CConfigLANconverter::UpdateLtxLANconverter(ip, image, nullptr, false, true);
    EXPECT_EQ(done, c.succeeds);

    const std::string text = m_log_capture.Text();
    size_t errors = 0;
    for (const auto& [detail, count] : c.lines) {
        EXPECT_EQ(qarn::test::CountOf(text, Line(c.sam4 ? kSam4 : kLtx, ip, detail)), count)
            << detail << text;
        errors += count;
    }
    EXPECT_EQ(qarn::test::CountOf(text, "ERROR   - "), errors) << text;

    const auto received = ReceivedBy(ip);
    size_t arrivals = 0;
    for (const Received& r : received)
        arrivals += r.cmd == 0x1E && (r.block & 0xFFFF) == c.block ? 1 : 0;
    EXPECT_EQ(arrivals, c.arrivals);
    if (!c.succeeds)
        EXPECT_EQ((received.back().block & 0xFFFF), c.block) << "nothing sent after the failure";
    else
        EXPECT_TRUE(WaitForRestarts(1, 10s)) << "the converter took the image";
}

// The simulator takes images up to 1 MiB: the 1025th block of a longer one is refused (answered
// with answer command 0), so the image has a gap and the converter refuses the commit.
TEST_F(FirmwareFailureLanTest, RefusedCommitFailsTheTransfer) {
    StartSim(kBlocksConverter, json::object());
    const Bytes image = Image(1024 * 1024 + 1, 77);
    EXPECT_FALSE(
        CConfigLANconverter::UpdateSam4LANconverter(kBlocksConverter, image, nullptr, true, true));
    const std::string text = m_log_capture.Text();
    EXPECT_EQ(qarn::test::CountOf(text, Line(kSam4, kBlocksConverter,
                                             kSequence + "block(send:1024 got:1024) cmd:0\n")),
              3u)
        << text;
    EXPECT_EQ(qarn::test::CountOf(
                  text, Line(kSam4, kBlocksConverter, "Failure:Commit not acknowledged\n")),
              1u)
        << text;
    EXPECT_EQ(qarn::test::CountOf(text, "done:Success"), 0u);
    const auto commits = EventsNamed(ReadEvents(m_log), "commit");
    ASSERT_EQ(commits.size(), 3u);
    for (const json& commit : commits) {
        EXPECT_FALSE(commit["ok"].get<bool>());
        EXPECT_EQ(commit["length"], image.size());
    }
    EXPECT_TRUE(EventsNamed(ReadEvents(m_log), "restart_begin").empty());
}

// ---- a converter that does not come back -----------------------------------------------------

class FirmwareRestartLanTest : public FirmwareLanTest {};

// The converter takes the image and stays off the LAN for two minutes: the engine's 5 s pause and
// 25 pings of a second each run out (about 30 s), and the transfer counts as failed.
TEST_F(FirmwareRestartLanTest, ConverterThatStaysAwayFailsAfterTheRetries) {
    StartSim(kBlocksConverter, {{"restart_ms", 120000}});
    const auto start = Clock::now();
    EXPECT_FALSE(CConfigLANconverter::UpdateSam4LANconverter(
        kBlocksConverter, EmbeddedImage(kImageIdSam4), nullptr, true, true));
    const double took = Seconds(Clock::now() - start);
    EXPECT_GE(took, 25.0) << "the pause and about a second per ping";
    EXPECT_LT(took, 50.0);
    const std::string text = m_log_capture.Text();
    EXPECT_EQ(qarn::test::CountOf(text, Line(kSam4, kBlocksConverter, "done:Success")), 1u)
        << "every step acknowledged" << text;
    EXPECT_EQ(qarn::test::CountOf(text, "CSupport::PingWait: IP:'198.18.1.1' Done(Retries:25) -> "
                                        "not reachable"),
              1u)
        << text;
    const auto commits = EventsNamed(ReadEvents(m_log), "commit");
    ASSERT_EQ(commits.size(), 1u);
    EXPECT_TRUE(commits[0]["ok"].get<bool>());
}

// ---- through the local communication service -------------------------------------------------

// The same transfer once over the engine's own endpoint and once through qarn-comm-service: the
// converter must receive the same datagrams from the same address and port, in the same order,
// and the same payload once unscrambled (each datagram carries a fresh seed, so the scrambled
// bytes differ from run to run on either path).
class FirmwareServiceLanTest : public FirmwareLanTest,
                               public ::testing::WithParamInterface<TransferCase> {
  protected:
    void TearDown() override {
        SetClientTransportFactory(nullptr);
        if (m_service.Signal(SIGTERM))
            m_service.Wait(5s);
        unsetenv("QARN_MAILSLOT_DIR");
        FirmwareLanTest::TearDown();
    }

    void StartService() {
        ASSERT_FALSE(g_service.empty()) << "--service is needed";
        // Mailslots and queue of this test alone: other tests run side by side on this machine.
        setenv("QARN_MAILSLOT_DIR", m_slots.Path().c_str(), 1);
        ASSERT_TRUE(m_service.Start({g_service, "--queue-id", m_queueId}));
        const std::string segment = CSharedQueue::SegmentName("Global\\" + m_queueId);
        const auto until = Clock::now() + 10s;
        while (access(("/dev/shm" + segment).c_str(), F_OK) != 0 && Clock::now() < until)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(access(("/dev/shm" + segment).c_str(), F_OK), 0) << "the service did not start";
        RegisterClientFirmwareTransport(m_queueId);
    }

    bool Update(bool sam4, const std::string& ip, const Bytes& image, bool useUdp) {
        return sam4 ? CConfigLANconverter::UpdateSam4LANconverter(ip, image, nullptr, false, useUdp)
                    : CConfigLANconverter::UpdateLtxLANconverter(ip, image, nullptr, false, useUdp);
    }

    qarn::test::TempDir m_slots{"qarn-lan-slots"};
    std::string m_queueId = "qarnLanTest-" + std::to_string(getpid());
    SimProcess m_service;
};

INSTANTIATE_TEST_SUITE_P(Layouts, FirmwareServiceLanTest,
                         ::testing::Values(TransferCase{"Sam4", true, false},
                                           TransferCase{"Ltx", false, false}),
                         TransferName);

TEST_P(FirmwareServiceLanTest, ServicePutsTheSameDatagramsOnTheWireAsUdp) {
    const TransferCase& c = GetParam();
    const std::string ip = c.sam4 ? kBlocksConverter : kFixedConverter;
    StartSim(ip, json{{"restart_ms", 300}});
    StartService();
    const Bytes image = EmbeddedImage(c.sam4 ? kImageIdSam4 : kImageIdLtxSecond);
    ASSERT_FALSE(image.empty());

    const auto udpStart = Clock::now();
    ASSERT_TRUE(Update(c.sam4, ip, image, true)) << m_log_capture.Text();
    const double udpTook = Seconds(Clock::now() - udpStart);
    ASSERT_TRUE(WaitForRestarts(1, 10s));
    const size_t overUdp = ReceivedBy(ip).size();
    ASSERT_EQ(overUdp, c.sam4 ? 147u : 126u);

    const auto start = Clock::now();
    ASSERT_TRUE(Update(c.sam4, ip, image, false)) << m_log_capture.Text();
    const double took = Seconds(Clock::now() - start);
    ASSERT_TRUE(WaitForRestarts(2, 10s));
    std::cout << "[ measured ] " << c.name << ": " << udpTook << " s over UDP, " << took
              << " s through the service\n";

    const std::vector<Received> all = ReceivedBy(ip);
    ASSERT_EQ(all.size(), 2 * overUdp) << "each datagram exactly once on both paths";
    for (size_t i = 0; i < overUdp; ++i) {
        SCOPED_TRACE(i);
        const Received& udp = all[i];
        const Received& service = all[overUdp + i];
        EXPECT_EQ(service.src, udp.src);
        EXPECT_EQ(service.cmd, udp.cmd);
        EXPECT_EQ(service.block, udp.block);
        EXPECT_EQ(service.length, udp.length);
        EXPECT_EQ(service.size, udp.size);
        EXPECT_EQ(service.plain, udp.plain);
    }
    EXPECT_EQ(all.front().src, "198.18.0.1:58009");
    const json state = ConverterState(ip);
    EXPECT_EQ(state.value("phase", ""), "running") << state.dump();
    const std::string text = m_log_capture.Text();
    EXPECT_EQ(qarn::test::CountOf(text, Line(c.sam4 ? kSam4 : kLtx, ip, "done:Success")), 2u)
        << text;
    EXPECT_EQ(qarn::test::CountOf(text, "ERROR   - "), 0u) << text;
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
        if (std::string(argv[i]) == "--service")
            qarn::sim::test::g_service = argv[i + 1];
    }
    return RUN_ALL_TESTS();
}
