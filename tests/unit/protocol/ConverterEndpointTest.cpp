#include "protocol/ConverterEndpoint.h"

#include "ConverterDatagrams.h"
#include "net/CMsgQueue.h"
#include "protocol/PingReachability.h"
#include "support/LogCapture.h"
#include "support/NetLab.h"
#include "unit/net/UdpTestPeer.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Ip;
using test::IpText;

// The next message within about `ms`; null when none came.
std::unique_ptr<CMsg> PopWithin(CMsgQueue& queue, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (std::unique_ptr<CMsg> msg = queue.Pop())
            return msg;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return queue.Pop();
}

// The tool's own datagrams come back to its socket: a broadcast reaches the sender's host too, and
// so do datagrams it sends to one of its own addresses. None of them is a converter's answer; a
// datagram from another host is delivered with its source.
TEST(ConverterEndpointTest, DeliversOtherHostsDatagramsButNotThisHostsOwn) {
    QARN_REQUIRE_NETLAB();
    test::PeerNamespace peer{1}; // us 198.18.1.1, the peer 198.18.1.2
    std::string why;
    ASSERT_TRUE(peer.Create(&why)) << why;
    ASSERT_TRUE(test::RunOk("ip route replace default via " + peer.PeerAddress()));
    test::UdpTestPeer converter("0.0.0.0", CUDPSocket::kConverterPort, peer.Name());

    CMsgQueue queue;
    ConverterEndpoint endpoint(queue);
    EXPECT_FALSE(endpoint.IsOpen());
    ASSERT_TRUE(endpoint.Open());
    EXPECT_TRUE(endpoint.IsOpen());

    const std::vector<uint8_t> write(88, 0x1B);
    ASSERT_TRUE(test::InOwnNetNamespace()) << "never broadcast into the machine's network";
    ASSERT_TRUE(endpoint.Send(write, IConverterEndpoint::kBroadcast, 0));
    ASSERT_TRUE(endpoint.Send(write, Ip(198, 18, 1, 1), 0));
    ASSERT_TRUE(endpoint.Send(write, Ip(127, 0, 0, 1), 0));
    test::Received seen;
    ASSERT_TRUE(converter.Receive(&seen, 2000)) << "the broadcast reached the other host";
    EXPECT_EQ(seen.bytes, write);

    // Sent after the tool's own datagrams had come back, so it is queued behind them if they are.
    const std::vector<uint8_t> answer = test::BlockAnswer(0xD0, 40);
    ASSERT_TRUE(converter.SendTo("198.18.1.1", CUDPSocket::kConverterPort, answer));
    const std::unique_ptr<CMsg> received = PopWithin(queue, 5000);
    ASSERT_NE(received, nullptr);
    EXPECT_EQ(received->data, answer);
    EXPECT_EQ(received->address, Ip(198, 18, 1, 2));
    EXPECT_EQ(PopWithin(queue, 300), nullptr);

    endpoint.Close();
    EXPECT_FALSE(endpoint.IsOpen());
    EXPECT_FALSE(endpoint.Send(write, Ip(198, 18, 1, 2), 0));
}

// Two networks, each a veth link to a peer namespace that listens on the converter port: qlab1
// (198.18.1.1/24) and qlab2 (198.18.2.1/24, and 198.18.12.1/24 under the label "qlab2:7"), with
// the default route through qlab1 as on a PC whose first network is its main one.
class InterfaceChoiceLab : public ::testing::Test {
  protected:
    void SetUp() override {
        QARN_REQUIRE_NETLAB();
        std::string why;
        ASSERT_TRUE(m_first.Create(&why)) << why;
        ASSERT_TRUE(m_second.Create(&why)) << why;
        ASSERT_TRUE(test::RunOk("ip addr add 198.18.12.1/24 dev qlab2 label qlab2:7"));
        ASSERT_TRUE(test::RunOk("ip route add default via 198.18.1.2"));
        const int port = CUDPSocket::kConverterPort;
        m_firstPeer = std::make_unique<test::UdpTestPeer>("0.0.0.0", port, m_first.Name());
        m_secondPeer = std::make_unique<test::UdpTestPeer>("0.0.0.0", port, m_second.Name());
    }

    // Destination addresses of what each peer received: {first's, second's}.
    std::pair<std::vector<std::string>, std::vector<std::string>> Arrivals() const {
        const auto of = [](const test::UdpTestPeer& peer) {
            std::vector<std::string> seen;
            for (const test::Received& one : peer.ReceiveAll(300))
                seen.push_back(IpText(one.to));
            return seen;
        };
        auto first = of(*m_firstPeer);
        return {first, of(*m_secondPeer)};
    }

    test::PeerNamespace m_first{1};
    test::PeerNamespace m_second{2};
    std::unique_ptr<test::UdpTestPeer> m_firstPeer;
    std::unique_ptr<test::UdpTestPeer> m_secondPeer;
    CMsgQueue m_queue;
};

TEST_F(InterfaceChoiceLab, BroadcastsGoOnlyToTheChosenInterfacesDirectedBroadcast) {
    using Seen = std::vector<std::string>;
    struct Row {
        const char* name;
        const char* choice;
        bool result;
        Seen first;  // destinations the peer on qlab1 sees
        Seen second; // ... and the one on qlab2
    };
    const Row rows[] = {
        {"every interface (the default)",
         "",
         true,
         {"255.255.255.255", "198.18.1.255"},
         {"198.18.2.255"}},
        {"the second network only", "qlab2", true, {}, {"198.18.2.255"}},
        {"the first network only", "qlab1", true, {"198.18.1.255"}, {}},
        {"an interface without IPv4 address", "qlab9", false, {}, {}},
        {"the loopback", "lo", false, {}, {}},
    };
    test::LogCapture log;
    ConverterEndpoint endpoint(m_queue);
    ASSERT_TRUE(endpoint.Open());
    const std::vector<uint8_t> request = {0x01, 0x1A, 0x00, 0x00};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(endpoint.SetBroadcastInterface(row.choice));
        EXPECT_EQ(endpoint.GetBroadcastInterface(), row.choice);
        ASSERT_TRUE(test::InOwnNetNamespace()) << "never broadcast into the machine's network";
        EXPECT_EQ(endpoint.Send(request, IConverterEndpoint::kBroadcast, 0), row.result);
        const auto [first, second] = Arrivals();
        EXPECT_EQ(first, row.first);
        EXPECT_EQ(second, row.second);
    }
    EXPECT_EQ(test::CountOf(log.Text(), "ConverterEndpoint::Send: no IPv4 address on interface "
                                        "'qlab9', broadcast not sent"),
              1u)
        << log.Text();

    // A unicast is not limited by the choice.
    ASSERT_TRUE(endpoint.SetBroadcastInterface("qlab2"));
    EXPECT_TRUE(endpoint.Send(request, Ip("198.18.1.2"), 0));
    EXPECT_EQ(Arrivals().first, Seen{"198.18.1.2"});
}

TEST_F(InterfaceChoiceLab, ListsTheInterfacesABroadcastCanBeLimitedTo) {
    EXPECT_EQ(ConverterEndpoint::ListBroadcastInterfaces(),
              (std::vector<std::string>{"qlab1", "qlab2"}));
    // The labelled address belongs to its interface; an interface that is down has none.
    EXPECT_EQ(ConverterEndpoint::DirectedBroadcastsOf("qlab2"),
              (std::vector<uint32_t>{Ip("198.18.2.255"), Ip("198.18.12.255")}));
    EXPECT_EQ(ConverterEndpoint::DirectedBroadcastsOf("qlab2:7"),
              std::vector<uint32_t>{Ip("198.18.12.255")});
    EXPECT_TRUE(ConverterEndpoint::DirectedBroadcastsOf("qlab").empty());
    EXPECT_TRUE(ConverterEndpoint::DirectedBroadcastsOf("lo").empty());
    ASSERT_TRUE(test::RunOk("ip link set qlab1 down"));
    EXPECT_TRUE(ConverterEndpoint::DirectedBroadcastsOf("qlab1").empty());
    EXPECT_EQ(ConverterEndpoint::ListBroadcastInterfaces(), std::vector<std::string>{"qlab2"});
}

TEST(PingReachabilityTest, LoopbackAnswersAnAddressWithoutRouteDoesNot) {
    QARN_REQUIRE_NETLAB(); // only lo exists in the fresh namespace
    PingReachability echo;
    EXPECT_TRUE(echo.Echo(Ip(127, 0, 0, 1)));
    EXPECT_FALSE(echo.Echo(Ip(198, 18, 99, 99)));
}

} // namespace
} // namespace qarn
