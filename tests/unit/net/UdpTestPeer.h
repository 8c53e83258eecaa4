#pragma once

// The other side of an endpoint under test: a plain UDP socket that sends datagrams from a port
// of its choice and records what it receives (bytes, sender, and the destination address the
// datagram carried, so that a limited broadcast is told apart from a directed one). It may be
// made inside another network namespace (a socket stays in the namespace it was made in).

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::test {

// "192.168.0.1" -> 0x0100A8C0
inline uint32_t Ip(const char* text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    return address.s_addr;
}

inline std::string IpText(uint32_t address) {
    in_addr in{};
    in.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

struct Received {
    std::vector<uint8_t> bytes;
    uint32_t from = 0; // network order
    int fromPort = 0;  // host order
    uint32_t to = 0;   // destination address of the datagram, network order
};

class UdpTestPeer {
  public:
    // Bound to address:port (port 0: the system picks one); with `netns` the socket is made in
    // the named namespace ("ip netns" name).
    UdpTestPeer(const char* address, int port, const std::string& netns = std::string()) {
        int home = -1;
        if (!netns.empty()) {
            home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
            const int target = open(("/run/netns/" + netns).c_str(), O_RDONLY | O_CLOEXEC);
            const bool entered = home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
            if (target >= 0)
                close(target);
            if (!entered) {
                ADD_FAILURE() << "cannot enter " << netns << ": " << std::strerror(errno);
                if (home >= 0)
                    close(home);
                return;
            }
        }
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (home >= 0) {
            EXPECT_EQ(setns(home, CLONE_NEWNET), 0) << std::strerror(errno);
            close(home);
        }
        const int one = 1;
        const int big = 1 << 20;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
        sockaddr_in local = Address(Ip(address), port);
        EXPECT_EQ(bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0)
            << address << ":" << port << ": " << std::strerror(errno);
        socklen_t size = sizeof local;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &size);
        m_port = ntohs(local.sin_port);
    }
    ~UdpTestPeer() {
        if (m_fd >= 0)
            close(m_fd);
    }
    UdpTestPeer(const UdpTestPeer&) = delete;
    UdpTestPeer& operator=(const UdpTestPeer&) = delete;

    int Port() const { return m_port; }

    bool SendTo(const char* address, int port, const std::vector<uint8_t>& bytes) const {
        const sockaddr_in target = Address(Ip(address), port);
        return sendto(m_fd, bytes.data(), bytes.size(), 0,
                      reinterpret_cast<const sockaddr*>(&target),
                      sizeof target) == static_cast<ssize_t>(bytes.size());
    }

    // The next datagram within `timeoutMs`; false when none came.
    bool Receive(Received* out, int timeoutMs) const {
        pollfd watch{m_fd, POLLIN, 0};
        if (poll(&watch, 1, timeoutMs) != 1)
            return false;
        std::vector<uint8_t> buffer(65536);
        sockaddr_in source{};
        iovec part{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr header{};
        header.msg_name = &source;
        header.msg_namelen = sizeof source;
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t size = recvmsg(m_fd, &header, 0);
        if (size < 0)
            return false;
        buffer.resize(static_cast<size_t>(size));
        out->bytes = buffer;
        out->from = source.sin_addr.s_addr;
        out->fromPort = ntohs(source.sin_port);
        out->to = 0;
        for (cmsghdr* item = CMSG_FIRSTHDR(&header); item != nullptr;
             item = CMSG_NXTHDR(&header, item)) {
            if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(item), sizeof info);
                out->to = info.ipi_addr.s_addr;
            }
        }
        return true;
    }

    // Everything that arrives until nothing more came for `quietMs`.
    std::vector<Received> ReceiveAll(int quietMs) const {
        std::vector<Received> all;
        Received one;
        while (Receive(&one, quietMs))
            all.push_back(one);
        return all;
    }

  private:
    static sockaddr_in Address(uint32_t address, int port) {
        sockaddr_in result{};
        result.sin_family = AF_INET;
        result.sin_addr.s_addr = address;
        result.sin_port = htons(static_cast<uint16_t>(port));
        return result;
    }

    int m_fd = -1;
    int m_port = 0;
};

} // namespace qarn::test
