// The shared firmware endpoint on the loopback of a network namespace of the test's own: peers on
// 127.0.0.2 .. 127.0.0.4 send to its port 58009, and each transfer must see its own peer's
// datagrams alone.

#include "firmware/SharedFirmwareEndpoint.h"

#include "net/CMsgQueue.h"
#include "support/NetLab.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::test {
namespace {

using namespace std::chrono_literals;

uint32_t Address(const char* dotted) {
    in_addr address{};
    inet_pton(AF_INET, dotted, &address);
    return address.s_addr;
}

// A converter stand-in: a socket on its own loopback address that sends to port 58009.
class Peer {
  public:
    explicit Peer(const char* address) : m_fd(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = Address(address);
        m_bound = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    ~Peer() {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Bound() const { return m_bound; }
    void Send(const std::string& text) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(SharedFirmwareEndpoint::kPort);
        to.sin_addr.s_addr = Address("127.0.0.1");
        sendto(m_fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

  private:
    int m_fd;
    bool m_bound = false;
};

// The texts of every datagram `queue` holds after a moment for late ones.
std::vector<std::string> Texts(CMsgQueue& queue) {
    std::this_thread::sleep_for(200ms);
    std::vector<std::string> texts;
    while (auto msg = queue.Pop())
        texts.emplace_back(msg->data.begin(), msg->data.end());
    return texts;
}

class SharedFirmwareEndpointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QARN_REQUIRE_NETLAB();
        ASSERT_TRUE(m_endpoint.Open());
    }

    SharedFirmwareEndpoint m_endpoint;
};

TEST_F(SharedFirmwareEndpointTest, EachTransferSeesOnlyItsConvertersDatagramsInOrder) {
    const Peer a("127.0.0.2"), b("127.0.0.3"), stranger("127.0.0.4");
    ASSERT_TRUE(a.Bound() && b.Bound() && stranger.Bound());
    CMsgQueue queueA, queueB;
    auto transportA = m_endpoint.MakeTransport();
    auto transportB = m_endpoint.MakeTransport();
    ASSERT_TRUE(transportA->Open(queueA, Address("127.0.0.2"), true));
    ASSERT_TRUE(transportB->Open(queueB, Address("127.0.0.3"), false));

    for (int i = 0; i < 5; ++i) {
        a.Send("a" + std::to_string(i));
        stranger.Send("forged ack");
        b.Send("b" + std::to_string(i));
    }
    EXPECT_EQ(Texts(queueA), (std::vector<std::string>{"a0", "a1", "a2", "a3", "a4"}));
    EXPECT_EQ(Texts(queueB), (std::vector<std::string>{"b0", "b1", "b2", "b3", "b4"}));
    EXPECT_EQ(m_endpoint.GetUnroutedCount(), 5u);
    EXPECT_EQ(queueA.GetEvent().Wait(0), platform::WaitResult::First) << "asked to signal";
    EXPECT_EQ(queueB.GetEvent().Wait(0), platform::WaitResult::Timeout) << "not asked to";
    transportA->Close();
    transportB->Close();
}

TEST_F(SharedFirmwareEndpointTest, OneTransferPerConverterAndNothingAfterClose) {
    const Peer a("127.0.0.2");
    ASSERT_TRUE(a.Bound());
    CMsgQueue first, second;
    auto one = m_endpoint.MakeTransport();
    auto two = m_endpoint.MakeTransport();
    ASSERT_TRUE(one->Open(first, Address("127.0.0.2"), false));
    EXPECT_FALSE(two->Open(second, Address("127.0.0.2"), false)) << "the converter is taken";

    one->Close();
    a.Send("late");
    EXPECT_EQ(Texts(first), std::vector<std::string>{}) << "nothing after Close";
    EXPECT_EQ(m_endpoint.GetUnroutedCount(), 1u);

    ASSERT_TRUE(two->Open(second, Address("127.0.0.2"), false)) << "free again";
    a.Send("again");
    EXPECT_EQ(Texts(second), std::vector<std::string>{"again"});
    two->Close();
}

TEST_F(SharedFirmwareEndpointTest, AFloodOverflowsOnlyItsOwnBoundedQueue) {
    const Peer a("127.0.0.2");
    ASSERT_TRUE(a.Bound());
    CMsgQueue queue;
    auto transport = m_endpoint.MakeTransport();
    ASSERT_TRUE(transport->Open(queue, Address("127.0.0.2"), false));
    const size_t flood = SharedFirmwareEndpoint::kAnswerQueueCapacity + 50;
    for (size_t i = 0; i < flood; ++i)
        a.Send("x");
    const std::vector<std::string> kept = Texts(queue);
    EXPECT_EQ(kept.size(), SharedFirmwareEndpoint::kAnswerQueueCapacity);
    EXPECT_GT(m_endpoint.GetOverflowCount(), 0u);
    transport->Close();
}

TEST_F(SharedFirmwareEndpointTest, ATransportOfAClosedEndpointDoesNotOpen) {
    m_endpoint.Close();
    CMsgQueue queue;
    auto transport = m_endpoint.MakeTransport();
    EXPECT_FALSE(transport->Open(queue, Address("127.0.0.2"), false));
    EXPECT_FALSE(transport->Send(std::vector<uint8_t>{1, 2, 3}));
}

} // namespace
} // namespace qarn::test
