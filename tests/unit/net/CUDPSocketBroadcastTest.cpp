#include "UdpTestPeer.h"
#include "net/CUDPSocket.h"
#include "platform/Interfaces.h"
#include "support/LogCapture.h"
#include "support/NetLab.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Ip;
using test::IpText;

constexpr int kPort = CUDPSocket::kConverterPort;

// The test's namespace is 198.18.1.1/24 on a veth link to a peer namespace at 198.18.1.2, which
// listens on the converter port and records every datagram with its sender and the destination
// address it carried. Broadcasts leave only through that link.
class BroadcastLab : public ::testing::Test {
  protected:
    void SetUp() override {
        QARN_REQUIRE_NETLAB();
        std::string why;
        ASSERT_TRUE(m_peer.Create(&why)) << why;
    }

    // "what a real network has": a default route, so that 255.255.255.255 has a way out.
    static ::testing::AssertionResult SetDefaultRoute(bool present) {
        return test::RunOk(present ? "ip route replace default via 198.18.1.2"
                                   : "ip route del default 2>/dev/null || true");
    }

    test::PeerNamespace m_peer{1};
};

TEST_F(BroadcastLab, FansOutToTheLimitedAndEachDirectedBroadcast) {
    struct Row {
        const char* name;
        bool loopbackUp; // lo down leaves a single interface record
        bool defaultRoute;
        bool result;
        std::vector<const char*> arrivals; // destination addresses the peer sees, in order
        const char* warning;               // a warning line of the write, or null
    };
    const Row rows[] = {
        {"loopback and one network",
         true,
         true,
         true,
         {"255.255.255.255", "198.18.1.255"},
         nullptr},
        {"a single interface record", false, true, true, {"255.255.255.255"}, nullptr},
        {"limited broadcast without a route; the directed one decides",
         true,
         false,
         true,
         {"198.18.1.255"},
         "WARNING - CUDPSocket::SocketWrite: Exception: Error:0x00000065 "
         "Target[IP:255.255.255.255 Port:58009]\r\n"},
        {"single record without a route",
         false,
         false,
         false,
         {},
         "WARNING - CUDPSocket::Write: SocketWrite: Error:0x00000065 \r\n"},
    };
    test::LogCapture log;
    test::UdpTestPeer receiver("0.0.0.0", kPort, m_peer.Name());
    const std::vector<uint8_t> request = {0x1A, 0x00, 0x10, 0x00};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(test::RunOk(std::string("ip link set lo ") + (row.loopbackUp ? "up" : "down")));
        ASSERT_TRUE(SetDefaultRoute(row.defaultRoute));
        CUDPSocket endpoint; // a fresh interface list for each row
        ASSERT_TRUE(endpoint.Open(CUDPSocket::kBroadcastAddress, kPort, 0, 0));
        const size_t logged = log.Text().size();

        ASSERT_TRUE(test::InOwnNetNamespace()) << "never broadcast into the machine's network";
        EXPECT_EQ(endpoint.Write(request, CUDPSocket::kBroadcastAddress, kPort), row.result);
        EXPECT_EQ(endpoint.GetInterfaceCount(), row.loopbackUp ? 2 : 1);

        const std::vector<test::Received> seen = receiver.ReceiveAll(300);
        std::vector<std::string> destinations;
        for (const test::Received& one : seen) {
            destinations.push_back(IpText(one.to));
            EXPECT_EQ(one.bytes, request);
            EXPECT_EQ(IpText(one.from), "198.18.1.1");
            EXPECT_EQ(one.fromPort, kPort) << "every copy leaves from the given port";
        }
        EXPECT_EQ(destinations, std::vector<std::string>(row.arrivals.begin(), row.arrivals.end()));
        if (row.warning != nullptr) {
            EXPECT_EQ(test::CountOf(log.Text().substr(logged), row.warning), 1u) << log.Text();
        }
    }
}

// A broadcast comes back to the sending host's sockets on that port, with one of its addresses as
// the source. An endpoint asked to drop its host's own datagrams delivers only the other host's.
TEST_F(BroadcastLab, OwnDatagramsComeBackUnlessTheEndpointDropsThem) {
    ASSERT_TRUE(SetDefaultRoute(true));
    test::UdpTestPeer converter("0.0.0.0", kPort, m_peer.Name());
    const std::vector<uint8_t> request = {0x1A, 0x00, 0x10, 0x00};
    const std::vector<uint8_t> answer = {0x1A, 0x01, 0x58, 0x00};
    for (const bool drop : {false, true}) {
        SCOPED_TRACE(drop ? "dropping own datagrams" : "delivering everything");
        CMsgQueue queue;
        CUDPSocket endpoint;
        EXPECT_FALSE(endpoint.GetDropOwnDatagrams()) << "off after construction";
        endpoint.SetDropOwnDatagrams(drop);
        ASSERT_TRUE(endpoint.Open(CUDPSocket::kBroadcastAddress, kPort, 0, 0));
        ASSERT_TRUE(endpoint.StartReceiving(&queue, 10, false, 100));
        ASSERT_TRUE(test::InOwnNetNamespace()) << "never broadcast into the machine's network";
        ASSERT_TRUE(endpoint.Write(request, CUDPSocket::kBroadcastAddress, kPort));
        EXPECT_EQ(converter.ReceiveAll(300).size(), 2u);
        ASSERT_TRUE(converter.SendTo("198.18.1.1", kPort, answer));

        std::vector<std::string> sources;
        for (int i = 0; i < 100; ++i) {
            while (std::unique_ptr<CMsg> msg = queue.Pop())
                sources.push_back(IpText(msg->address));
            if (!sources.empty() && sources.back() == "198.18.1.2")
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // The limited and the directed broadcast, both from this side's address.
        const std::vector<std::string> expected =
            drop ? std::vector<std::string>{"198.18.1.2"}
                 : std::vector<std::string>{"198.18.1.1", "198.18.1.1", "198.18.1.2"};
        EXPECT_EQ(sources, expected);
        endpoint.Close();
    }
}

TEST_F(BroadcastLab, InterfaceRecordsAreReadOncePerEndpointInAStableOrder) {
    CUDPSocket endpoint;
    ASSERT_TRUE(endpoint.EnumerateInterfaces());
    const std::vector<platform::InterfaceRecord> records = endpoint.GetInterfaces();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].flags & (platform::kInterfaceUp | platform::kInterfaceLoopback),
              platform::kInterfaceUp | platform::kInterfaceLoopback);
    EXPECT_EQ(records[0].address, Ip("127.0.0.1"));
    EXPECT_EQ(records[0].netmask, Ip("255.0.0.0"));
    EXPECT_EQ(records[1].flags & (platform::kInterfaceLoopback | platform::kInterfaceBroadcast),
              platform::kInterfaceBroadcast);
    EXPECT_EQ(records[1].address, Ip("198.18.1.1"));
    EXPECT_EQ(records[1].netmask, Ip("255.255.255.0"));
    EXPECT_EQ(records[1].broadcast, Ip("198.18.1.255"));

    // More addresses than records fit: the endpoint keeps its first list, a new one sees the
    // first 128 of the new state, the same list each time.
    std::string batch;
    for (int i = 1; i <= 140; ++i)
        batch += "addr add 198.18.50." + std::to_string(i) + "/32 dev qdum0\n";
    ASSERT_TRUE(test::AddDummy("qdum0", "198.18.9.1/24"));
    ASSERT_TRUE(test::RunOk("printf '" + batch + "' | ip -batch -"));
    ASSERT_TRUE(endpoint.EnumerateInterfaces());
    EXPECT_EQ(endpoint.GetInterfaces(), records);

    CUDPSocket later;
    CUDPSocket again;
    ASSERT_TRUE(later.EnumerateInterfaces());
    ASSERT_TRUE(again.EnumerateInterfaces());
    EXPECT_EQ(later.GetInterfaceCount(), static_cast<int32_t>(platform::kMaxInterfaceRecords));
    EXPECT_EQ(later.GetInterfaces(), again.GetInterfaces());
    const std::vector<platform::InterfaceRecord> many = later.GetInterfaces();
    ASSERT_GE(many.size(), 3u);
    EXPECT_EQ(many[0], records[0]);
    EXPECT_EQ(many[1], records[1]);
    EXPECT_EQ(many[2].address, Ip("198.18.9.1"));
}

} // namespace
} // namespace qarn
