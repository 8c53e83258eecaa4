// Receive path of the UDP endpoint under a burst: 5,000 datagrams of 88 bytes (the size of a
// configuration answer) sent as fast as one sender can to an endpoint that runs its receive worker
// with the application's settings (10 ms between passes, 100 ms per read, queue not signalled).
// Reports how many arrive in the queue, how long after the first send the last one arrived, the
// socket's receive buffer size and the datagrams the system dropped for a full receive buffer.
//
// Run as root (it needs a network namespace of its own):
//     cmake -S . -B build -G Ninja -DQARN_WITH_QT=OFF -DQARN_BUILD_BENCH=ON
//     cmake --build build --target udp_receive
//     sudo build/bench/udp_receive [rounds, default 5] [datagrams, default 5000]
//
// Before anything else it moves itself into a fresh, empty network namespace (unshare) and sends
// only on that namespace's loopback: the machine's own network is never touched. Goal: every
// datagram of the burst arrives.

#include "net/CMsgQueue.h"
#include "net/CUDPSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPort = 58009;
constexpr size_t kDatagramBytes = 88;
// The application's receive settings.
constexpr uint32_t kWaitMs = 10;
constexpr uint32_t kReadTimeoutMs = 100;
// The burst is over when nothing more arrived for this long.
constexpr auto kQuiet = std::chrono::milliseconds(1000);

std::string NamespaceId(const char* path) {
    char target[128];
    const ssize_t size = readlink(path, target, sizeof target - 1);
    return size > 0 ? std::string(target, static_cast<size_t>(size)) : std::string();
}

// A fresh network namespace with only lo, up. False with a message when that is not possible.
bool EnterOwnNamespace() {
    const std::string machine = NamespaceId("/proc/self/ns/net");
    if (unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "unshare(CLONE_NEWNET): %s; run as root\n", std::strerror(errno));
        return false;
    }
    if (machine.empty() || NamespaceId("/proc/self/ns/net") == machine) {
        std::fprintf(stderr, "the new network namespace cannot be told apart\n");
        return false;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP),
                     ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        close(fd);
    if (!up)
        std::fprintf(stderr, "bringing lo up: %s\n", std::strerror(errno));
    return up;
}

// UDP datagrams the namespace dropped because a receive buffer was full (since it was made).
long ReceiveBufferErrors() {
    std::ifstream snmp("/proc/net/snmp");
    std::string header;
    std::string values;
    while (std::getline(snmp, header) && std::getline(snmp, values)) {
        if (header.rfind("Udp:", 0) != 0)
            continue;
        std::istringstream names(header);
        std::istringstream numbers(values);
        std::string name;
        std::string number;
        while (names >> name && numbers >> number)
            if (name == "RcvbufErrors")
                return std::atol(number.c_str());
    }
    return -1;
}

struct Outcome {
    int arrived = 0;
    double lastArrivalMs = 0;
    double sendMs = 0;
    int32_t receiveBuffer = 0;
    long dropped = 0;
};

Outcome RunBurst(int datagrams) {
    Outcome outcome;
    qarn::CMsgQueue queue;
    qarn::CUDPSocket endpoint;
    if (!endpoint.Open(qarn::CUDPSocket::kBroadcastAddress, kPort, 0, 0)) {
        std::fprintf(stderr, "cannot open the endpoint\n");
        return outcome;
    }
    outcome.receiveBuffer = endpoint.GetReceiveBufferBytes();
    endpoint.StartReceiving(&queue, kWaitMs, false, kReadTimeoutMs);

    const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(kPort);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<uint8_t> payload(kDatagramBytes, 0x5A);
    const long droppedBefore = ReceiveBufferErrors();

    const Clock::time_point start = Clock::now();
    for (int i = 0; i < datagrams; ++i) {
        payload[0] = static_cast<uint8_t>(i);
        payload[1] = static_cast<uint8_t>(i >> 8);
        (void)sendto(sender, payload.data(), payload.size(), 0,
                     reinterpret_cast<const sockaddr*>(&target), sizeof target);
    }
    outcome.sendMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

    // The consumer side: take what arrives and note when the last one did.
    Clock::time_point last = start;
    for (;;) {
        bool any = false;
        while (auto msg = queue.Pop()) {
            any = true;
            ++outcome.arrived;
        }
        const Clock::time_point now = Clock::now();
        if (any)
            last = now;
        if (outcome.arrived >= datagrams || now - last > kQuiet)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    outcome.lastArrivalMs = std::chrono::duration<double, std::milli>(last - start).count();
    outcome.dropped = ReceiveBufferErrors() - droppedBefore;
    close(sender);
    endpoint.Close();
    return outcome;
}

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? T{} : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int datagrams = argc > 2 ? std::atoi(argv[2]) : 5000;
    if (rounds <= 0 || datagrams <= 0 || datagrams > 65535) {
        std::fprintf(stderr, "usage: %s [rounds] [datagrams, at most 65535]\n", argv[0]);
        return 2;
    }
    if (!EnterOwnNamespace())
        return 1;

    std::printf("%d datagrams of %zu bytes per round, wait %u ms, read time-out %u ms\n", datagrams,
                kDatagramBytes, kWaitMs, kReadTimeoutMs);
    std::vector<int> arrived;
    std::vector<double> lastMs;
    bool complete = true;
    for (int round = 0; round < rounds; ++round) {
        const Outcome outcome = RunBurst(datagrams);
        std::printf("round %d: %5d arrived, last after %8.1f ms (sent in %6.1f ms), receive buffer "
                    "%d bytes, dropped by the system %ld\n",
                    round + 1, outcome.arrived, outcome.lastArrivalMs, outcome.sendMs,
                    outcome.receiveBuffer, outcome.dropped);
        arrived.push_back(outcome.arrived);
        lastMs.push_back(outcome.lastArrivalMs);
        complete = complete && outcome.arrived == datagrams;
    }
    std::printf("median: %d of %d arrived, last after %.1f ms\n", Median(arrived), datagrams,
                Median(lastMs));
    return complete ? 0 : 1;
}
