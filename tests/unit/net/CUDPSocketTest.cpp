#include "net/CUDPSocket.h"

#include "UdpTestPeer.h"
#include "net/CMsgQueue.h"
#include "platform/SocketLibrary.h"
#include "support/LogCapture.h"
#include "support/NetLab.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test::CountOf;
using test::Ip;

constexpr int kPort = CUDPSocket::kConverterPort;
constexpr int kPeerPort = 40000;

// Polls `done` until it holds or `limit` passes.
bool WaitFor(const std::function<bool()>& done, milliseconds limit = milliseconds(5000)) {
    const Clock::time_point end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

// Pops `count` messages, waiting up to 5 s for them.
std::vector<std::unique_ptr<CMsg>> Take(CMsgQueue& queue, size_t count) {
    std::vector<std::unique_ptr<CMsg>> taken;
    WaitFor([&] {
        while (auto msg = queue.Pop())
            taken.push_back(std::move(msg));
        return taken.size() >= count;
    });
    return taken;
}

// The lines of `text` that mention `a` or `b`, in order, each without the thread id and time
// stamp in front of its level: "WARNING - CUDPSocket::Write: no data\r\n".
std::string LinesOf(const std::string& text, const char* a, const char* b = nullptr) {
    std::string lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(at, end - at);
        at = end;
        if (line.find(a) == std::string::npos &&
            (b == nullptr || line.find(b) == std::string::npos))
            continue;
        const size_t level = line.find(" - ");
        lines += level == std::string::npos ? line : line.substr(level + 3);
    }
    return lines;
}

TEST(CUDPSocketTest, StartsClosedAndHoldsOneSocketLibraryStartUp) {
    const int32_t before = platform::SocketLibraryUsers();
    {
        CUDPSocket endpoint;
        EXPECT_EQ(platform::SocketLibraryUsers(), before + 1);
        EXPECT_FALSE(endpoint.IsOpen());
        EXPECT_EQ(endpoint.GetReadTimeoutMs(), CUDPSocket::kDefaultReadTimeoutMs);
        EXPECT_EQ(endpoint.Read(0), nullptr);
        EXPECT_EQ(endpoint.DebugRead(0), nullptr);
        EXPECT_EQ(endpoint.GetReceiveBufferBytes(), -1);
    }
    EXPECT_EQ(platform::SocketLibraryUsers(), before);
}

// A worker without a socket has nothing to read: with no pause between passes it must wait for
// its stop rather than spin, or it takes the processor from a Close that wants to stop it.
TEST(CUDPSocketTest, WorkerWithoutASocketWaitsForItsStopInsteadOfSpinning) {
    CMsgQueue queue;
    CUDPSocket endpoint;
    const auto cpu = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    };
    const auto before = cpu();
    ASSERT_TRUE(endpoint.StartReceiving(&queue, 0, false, 100));
    std::this_thread::sleep_for(milliseconds(300));
    const auto used = std::chrono::duration_cast<milliseconds>(cpu() - before);
    EXPECT_TRUE(endpoint.IsRunning()) << "running until it is stopped, as any worker";
    EXPECT_LT(used.count(), 60) << "processor time while the worker had nothing to do";
    endpoint.Close();
    EXPECT_FALSE(endpoint.IsRunning());
}

// Everything here sends only on the loopback of a namespace of the test's own.
class UdpLab : public ::testing::Test {
  protected:
    void SetUp() override { QARN_REQUIRE_NETLAB(); }
};

TEST_F(UdpLab, OpenHoldsThePortAloneAndLeavesPortZeroUnbound) {
    test::LogCapture log;
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);

    CUDPSocket first;
    CUDPSocket second;
    EXPECT_TRUE(first.Open(CUDPSocket::kBroadcastAddress, kPort, 0, 0));
    EXPECT_FALSE(second.Open(CUDPSocket::kBroadcastAddress, kPort, 0, 0)) << "port in use";
    EXPECT_EQ(CountOf(log.Text(), "ERROR   - CUDPSocket::Open: bind (IP:0.0.0.0 Port:58009) "
                                  "failed. Error:0x00000062\n"),
              1u)
        << log.Text();
    first.Close();
    EXPECT_TRUE(second.Open(CUDPSocket::kBroadcastAddress, kPort, 0, 0)) << "free again";
    EXPECT_EQ(second.GetRemotePort(), kPort) << "remote port 0 stands for the local port";
    EXPECT_EQ(
        CountOf(log.Text(), "DEBUG   - CUDPSocket::Open: bind (IP:0.0.0.0 Port:58009) done.\r\n"),
        2u)
        << log.Text();
    ASSERT_TRUE(second.Write({1, 2, 3}, Ip("127.0.0.1"), kPeerPort));
    test::Received got;
    ASSERT_TRUE(peer.Receive(&got, 2000));
    EXPECT_EQ(got.fromPort, kPort);

    // Port 0: no bind now; the system gives the socket a port of its own at the first send.
    CUDPSocket unbound;
    const size_t logged = log.Text().size();
    ASSERT_TRUE(unbound.Open(Ip("127.0.0.1"), 0, kPeerPort, 0));
    EXPECT_TRUE(unbound.IsOpen());
    EXPECT_EQ(log.Text().find("bind", logged), std::string::npos) << log.Text().substr(logged);
    CMsg msg;
    msg.address = Ip("127.0.0.1");
    msg.data = {9, 8, 7};
    ASSERT_TRUE(unbound.Write(&msg)) << "a message goes to its address and the remote port";
    ASSERT_TRUE(peer.Receive(&got, 2000));
    EXPECT_EQ(got.bytes, msg.data);
    EXPECT_NE(got.fromPort, 0);
    EXPECT_NE(got.fromPort, kPort);
}

// Another local user who binds the tool's port beside it, with every reuse option there is, would
// receive the converters' answers in its place: the system must refuse.
TEST_F(UdpLab, AnotherUserCannotBindThePortBesideTheEndpoint) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user (scripts/test runs as root)";
    CUDPSocket endpoint;
    ASSERT_TRUE(endpoint.Open(CUDPSocket::kBroadcastAddress, kPort, 0, 0));
    const pid_t other = fork();
    if (other == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        int taken = 0;
        for (const char* address : {"0.0.0.0", "127.0.0.1"}) {
            const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const int on = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_port = htons(kPort);
            inet_pton(AF_INET, address, &local.sin_addr);
            taken += bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 ? 1 : 0;
            close(fd);
        }
        _exit(taken);
    }
    int status = 0;
    ASSERT_EQ(waitpid(other, &status, 0), other);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "binds that succeeded";
}

TEST_F(UdpLab, OpenThatFailsLeavesTheEndpointClosedAndStopped) {
    test::LogCapture log;
    CMsgQueue queue;
    CUDPSocket endpoint;
    ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
    ASSERT_TRUE(endpoint.StartReceiving(&queue, 10, false, 100));
    ASSERT_TRUE(endpoint.IsRunning());

    // Nobody holds 198.18.99.99 here.
    EXPECT_FALSE(endpoint.Open(0, kPort, 0, Ip("198.18.99.99")));
    EXPECT_FALSE(endpoint.IsOpen());
    EXPECT_FALSE(endpoint.IsRunning()) << "Open stops the worker first";
    EXPECT_EQ(CountOf(log.Text(), "ERROR   - CUDPSocket::Open: bind (IP:198.18.99.99 Port:58009) "
                                  "failed. Error:0x00000063\n"),
              1u)
        << log.Text();

    // A port that does not fit 16 bits would wrap to another one: refused.
    EXPECT_FALSE(endpoint.Open(0, 65536 + kPort, 0, 0));
    EXPECT_EQ(CountOf(log.Text(), "ERROR   - CUDPSocket::Open: bind (IP:0.0.0.0 Port:123545) "
                                  "failed. Error:0x00000016\n"),
              1u)
        << log.Text();
    EXPECT_FALSE(endpoint.IsOpen());
}

TEST_F(UdpLab, WriteRefusesWhatItCannotSendAndSaysWhy) {
    struct Row {
        const char* name;
        bool open;
        std::function<bool(CUDPSocket&)> write;
        const char* lines; // what the log gains, in this order; "" for nothing
    };
    const std::vector<uint8_t> tooLong(65508, 0x55); // one byte more than UDP carries
    const Row rows[] = {
        {"null message", true, [](CUDPSocket& e) { return e.Write(nullptr); }, ""},
        {"message without data", true,
         [](CUDPSocket& e) {
             CMsg msg;
             msg.address = Ip("127.0.0.1");
             return e.Write(&msg);
         },
         "WARNING - CUDPSocket::Write: no data\r\n"},
        {"message on a closed endpoint", false,
         [](CUDPSocket& e) {
             CMsg msg;
             msg.address = Ip("127.0.0.1");
             msg.data = {1};
             return e.Write(&msg);
         },
         "WARNING - CUDPSocket::Write: socket not opened\r\n"},
        {"empty buffer", true,
         [](CUDPSocket& e) { return e.Write(std::vector<uint8_t>{}, Ip("127.0.0.1"), kPeerPort); },
         ""},
        {"null buffer", true,
         [](CUDPSocket& e) { return e.Write(nullptr, 3, Ip("127.0.0.1"), kPeerPort); }, ""},
        {"buffer on a closed endpoint", false,
         [](CUDPSocket& e) {
             return e.Write({1, 2}, Ip("127.0.0.1"), kPeerPort);
         },
         ""},
        {"buffer longer than a datagram", true,
         [&](CUDPSocket& e) { return e.Write(tooLong, Ip("127.0.0.1"), kPeerPort); },
         "DEBUG   - CUDPSocket::Write: Target[IP:127.0.0.1 Port:40000] Size:65508 bytes\r\n"
         "WARNING - CUDPSocket::SocketWrite: Exception: Error:0x0000005a Target[IP:127.0.0.1 "
         "Port:40000]\r\n"
         "WARNING - CUDPSocket::Write: SocketWrite: Error:0x0000005a \r\n"},
        {"message longer than a datagram", true,
         [&](CUDPSocket& e) {
             CMsg msg;
             msg.address = Ip("127.0.0.1");
             msg.data = tooLong;
             return e.Write(&msg);
         },
         "WARNING - CUDPSocket::SocketWrite: Exception: Error:0x0000005a Target[IP:127.0.0.1 "
         "Port:40000]\r\n"
         "WARNING - CUDPSocket::Write: SocketWrite: Error:0x0000005a len:65508 bytes "
         "IP:0x0100007f Port:40000\r\n"},
        {"no route to the address", true,
         [](CUDPSocket& e) { return e.Write({1}, Ip("198.18.77.1"), kPeerPort); },
         "DEBUG   - CUDPSocket::Write: Target[IP:198.18.77.1 Port:40000] Size:1 bytes\r\n"
         "WARNING - CUDPSocket::SocketWrite: Exception: Error:0x00000065 Target[IP:198.18.77.1 "
         "Port:40000]\r\n"
         "WARNING - CUDPSocket::Write: SocketWrite: Error:0x00000065 \r\n"},
        {"port beyond 16 bits", true,
         [](CUDPSocket& e) { return e.Write({1}, Ip("127.0.0.1"), 65536 + kPeerPort); },
         "DEBUG   - CUDPSocket::Write: Target[IP:127.0.0.1 Port:105536] Size:1 bytes\r\n"
         "WARNING - CUDPSocket::SocketWrite: Exception: Error:0x00000016 Target[IP:127.0.0.1 "
         "Port:105536]\r\n"
         "WARNING - CUDPSocket::Write: SocketWrite: Error:0x00000016 \r\n"},
    };
    test::LogCapture log;
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CUDPSocket endpoint;
        if (row.open) {
            ASSERT_TRUE(endpoint.Open(Ip("127.0.0.1"), 0, kPeerPort, 0));
        }
        const size_t logged = log.Text().size();
        EXPECT_FALSE(row.write(endpoint));
        // Only the lines of the write itself, not the endpoint's own Open and Close lines.
        const std::string lines =
            LinesOf(log.Text().substr(logged), "CUDPSocket::Write", "CUDPSocket::SocketWrite");
        EXPECT_EQ(lines, row.lines);
        test::Received got;
        EXPECT_FALSE(peer.Receive(&got, 0)) << "nothing may leave";
    }
}

TEST_F(UdpLab, ReadReturnsOneDatagramWithItsSenderAndBoundsItsTimeOut) {
    test::LogCapture log;
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    CUDPSocket endpoint;
    ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));

    // The longest time-out allowed: the waiting datagram comes back.
    ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {'a', 'b', 'c'}));
    std::unique_ptr<CMsg> msg = endpoint.Read(CUDPSocket::kMaxReadTimeoutMs);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->data, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(msg->address, Ip("127.0.0.1"));
    EXPECT_EQ(msg->port, kPort) << "the endpoint's own port, not the sender's";
    EXPECT_EQ(endpoint.GetLastSender(), Ip("127.0.0.1"));

    // One more is refused at once, although a datagram waits; the datagram stays for the next
    // read.
    ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {'x'}));
    ASSERT_TRUE(WaitFor([&] { return endpoint.GetReceiveBufferBytes() > 0; }));
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(endpoint.Read(CUDPSocket::kMaxReadTimeoutMs + 1), nullptr);
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
    EXPECT_EQ(CountOf(log.Text(), "ERROR   - CUDPSocket::Read: nTimeout is too large(got:10001 ms "
                                  "max:10000 ms)\n"),
              1u)
        << log.Text();
    msg = endpoint.Read(1000);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->data, std::vector<uint8_t>{'x'});

    // Nothing waiting: null once the time-out has passed, and only then.
    const Clock::time_point quiet = Clock::now();
    EXPECT_EQ(endpoint.Read(150), nullptr);
    EXPECT_GE(Clock::now() - quiet, milliseconds(140));
    EXPECT_EQ(endpoint.Read(0), nullptr);
}

TEST_F(UdpLab, DatagramsThatDoNotFitAreDroppedWholeAndTheNextOneArrives) {
    struct Row {
        const char* name;
        size_t size;
        bool delivered;
    };
    const Row rows[] = {
        {"exactly the buffer", CUDPSocket::kMaxDatagramBytes, true},
        {"one byte more than the buffer", CUDPSocket::kMaxDatagramBytes + 1, false},
        {"largest UDP datagram", 65507, false},
        {"empty datagram", 0, false},
    };
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    CUDPSocket endpoint;
    ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> big(row.size);
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<uint8_t>(i * 7);
        ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, big));
        ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {0x42, 0x43}));
        std::unique_ptr<CMsg> first = endpoint.Read(1000);
        if (row.delivered) {
            ASSERT_NE(first, nullptr);
            EXPECT_EQ(first->data, big);
            first = endpoint.Read(1000);
        } else {
            EXPECT_EQ(first, nullptr);
            first = endpoint.Read(1000);
        }
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->data, (std::vector<uint8_t>{0x42, 0x43}));
    }
}

TEST_F(UdpLab, CloseWakesABlockedReadAtOnce) {
    struct Row {
        const char* name;
        bool worker; // blocked in the worker's pass rather than in a direct Read
    };
    for (const Row row : {Row{"direct read", false}, Row{"worker's pass", true}}) {
        SCOPED_TRACE(row.name);
        CMsgQueue queue;
        CUDPSocket endpoint;
        ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
        std::atomic<bool> returned{false};
        std::thread reader;
        if (row.worker) {
            ASSERT_TRUE(endpoint.StartReceiving(&queue, 10, false, CUDPSocket::kMaxReadTimeoutMs));
        } else {
            reader = std::thread([&] {
                EXPECT_EQ(endpoint.Read(CUDPSocket::kMaxReadTimeoutMs), nullptr);
                returned = true;
            });
        }
        std::this_thread::sleep_for(milliseconds(200)); // let it block
        const Clock::time_point start = Clock::now();
        endpoint.Close();
        if (reader.joinable())
            reader.join();
        // Not a speed goal: without the wake-up this takes the whole 10 s read time-out.
        EXPECT_LT(Clock::now() - start, milliseconds(3000));
        EXPECT_FALSE(endpoint.IsOpen());
        EXPECT_FALSE(endpoint.IsRunning());
        EXPECT_EQ(returned.load(), !row.worker);
        EXPECT_EQ(endpoint.Read(0), nullptr);
    }
}

TEST_F(UdpLab, WorkerDeliversEveryDatagramIntoTheQueue) {
    struct Row {
        const char* name;
        bool signal;
        int32_t tag;
    };
    const Row rows[] = {
        {"signalled, no tag", true, 0},
        {"not signalled, tagged", false, 7},
    };
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CMsgQueue queue;
        CUDPSocket endpoint;
        endpoint.SetTag(row.tag);
        ASSERT_TRUE(endpoint.Open(CUDPSocket::kBroadcastAddress, kPort, 0, 0));
        ASSERT_TRUE(endpoint.StartReceiving(&queue, 10, row.signal, 100));
        EXPECT_EQ(endpoint.GetName(), "UDPSocket");
        EXPECT_EQ(endpoint.GetReadTimeoutMs(), 100u);
        for (uint8_t i = 0; i < 40; ++i) // more than one pass takes
            ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {i, 0xEE}));
        const auto taken = Take(queue, 40);
        ASSERT_EQ(taken.size(), 40u);
        for (uint8_t i = 0; i < 40; ++i) {
            EXPECT_EQ(taken[i]->data, (std::vector<uint8_t>{i, 0xEE}));
            EXPECT_EQ(taken[i]->address, Ip("127.0.0.1"));
            EXPECT_EQ(taken[i]->port, kPort);
            EXPECT_EQ(taken[i]->tag, row.tag);
        }
        EXPECT_EQ(queue.GetEvent().Wait(0) == platform::WaitResult::First, row.signal);
        endpoint.Close();
    }
}

TEST_F(UdpLab, StartReceivingOnARunningWorkerSwitchesItsQueue) {
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    CMsgQueue first;
    CMsgQueue second;
    CUDPSocket endpoint;
    ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
    ASSERT_TRUE(endpoint.StartReceiving(&first, 10, false, 100));
    EXPECT_FALSE(endpoint.StartReceiving(&second, 10, true, 50));
    EXPECT_EQ(endpoint.GetReadTimeoutMs(), 50u);
    // The pass under way may still hold the first queue, for as long as the machine lets that
    // thread wait: datagrams go out one by one until one reaches the second queue; from then on
    // the first gets nothing more.
    std::unique_ptr<CMsg> switched;
    for (uint8_t i = 0; i < 100 && switched == nullptr; ++i) {
        ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {i}));
        ASSERT_TRUE(WaitFor([&] { return first.Pop() != nullptr || (switched = second.Pop()); }));
    }
    ASSERT_NE(switched, nullptr) << "the worker never took the second queue";
    EXPECT_EQ(second.GetEvent().Wait(0), platform::WaitResult::First);
    ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {0xFF}));
    const auto taken = Take(second, 1);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0]->data, std::vector<uint8_t>{0xFF});
    EXPECT_EQ(first.Pop(), nullptr);
}

// Counts what reaches Deliver, so that a message deleted there is seen to have been read.
class CountingEndpoint : public CUDPSocket {
  public:
    ~CountingEndpoint() override { StopReceiving(); }
    void Deliver(std::unique_ptr<CMsg> msg) override {
        ++delivered;
        CUDPSocket::Deliver(std::move(msg));
    }
    std::atomic<int> delivered{0};
};

TEST_F(UdpLab, PassRunningWhenStopIsRequestedDeletesWhatItReads) {
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    CMsgQueue queue;
    CountingEndpoint endpoint;
    ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
    // Long reads, so that the pass is still waiting in its next read when the stop comes.
    ASSERT_TRUE(endpoint.StartReceiving(&queue, 10, false, 1500));
    ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {1}));
    ASSERT_EQ(Take(queue, 1).size(), 1u);

    std::thread stopper([&] { endpoint.StopReceiving(); });
    ASSERT_TRUE(WaitFor([&] { return endpoint.IsStopRequested(); }));
    ASSERT_TRUE(peer.SendTo("127.0.0.1", kPort, {2}));
    stopper.join();
    EXPECT_EQ(endpoint.delivered.load(), 2) << "the second datagram was read by the running pass";
    EXPECT_EQ(queue.Pop(), nullptr) << "and deleted, not queued";
    EXPECT_FALSE(endpoint.IsRunning());
}

TEST_F(UdpLab, WritesFromSeveralThreadsRaceCloseSafely) {
    constexpr int kWriters = 2;
    constexpr int kPerWriter = 200;
    test::UdpTestPeer peer("127.0.0.1", kPeerPort);
    CMsgQueue queue;
    CUDPSocket endpoint;
    ASSERT_TRUE(endpoint.Open(0, kPort, 0, 0));
    ASSERT_TRUE(endpoint.StartReceiving(&queue, 10, false, 100));
    std::atomic<int> accepted{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < kPerWriter; ++i) {
                if (endpoint.Write({static_cast<uint8_t>(w), static_cast<uint8_t>(i)},
                                   Ip("127.0.0.1"), kPeerPort))
                    ++accepted;
                if (i % 16 == 0)
                    std::this_thread::sleep_for(milliseconds(1));
            }
        });
    std::this_thread::sleep_for(milliseconds(5));
    endpoint.Close();
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_FALSE(endpoint.Write({1}, Ip("127.0.0.1"), kPeerPort));
    // A write that said true sent its datagram; one that said false sent nothing.
    EXPECT_EQ(static_cast<int>(peer.ReceiveAll(300).size()), accepted.load());
}

} // namespace
} // namespace qarn
