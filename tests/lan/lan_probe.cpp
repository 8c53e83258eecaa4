// qarn_lan_probe: the network checks of the simulated LAN's own tests, run inside its namespaces
// through "testlan exec" (tool side) or "testlan lan-exec" (converter side).
//
//   qarn_lan_probe echo FIRST COUNT [TIMEOUT_MS]
//       ICMP echo to COUNT addresses from FIRST upward, repeated each second for those still
//       silent, until all answered or TIMEOUT_MS (default 10000) passed. Prints each address that
//       never answered on a line of its own; exit 0 when all answered, 1 otherwise.
//       "echo 198.18.1.1 3" pings 198.18.1.1, 198.18.1.2 and 198.18.1.3.
//   qarn_lan_probe listen PORT MILLISECONDS [COUNT]
//       Counts the UDP datagrams arriving on PORT by the destination address they carried, until
//       the time is up or COUNT arrived. Prints "ready" once bound, then "ADDRESS COUNT" lines.
//   qarn_lan_probe send ADDRESS PORT COUNT [SOURCE_PORT]
//       Sends COUNT small datagrams (broadcast allowed), 100 us apart so that the receiving side's
//       backlog never overflows and every loss is the one a test asked for; from SOURCE_PORT when
//       given (a converter answers from 58009).
//
// Exit 2: wrong arguments, a system call failed, or the program runs in the machine's own
// network namespace (it then sends nothing) or was asked to send outside 198.18.0.0/15.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qarn {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kExitUsage = 2;
// The kernel's first network namespace always has this inode number.
constexpr ino_t kInitNetNamespaceInode = 4026531833U;

// Host-order IPv4 address from dotted text: "198.18.1.1" -> 0xC6120101.
bool ParseAddress(const char* text, std::uint32_t& address) {
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1) {
        return false;
    }
    address = ntohl(a.s_addr);
    return true;
}

std::string AddressText(std::uint32_t hostOrder) {
    in_addr a{htonl(hostOrder)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool ParseNumber(const char* text, long low, long high, long& number) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) {
        return false;
    }
    number = value;
    return true;
}

// Only the benchmark range 198.18.0.0/15 and the limited broadcast: nothing this program sends
// could reach a real network even if it escaped the namespace.
bool AllowedDestination(std::uint32_t hostOrder) {
    return (hostOrder & 0xFFFE0000U) == 0xC6120000U || hostOrder == 0xFFFFFFFFU;
}

// The check every sending command makes first: never in the machine's own network namespace.
bool InOwnNamespace() {
    struct stat self {};
    if (stat("/proc/self/ns/net", &self) != 0) {
        std::perror("qarn_lan_probe: /proc/self/ns/net");
        return false;
    }
    if (self.st_ino == kInitNetNamespaceInode) {
        return false;
    }
    struct stat init {};
    if (stat("/proc/1/ns/net", &init) == 0 && init.st_ino == self.st_ino &&
        init.st_dev == self.st_dev) {
        return false;
    }
    return true;
}

bool RefuseToSend() {
    if (!InOwnNamespace()) {
        std::fprintf(stderr, "qarn_lan_probe: refusing to send from the machine's own network "
                             "namespace; run it through testlan exec\n");
        return true;
    }
    return false;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_fd; }

  private:
    int m_fd;
};

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    }
    if (size % 2 != 0) {
        sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    }
    while (sum >> 16 != 0) {
        sum = (sum & 0xFFFFU) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

// Echo to a run of consecutive addresses with one socket: an ICMP datagram socket where the
// namespace allows it (testlan allows it for every group), else a raw one.
class CEchoSweep {
  public:
    CEchoSweep(std::uint32_t first, std::uint32_t count)
        : m_first(first), m_answered(count, false), m_silent(count) {}

    bool Open() {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (m_fd < 0) {
            m_raw = true;
            m_fd = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        }
        if (m_fd < 0) {
            std::perror("qarn_lan_probe: ICMP socket");
            return false;
        }
        m_socket.emplace(m_fd);
        const int buffer = 4 << 20;
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        return true;
    }

    void Run(milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (m_silent > 0 && Clock::now() < deadline) {
            const auto roundEnd = std::min(deadline, Clock::now() + milliseconds(1000));
            SendRound(roundEnd);
            while (m_silent > 0 && Clock::now() < roundEnd) {
                Receive(std::chrono::duration_cast<milliseconds>(roundEnd - Clock::now()));
            }
        }
    }

    std::vector<std::uint32_t> Silent() const {
        std::vector<std::uint32_t> silent;
        for (std::size_t i = 0; i < m_answered.size(); ++i) {
            if (!m_answered[i]) {
                silent.push_back(m_first + static_cast<std::uint32_t>(i));
            }
        }
        return silent;
    }

  private:
    // type 8, code 0, checksum, identifier, sequence = index of the address, 8 bytes of payload
    std::vector<std::uint8_t> Request(std::uint16_t sequence) const {
        std::vector<std::uint8_t> packet{8, 0, 0, 0};
        const auto id = static_cast<std::uint16_t>(getpid());
        for (const std::uint16_t field : {id, sequence}) {
            packet.push_back(static_cast<std::uint8_t>(field >> 8));
            packet.push_back(static_cast<std::uint8_t>(field & 0xFF));
        }
        for (const char c : std::string("qarnlan!")) {
            packet.push_back(static_cast<std::uint8_t>(c));
        }
        const std::uint16_t sum = InternetChecksum(packet.data(), packet.size());
        packet[2] = static_cast<std::uint8_t>(sum >> 8);
        packet[3] = static_cast<std::uint8_t>(sum & 0xFF);
        return packet;
    }

    void SendRound(Clock::time_point roundEnd) {
        for (std::size_t i = 0; i < m_answered.size() && Clock::now() < roundEnd; ++i) {
            if (m_answered[i]) {
                continue;
            }
            const auto packet = Request(static_cast<std::uint16_t>(i));
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(m_first + static_cast<std::uint32_t>(i));
            // A full send buffer (a thousand requests waiting for ARP) drains as replies come.
            while (sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                          sizeof to) < 0 &&
                   (errno == EAGAIN || errno == ENOBUFS) && Clock::now() < roundEnd) {
                Receive(milliseconds(5));
            }
        }
    }

    void Receive(milliseconds wait) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long long>(wait.count(), 0))) <= 0) {
            return;
        }
        std::uint8_t buffer[1500];
        for (;;) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(m_fd, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 0) {
                // An ICMP error queued on the socket (an address nobody holds) is not a reply.
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    return;
                }
                continue;
            }
            HandleReply(buffer, static_cast<std::size_t>(n), ntohl(from.sin_addr.s_addr));
        }
    }

    void HandleReply(const std::uint8_t* data, std::size_t size, std::uint32_t source) {
        if (m_raw) {
            const std::size_t header = size > 0 ? std::size_t{(data[0] & 0x0FU) * 4U} : 0;
            if (size < header + 8 || data[header + 4] != static_cast<std::uint8_t>(getpid() >> 8) ||
                data[header + 5] != static_cast<std::uint8_t>(getpid() & 0xFF)) {
                return;
            }
            data += header;
            size -= header;
        }
        if (size < 8 || data[0] != 0) {
            return; // not an echo reply
        }
        const std::size_t index = static_cast<std::size_t>(data[6] << 8 | data[7]);
        if (index < m_answered.size() && !m_answered[index] &&
            source == m_first + static_cast<std::uint32_t>(index)) {
            m_answered[index] = true;
            --m_silent;
        }
    }

    std::uint32_t m_first;
    std::vector<bool> m_answered;
    std::size_t m_silent;
    int m_fd = -1;
    bool m_raw = false;
    std::optional<Descriptor> m_socket;
};

int Echo(int argc, char** argv) {
    std::uint32_t first = 0;
    long count = 0;
    long timeout = 10000;
    if (argc < 4 || argc > 5 || !ParseAddress(argv[2], first) ||
        !ParseNumber(argv[3], 1, 65535, count) ||
        (argc == 5 && !ParseNumber(argv[4], 1, 600000, timeout))) {
        std::fprintf(stderr, "usage: qarn_lan_probe echo FIRST COUNT [TIMEOUT_MS]\n");
        return kExitUsage;
    }
    const std::uint32_t last = first + static_cast<std::uint32_t>(count - 1);
    if (last < first || !AllowedDestination(first) || !AllowedDestination(last)) {
        std::fprintf(stderr, "qarn_lan_probe: echo only within 198.18.0.0/15\n");
        return kExitUsage;
    }
    if (RefuseToSend()) {
        return kExitUsage;
    }
    CEchoSweep sweep(first, static_cast<std::uint32_t>(count));
    if (!sweep.Open()) {
        return kExitUsage;
    }
    const auto start = Clock::now();
    sweep.Run(milliseconds(timeout));
    const auto silent = sweep.Silent();
    for (const std::uint32_t address : silent) {
        std::printf("%s\n", AddressText(address).c_str());
    }
    std::fprintf(stderr, "qarn_lan_probe: %ld of %ld answered in %lld ms\n",
                 count - static_cast<long>(silent.size()), count,
                 static_cast<long long>(
                     std::chrono::duration_cast<milliseconds>(Clock::now() - start).count()));
    return silent.empty() ? 0 : 1;
}

// Destination address of a received datagram (the header's, e.g. 255.255.255.255), from the
// IP_PKTINFO control message.
std::optional<std::uint32_t> Destination(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            return ntohl(info.ipi_addr.s_addr);
        }
    }
    return std::nullopt;
}

int OpenListener(long port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(static_cast<std::uint16_t>(port));
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        std::perror("qarn_lan_probe: listen");
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

int Listen(int argc, char** argv) {
    long port = 0;
    long time = 0;
    long wanted = 0; // 0: until the time is up
    if (argc < 4 || argc > 5 || !ParseNumber(argv[2], 1, 65535, port) ||
        !ParseNumber(argv[3], 1, 600000, time) ||
        (argc == 5 && !ParseNumber(argv[4], 1, 1000000, wanted))) {
        std::fprintf(stderr, "usage: qarn_lan_probe listen PORT MILLISECONDS [COUNT]\n");
        return kExitUsage;
    }
    const Descriptor socket(OpenListener(port));
    if (socket.Get() < 0) {
        return kExitUsage;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::map<std::uint32_t, long> byDestination;
    long total = 0;
    const auto deadline = Clock::now() + milliseconds(time);
    while ((wanted == 0 || total < wanted) && Clock::now() < deadline) {
        pollfd p{socket.Get(), POLLIN, 0};
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) {
            continue;
        }
        std::uint8_t payload[2048];
        alignas(cmsghdr) std::uint8_t control[256];
        iovec io{payload, sizeof payload};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (recvmsg(socket.Get(), &message, 0) >= 0) {
            ++byDestination[Destination(message).value_or(0)];
            ++total;
        }
    }
    for (const auto& [destination, count] : byDestination) {
        std::printf("%s %ld\n", AddressText(destination).c_str(), count);
    }
    return 0;
}

bool BindSource(int fd, long port) {
    const int on = 1;
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_port = htons(static_cast<std::uint16_t>(port));
    source.sin_addr.s_addr = htonl(INADDR_ANY);
    return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
           bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0;
}

int Send(int argc, char** argv) {
    std::uint32_t to = 0;
    long port = 0;
    long count = 0;
    long source = 0; // 0: any
    if (argc < 5 || argc > 6 || !ParseAddress(argv[2], to) ||
        !ParseNumber(argv[3], 1, 65535, port) || !ParseNumber(argv[4], 1, 1000000, count) ||
        (argc == 6 && !ParseNumber(argv[5], 1, 65535, source))) {
        std::fprintf(stderr, "usage: qarn_lan_probe send ADDRESS PORT COUNT [SOURCE_PORT]\n");
        return kExitUsage;
    }
    if (!AllowedDestination(to)) {
        std::fprintf(stderr, "qarn_lan_probe: send only within 198.18.0.0/15 or to "
                             "255.255.255.255\n");
        return kExitUsage;
    }
    if (RefuseToSend()) {
        return kExitUsage;
    }
    const Descriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (socket.Get() < 0 || setsockopt(socket.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) ||
        (source != 0 && !BindSource(socket.Get(), source))) {
        std::perror("qarn_lan_probe: send socket");
        return kExitUsage;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(to);
    const char payload[] = "qarn-lan-probe";
    for (long i = 0; i < count; ++i) {
        if (sendto(socket.Get(), payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&address),
                   sizeof address) < 0) {
            std::perror("qarn_lan_probe: sendto");
            return kExitUsage;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return 0;
}

} // namespace
} // namespace qarn

int main(int argc, char** argv) {
    const std::string command = argc >= 2 ? argv[1] : "";
    if (command == "echo") {
        return qarn::Echo(argc, argv);
    }
    if (command == "listen") {
        return qarn::Listen(argc, argv);
    }
    if (command == "send") {
        return qarn::Send(argc, argv);
    }
    std::fprintf(stderr, "usage: qarn_lan_probe echo|listen|send ...\n");
    return qarn::kExitUsage;
}
