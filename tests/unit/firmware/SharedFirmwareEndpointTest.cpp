// The shared firmware endpoint in a network namespace of the test's own: peers on 127.0.0.2 ..
// 127.0.0.4 send to its port 58009, and each transfer must see its own peer's datagrams alone;
// then whole transfers of both engines at once to converters in a second namespace.

#include "firmware/SharedFirmwareEndpoint.h"

#include "firmware/CLtxTransfer.h"
#include "firmware/CSam4Transfer.h"
#include "net/CMsgQueue.h"
#include "support/NetLab.h"
#include "unit/firmware/FirmwareEngineFakes.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
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

// Waits until `done` holds, or a time that no loaded machine should need has passed: the
// endpoint's receive thread may lag far behind the senders when the processors are busy.
template <typename Condition>
bool WaitUntil(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The texts of the datagrams that `queue` receives, once `expected` are in and a moment has
// passed for any that should not be there.
std::vector<std::string> Texts(CMsgQueue& queue, size_t expected) {
    std::vector<std::string> texts;
    auto popAll = [&] {
        while (auto msg = queue.Pop())
            texts.emplace_back(msg->data.begin(), msg->data.end());
    };
    WaitUntil([&] {
        popAll();
        return texts.size() >= expected;
    });
    std::this_thread::sleep_for(100ms);
    popAll();
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
    EXPECT_EQ(Texts(queueA, 5), (std::vector<std::string>{"a0", "a1", "a2", "a3", "a4"}));
    EXPECT_EQ(Texts(queueB, 5), (std::vector<std::string>{"b0", "b1", "b2", "b3", "b4"}));
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
    EXPECT_TRUE(WaitUntil([&] { return m_endpoint.GetUnroutedCount() == 1; }));
    EXPECT_EQ(Texts(first, 0), std::vector<std::string>{}) << "nothing after Close";

    ASSERT_TRUE(two->Open(second, Address("127.0.0.2"), false)) << "free again";
    a.Send("again");
    EXPECT_EQ(Texts(second, 1), std::vector<std::string>{"again"});
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
    // Nothing may be taken from the queue before the whole flood is in: that would make room.
    EXPECT_TRUE(WaitUntil([&] {
        return m_endpoint.GetOverflowCount() >=
               flood - SharedFirmwareEndpoint::kAnswerQueueCapacity;
    }));
    const std::vector<std::string> kept = Texts(queue, 0);
    EXPECT_EQ(kept.size(), SharedFirmwareEndpoint::kAnswerQueueCapacity);
    EXPECT_EQ(m_endpoint.GetOverflowCount(), flood - SharedFirmwareEndpoint::kAnswerQueueCapacity);
    transport->Close();
}

TEST_F(SharedFirmwareEndpointTest, ATransportOfAClosedEndpointDoesNotOpen) {
    m_endpoint.Close();
    CMsgQueue queue;
    auto transport = m_endpoint.MakeTransport();
    EXPECT_FALSE(transport->Open(queue, Address("127.0.0.2"), false));
    EXPECT_FALSE(transport->Send(std::vector<uint8_t>{1, 2, 3}));
}

// Converters at 198.18.1.2 .. 198.18.1.5 in a peer namespace, played by one thread: each takes
// the blocks sent to it, acknowledges them and the commit, and keeps the unscrambled payloads.
class PeerConverters {
  public:
    static constexpr int kCount = 4;

    explicit PeerConverters(const std::string& peerNamespace) : m_namespace(peerNamespace) {}
    ~PeerConverters() { Stop(); }

    void Start() {
        m_thread = std::thread([this] { Serve(); });
        while (!m_ready.load() && !m_failed.load())
            std::this_thread::sleep_for(1ms);
    }
    void Stop() {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }
    bool Failed() const { return m_failed.load(); }
    static std::string AddressOf(int i) { return "198.18.1." + std::to_string(2 + i); }
    // What converter `i` received, once stopped.
    const Bytes& Received(int i) const { return m_received[i]; }
    int Commits(int i) const { return m_commits[i]; }

  private:
    void Serve() {
        // Only this thread enters the peer's namespace; the engines stay in the test's.
        const int ns = open(("/run/netns/" + m_namespace).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
            m_failed.store(true);
            return;
        }
        close(ns);
        pollfd fds[kCount];
        for (int i = 0; i < kCount; ++i) {
            fds[i] = {socket(AF_INET, SOCK_DGRAM, 0), POLLIN, 0};
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_port = htons(SharedFirmwareEndpoint::kPort);
            local.sin_addr.s_addr = Address(AddressOf(i).c_str());
            if (bind(fds[i].fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
                m_failed.store(true);
        }
        m_ready.store(true);
        while (!m_stop.load()) {
            if (poll(fds, kCount, 20) <= 0)
                continue;
            for (int i = 0; i < kCount; ++i)
                if (fds[i].revents & POLLIN)
                    AnswerOne(i, fds[i].fd);
        }
        for (const pollfd& fd : fds)
            close(fd.fd);
    }

    void AnswerOne(int i, int fd) {
        uint8_t buffer[2048];
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t got =
            recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size);
        if (got < 16)
            return;
        const Sent datagram(Bytes(buffer, buffer + got));
        Bytes answer;
        if (datagram.IsCommit()) {
            ++m_commits[i];
            answer = CommitAnswer(0x26);
        } else {
            m_received[i].insert(m_received[i].end(), datagram.plain.begin(), datagram.plain.end());
            answer = Ack(datagram.Number());
        }
        sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), size);
    }

    std::string m_namespace;
    std::thread m_thread;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_stop{false};
    Bytes m_received[kCount];
    int m_commits[kCount] = {};
};

TEST(SharedFirmwareEndpointLabTest, EnginesOfBothLayoutsRunSideBySideOverOneEndpoint) {
    QARN_REQUIRE_NETLAB();
    PeerNamespace peer(1);
    std::string why;
    ASSERT_TRUE(peer.Create(&why)) << why;
    for (int i = 1; i < PeerConverters::kCount; ++i)
        ASSERT_TRUE(peer.RunOk("ip addr add " + PeerConverters::AddressOf(i) + "/24 dev eth0"));
    PeerConverters converters(peer.Name());
    converters.Start();
    ASSERT_FALSE(converters.Failed()) << "the converters could not take their addresses";

    SharedFirmwareEndpoint shared;
    ASSERT_TRUE(shared.Open());
    const FirmwareTransferEnvironment environment = shared.MakeEnvironment();
    std::vector<Bytes> images;
    for (int i = 0; i < PeerConverters::kCount; ++i)
        images.push_back(i % 2 == 0 ? TestImage(20 * 1024 + 300, 5 + i) : TestImage(131072, 5 + i));
    TransferResult results[PeerConverters::kCount];
    std::vector<std::thread> engines;
    for (int i = 0; i < PeerConverters::kCount; ++i)
        engines.emplace_back([&, i] {
            const std::string target = PeerConverters::AddressOf(i);
            if (i % 2 == 0)
                CSam4Transfer(environment)
                    .Run(target, images[i], nullptr, false, true, &results[i]);
            else
                CLtxTransfer(environment).Run(target, images[i], nullptr, false, true, &results[i]);
        });
    for (std::thread& engine : engines)
        engine.join();
    shared.Close();
    converters.Stop();

    for (int i = 0; i < PeerConverters::kCount; ++i) {
        SCOPED_TRACE(PeerConverters::AddressOf(i));
        EXPECT_EQ(results[i].verdict, TransferVerdict::Done) << results[i].reason;
        EXPECT_TRUE(converters.Received(i) == images[i]) << "its own image, every block once";
        EXPECT_EQ(converters.Commits(i), i % 2 == 0 ? 1 : 0);
    }
    EXPECT_EQ(shared.GetUnroutedCount(), 0u);
}

} // namespace
} // namespace qarn::test
