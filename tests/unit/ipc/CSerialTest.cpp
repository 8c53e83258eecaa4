#include "ipc/CSerial.h"

#include "ipc/CQCCSerial.h"
#include "ipc/CqarnCommunicationClient.h"
#include "support/LogCapture.h"
#include "unit/ipc/IpcTestSupport.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using Bytes = std::vector<uint8_t>;

// A pseudo-terminal pair: the port under test opens the terminal side, the test writes and reads
// the controlling side as the device would.
class SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[256] = {};
        if (openpty(&m_device, &m_terminal, name, nullptr, nullptr) != 0) {
            const int error = errno;
            if (access("/dev/pts/ptmx", F_OK) != 0)
                GTEST_SKIP()
                    << "no pseudo-terminals: /dev/pts is not mounted (mount -t devpts "
                       "devpts /dev/pts; scripts/test, run as root, mounts one of its own)";
            FAIL() << "openpty: " << std::strerror(error);
        }
        m_path = name;
        ASSERT_TRUE(
            m_port.Open(m_path, 256, 256, 9600, 8, CSerial::kNoParity, CSerial::kOneStopBit))
            << m_port.GetLastError();
    }
    void TearDown() override {
        m_port.Close();
        close(m_device);
        close(m_terminal);
    }

    void Device(const Bytes& bytes) {
        ASSERT_EQ(write(m_device, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // The messages delivered until `count` came or a second passed.
    std::vector<Bytes> Collect(size_t count) {
        std::vector<Bytes> got;
        test::WaitUntil(
            [&] {
                while (auto msg = m_sink.Pop())
                    got.push_back(msg->data);
                return got.size() >= count;
            },
            std::chrono::seconds(1));
        return got;
    }

    int m_device = -1;
    int m_terminal = -1;
    std::string m_path;
    CSerial m_port;
    CMsgQueue m_sink;
};

TEST_F(SerialTest, EachReadModeCutsTheLineIntoItsMessages) {
    struct Case {
        const char* name;
        int32_t mode;
        Bytes line;
        std::vector<Bytes> messages;
    };
    const Case cases[] = {
        {"STX frame of (0x18 >> 2) + 2 bytes, noise before it skipped",
         CSerial::kModeStx,
         {0x55, 0x02, 0x18, 0x00, 1, 2, 3, 4, 5, 0x02, 0x18, 0x00, 6, 7, 8, 9, 10},
         {{0x02, 0x18, 0x00, 1, 2, 3, 4, 5}, {0x02, 0x18, 0x00, 6, 7, 8, 9, 10}}},
        {"STX frame with a length below 6 is cut short",
         CSerial::kModeStx,
         {0x02, 0x08, 0x00},
         {{}}},
        {"STX frame that stops half-way ends as an empty message",
         CSerial::kModeStx,
         {0x02, 0x18, 0x00, 1},
         {{}}},
        {"debug mode: single c and C at once, then a 0x82 frame",
         CSerial::kModeDebug,
         {'c', 0x11, 'C', 0x82, 0x06, 0x00, 1, 2, 3},
         {{'c'}, {'C'}, {0x82, 0x06, 0x00, 1, 2, 3}}},
        {"direct mode: whatever one read gives",
         CSerial::kModeDirect,
         {1, 2, 3, 4},
         {{1, 2, 3, 4}}},
        {"single bytes", CSerial::kModeSingleByte, {7, 8}, {{7}, {8}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_port.StartReceiving(&m_sink, c.mode, 50);
        Device(c.line);
        EXPECT_EQ(Collect(c.messages.size()), c.messages);
        m_port.StopThread();
        std::this_thread::sleep_for(std::chrono::milliseconds(60)); // nothing more trickles in
        m_sink.Clear();
        tcflush(m_terminal, TCIFLUSH);
    }
}

TEST_F(SerialTest, TerminatorSwitchesSingleBytesToTheNextMode) {
    m_port.SetTerminator(0x0D, CSerial::kModeDirect);
    m_port.StartReceiving(&m_sink, CSerial::kModeSingleByte, 50);
    Device({'o', 'k', 0x0D});
    EXPECT_EQ(Collect(3), (std::vector<Bytes>{{'o'}, {'k'}, {0x0D}}));
    EXPECT_EQ(m_port.GetReadMode(), CSerial::kModeDirect);
    Device({'a', 'b', 'c'});
    EXPECT_EQ(Collect(1), (std::vector<Bytes>{{'a', 'b', 'c'}}));
}

TEST_F(SerialTest, MessagesCarryThePortTag) {
    m_port.SetPortTag(uint64_t{0x0100A8C0} << 32 | 0xF0000123);
    m_port.StartReceiving(&m_sink, CSerial::kModeSingleByte, 50);
    Device({1});
    std::unique_ptr<CMsg> msg;
    ASSERT_TRUE(test::WaitUntil([&] { return (msg = m_sink.Pop()) != nullptr; }));
    EXPECT_EQ(msg->address, 0x0100A8C0u);
    EXPECT_EQ(msg->port, 0x123);
    EXPECT_NE(msg->time.year, 0);
}

TEST_F(SerialTest, WriteReachesTheDeviceAndAnOpenPortIsNotOpenedTwice) {
    test::LogCapture log;
    const Bytes frame{0x02, 0x18, 0x00, 1, 2, 3, 4, 5};
    size_t written = 0;
    EXPECT_EQ(m_port.Write(frame.data(), frame.size(), &written), 0);
    EXPECT_EQ(written, frame.size());
    Bytes got(frame.size());
    ASSERT_EQ(read(m_device, got.data(), got.size()), static_cast<ssize_t>(got.size()));
    EXPECT_EQ(got, frame);

    EXPECT_FALSE(m_port.Open(m_path, 256, 256, 9600, 8, 0, 0));
    EXPECT_EQ(m_port.GetLastError(), CSerial::kErrorAlreadyOpen);
    EXPECT_EQ(test::CountOf(log.Text(), "CSerial::Open: Port:'" + m_path + "' is already open"),
              1u);
    m_port.Close();
    EXPECT_EQ(m_port.Write(frame.data(), frame.size()), CSerial::kErrorInvalidHandle);
    EXPECT_EQ(test::CountOf(log.Text(), "CSerial::Write: InvalidHandle:Error"), 1u);
    CSerial missing;
    EXPECT_FALSE(missing.Open("/dev/qarn-no-such-port", 0, 0, 9600, 8, 0, 0));
    EXPECT_EQ(missing.GetLastError(), ENOENT);
}

TEST(SerialSettingsTest, IntervalTimeOutFollowsTheBaudRate) {
    for (const auto& [baud, ms] : {std::pair{2400u, 5u}, std::pair{4800u, 3u}, std::pair{9600u, 2u},
                                   std::pair{19200u, 1u}}) {
        SCOPED_TRACE(baud);
        EXPECT_EQ(CSerial::IntervalTimeoutFor(baud), ms);
    }
}

TEST_F(SerialTest, ClientPortForwardsIntoTheClientsQueue) {
    m_port.Close();
    CqarnCommunicationClient client;
    // Not connected: what the port receives is dropped rather than queued.
    ASSERT_TRUE(client.Serial().Open(m_path, 256, 256, 9600, 8, 0, 0));
    client.Serial().StartReceiving(nullptr, CSerial::kModeSingleByte, 50);
    Device({1});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(client.Client().OwnQueue().Pop(), nullptr);
}

} // namespace
} // namespace qarn
