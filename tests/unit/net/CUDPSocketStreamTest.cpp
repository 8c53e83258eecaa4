#include "UdpTestPeer.h"
#include "net/CMsgQueue.h"
#include "net/CUDPSocket.h"
#include "support/LogCapture.h"
#include "support/NetLab.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Ip;

constexpr int kPort = CUDPSocket::kConverterPort;
constexpr int kPeerPort = 40000;
// Each read of a row waits this long for a datagram (ms); the rows send everything first.
constexpr uint32_t kReadMs = 150;

// A long frame of `length` bytes in all: 82, the length little-endian, then filler.
Bytes LongFrame(size_t length) {
    Bytes frame(length, 0x5A);
    frame[0] = 0x82;
    frame[1] = static_cast<uint8_t>(length);
    frame[2] = static_cast<uint8_t>(length >> 8);
    return frame;
}

class StreamLab : public ::testing::Test {
  protected:
    void SetUp() override { QARN_REQUIRE_NETLAB(); }
};

TEST_F(StreamLab, DebugReadAssemblesFramesFromDatagramBytes) {
    struct Row {
        const char* name;
        int32_t mode;
        std::vector<Bytes> datagrams;
        // What successive DebugRead calls return (an empty Bytes is an empty message); after
        // them DebugRead returns null.
        std::vector<Bytes> messages;
        const char* logged; // a line the rows' reads must have logged, or null
    };
    const Row rows[] = {
        {"long frame across two datagrams",
         1,
         {{0x82, 0x05}, {0x00, 0xAA, 0xBB}},
         {{0x82, 0x05, 0x00, 0xAA, 0xBB}},
         nullptr},
        {"length below the shortest frame",
         1,
         {{0x82, 0x04, 0x00}},
         {{}},
         "DEBUG   - CUDPSocket::DebugRead: Abort: 3 bytes:82 04 00\r\n"},
        {"lone C", 1, {{0x43}}, {{0x43}}, "DEBUG   - CUDPSocket::DebugRead: StartByte:0x43\r\n"},
        {"other bytes are dropped before c", 1, {{0x11, 0x22}, {0x63}}, {{0x63}}, nullptr},
        {"only dropped bytes", 1, {{0x11, 0x22, 0x7F}}, {}, nullptr},
        {"mode 2 makes every byte a message",
         2,
         {{0x11, 0x43, 0x82, 0x06, 0x00, 0x01, 0x02, 0x03}},
         {{0x11}, {0x43}, {0x82, 0x06, 0x00, 0x01, 0x02, 0x03}},
         "DEBUG   - CUDPSocket::DebugRead: StartByte:0x11\r\n"},
        {"two frames in one datagram",
         1,
         {{0x82, 0x05, 0x00, 0x01, 0x02, 0x43}},
         {{0x82, 0x05, 0x00, 0x01, 0x02}, {0x43}},
         nullptr},
        {"frame cut short by the time-out",
         1,
         {{0x82, 0x07, 0x00, 0xAB}},
         {{}},
         "DEBUG   - CUDPSocket::DebugRead: Abort: 4 bytes:82 07 00 ab\r\n"},
        {"head cut short by the time-out",
         1,
         {{0x82, 0x07}},
         {{}},
         "DEBUG   - CUDPSocket::DebugRead: Abort: 2 bytes:82 07\r\n"},
        {"longest frame the buffer holds", 1, {LongFrame(4095)}, {LongFrame(4095)}, nullptr},
        {"frame as long as the buffer",
         1,
         {{0x82, 0x00, 0x10, 0x01}},
         {{}},
         "DEBUG   - CUDPSocket::DebugRead: Abort: 3 bytes:82 00 10\r\n"},
    };
    test::LogCapture log;
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CUDPSocket endpoint;
        ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
        endpoint.SetStreamMode(row.mode);
        for (const Bytes& datagram : row.datagrams)
            ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, datagram));
        const size_t logged = log.Text().size();
        for (const Bytes& expected : row.messages) {
            std::unique_ptr<CMsg> msg = endpoint.DebugRead(kReadMs);
            ASSERT_NE(msg, nullptr);
            EXPECT_EQ(msg->data, expected);
        }
        EXPECT_EQ(endpoint.DebugRead(kReadMs), nullptr);
        if (row.logged != nullptr) {
            EXPECT_EQ(test::CountOf(log.Text().substr(logged), row.logged), 1u) << log.Text();
        }
    }
}

TEST_F(StreamLab, WorkerDeliversFramesWithTheirSender) {
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    CMsgQueue queue;
    CUDPSocket endpoint;
    ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
    endpoint.SetStreamMode(1);
    ASSERT_TRUE(endpoint.StartReceiving(&queue, 10, false, 200));
    ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {0x82, 0x05}));
    ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {0x00, 0xAA, 0xBB, 0x43}));
    std::vector<std::unique_ptr<CMsg>> taken;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (taken.size() < 2 && std::chrono::steady_clock::now() < end) {
        if (auto msg = queue.Pop())
            taken.push_back(std::move(msg));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0]->data, (Bytes{0x82, 0x05, 0x00, 0xAA, 0xBB}));
    EXPECT_EQ(taken[1]->data, Bytes{0x43});
    for (const auto& msg : taken) {
        EXPECT_EQ(msg->address, Ip("127.0.0.1"));
        EXPECT_EQ(msg->port, kPort);
    }
}

TEST_F(StreamLab, CloseDropsBytesHeldForTheNextFrame) {
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    CUDPSocket endpoint;
    ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
    endpoint.SetStreamMode(1);
    ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {0x43, 0x63}));
    std::unique_ptr<CMsg> msg = endpoint.DebugRead(kReadMs);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->data, Bytes{0x43});
    // The 63 is held from the first datagram; a reopened endpoint starts afresh.
    ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
    ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {0x43}));
    msg = endpoint.DebugRead(kReadMs);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->data, Bytes{0x43});
    EXPECT_EQ(endpoint.DebugRead(kReadMs), nullptr);
}

} // namespace
} // namespace qarn
