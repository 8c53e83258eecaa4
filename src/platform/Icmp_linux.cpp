#include "platform/Icmp.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qarn::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kIcmpHeaderSize = 8; // type, code, checksum, identifier, sequence number
constexpr size_t kIpHeaderMinSize = 20;
constexpr size_t kReceiveSize = 2048; // an answer's headers; anything longer is cut off unread
constexpr uint8_t kProtocolIcmp = 1;

std::atomic<uint32_t> g_requestCount{0};

uint16_t ReadBe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void PutBe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value & 0xFF);
}

// The internet checksum: the one's complement of the one's-complement sum of 16-bit words. Over a
// message that carries a correct checksum it gives 0.
uint16_t InternetChecksum(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += ReadBe16(data + i);
    if (size % 2 != 0)
        sum += static_cast<uint32_t>(data[size - 1]) << 8;
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

// Identifier for a raw-socket request: spread by the process id so that two programs pinging at
// once are unlikely to pick the same one, and unique within the process for 65536 requests in a
// row, far more than can be waiting at once.
uint16_t RawIdentifier(uint32_t requestNumber) {
    const uint32_t salt = static_cast<uint32_t>(getpid()) * 2654435761u;
    return static_cast<uint16_t>((salt >> 16) + requestNumber);
}

int RemainingMs(Clock::time_point now, Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

sockaddr_in SocketAddress(uint32_t address) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    return to;
}

// The 4 bytes of an address field in a header as the network-order integer the callers hold.
uint32_t ReadAddress(const uint8_t* p) {
    uint32_t address = 0;
    std::memcpy(&address, p, sizeof address);
    return address;
}

// True when `quote`, the part of an offending datagram that an ICMP error carries, is our echo
// request: IP header to `address` with protocol ICMP, then type 8 with our identifier and sequence.
bool QuotesRequest(const uint8_t* quote, size_t size, uint32_t address, uint16_t id,
                   uint16_t sequence) {
    if (size < kIpHeaderMinSize)
        return false;
    const size_t ipSize = static_cast<size_t>(quote[0] & 0x0F) * 4;
    if (ipSize < kIpHeaderMinSize || size < ipSize + kIcmpHeaderSize)
        return false;
    const uint8_t* icmp = quote + ipSize;
    return quote[9] == kProtocolIcmp && ReadAddress(quote + 16) == address &&
           icmp[0] == ICMP_ECHO && ReadBe16(icmp + 4) == id && ReadBe16(icmp + 6) == sequence;
}

} // namespace

uint32_t IcmpErrorStatus(uint8_t type, uint8_t code) {
    switch (type) {
    case ICMP_DEST_UNREACH:
        switch (code) {
        case ICMP_NET_UNREACH:
        case ICMP_NET_UNKNOWN:
        case ICMP_NET_ANO:
        case ICMP_NET_UNR_TOS:
            return kIpDestNetUnreachable;
        case ICMP_HOST_UNREACH:
        case ICMP_HOST_UNKNOWN:
        case ICMP_HOST_ANO:
        case ICMP_HOST_UNR_TOS:
        case ICMP_PKT_FILTERED:
            return kIpDestHostUnreachable;
        case ICMP_PROT_UNREACH:
            return kIpDestProtUnreachable;
        case ICMP_PORT_UNREACH:
            return kIpDestPortUnreachable;
        case ICMP_FRAG_NEEDED:
            return kIpPacketTooBig;
        case ICMP_SR_FAILED:
            return kIpBadRoute;
        default:
            return kIpGeneralFailure;
        }
    case ICMP_TIME_EXCEEDED:
        return code == ICMP_EXC_TTL        ? kIpTtlExpiredTransit
               : code == ICMP_EXC_FRAGTIME ? kIpTtlExpiredReassem
                                           : kIpGeneralFailure;
    case ICMP_PARAMETERPROB:
        return kIpParamProblem;
    case ICMP_SOURCE_QUENCH:
        return kIpSourceQuench;
    default:
        return kIpGeneralFailure;
    }
}

struct IcmpEcho::Request {
    uint32_t address = 0;
    uint16_t id = 0; // raw: ours; datagram: the one the kernel gave the socket (0 until known)
    uint16_t sequence = 0;
    Clock::time_point sent;
};

IcmpEcho::IcmpEcho() {
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd >= 0) {
        // ICMP errors about our requests arrive on the error queue only with this option.
        const int on = 1;
        if (setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof on) == 0)
            return;
        close(m_fd);
    }
    m_fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd < 0) {
        m_openError = errno;
        return;
    }
    m_kind = IcmpSocketKind::Raw;
    // Only the types that can answer an echo request; the filter names the types to drop. Our own
    // echo requests to a local address would otherwise come back too.
    icmp_filter filter{};
    filter.data =
        ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
          (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
    // Without the filter the reads only skip more messages.
    (void)setsockopt(m_fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
}

IcmpEcho::~IcmpEcho() {
    if (m_fd >= 0)
        close(m_fd);
}

bool IcmpEcho::SendEcho(uint32_t address, uint8_t ttl, uint32_t timeoutMs, IcmpEchoReply* reply) {
    if (!IsValid() || reply == nullptr)
        return false;
    const uint32_t number = g_requestCount.fetch_add(1);
    Request request;
    request.address = address;
    request.id = m_kind == IcmpSocketKind::Raw ? RawIdentifier(number) : 0;
    request.sequence = static_cast<uint16_t>(number * 40503u + 1);
    if (!Send(request, ttl))
        return false;
    const Clock::time_point deadline = request.sent + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        pollfd ready{m_fd, POLLIN, 0};
        const int count = poll(&ready, 1, RemainingMs(now, deadline));
        if (count < 0 && errno != EINTR)
            return false;
        if (count <= 0)
            continue;
        ReadOutcome outcome = ReadOutcome::Skipped;
        if (m_kind == IcmpSocketKind::Raw)
            outcome = ReadRaw(request, reply) ? ReadOutcome::Answered : ReadOutcome::Skipped;
        else if ((ready.revents & POLLERR) != 0)
            outcome = ReadDatagramError(request, reply);
        else
            outcome = ReadDatagram(request, reply) ? ReadOutcome::Answered : ReadOutcome::Skipped;
        if (outcome == ReadOutcome::Failed)
            return false;
        if (outcome == ReadOutcome::Answered) {
            const auto took =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - request.sent);
            reply->roundTripMs = static_cast<uint32_t>(took.count());
            return true;
        }
    }
}

bool IcmpEcho::Send(Request& request, uint8_t ttl) {
    // IP_TTL refuses 0; a request that cannot leave the host is not sent at all.
    const int hops = ttl;
    if (setsockopt(m_fd, SOL_IP, IP_TTL, &hops, sizeof hops) != 0)
        return false;
    uint8_t message[kIcmpHeaderSize] = {ICMP_ECHO, 0, 0, 0, 0, 0, 0, 0};
    PutBe16(message + 4, request.id);
    PutBe16(message + 6, request.sequence);
    // A datagram socket fills in identifier and checksum itself.
    if (m_kind == IcmpSocketKind::Raw)
        PutBe16(message + 2, InternetChecksum(message, sizeof message));
    const sockaddr_in to = SocketAddress(request.address);
    request.sent = Clock::now();
    ssize_t sent = -1;
    do {
        sent = sendto(m_fd, message, sizeof message, 0, reinterpret_cast<const sockaddr*>(&to),
                      sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof message))
        return false;
    if (m_kind == IcmpSocketKind::Datagram) {
        sockaddr_in bound{};
        socklen_t size = sizeof bound;
        if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&bound), &size) == 0)
            request.id = ntohs(bound.sin_port);
    }
    return true;
}

bool IcmpEcho::ReadDatagram(const Request& request, IcmpEchoReply* reply) {
    uint8_t message[kReceiveSize];
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const ssize_t size = recvfrom(m_fd, message, sizeof message, MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&from), &fromSize);
    // The kernel delivers only echo replies that carry this socket's identifier, checksum
    // verified; the sequence number tells ours from an earlier request's late reply.
    if (size < static_cast<ssize_t>(kIcmpHeaderSize) || message[0] != ICMP_ECHOREPLY ||
        ReadBe16(message + 6) != request.sequence ||
        (request.id != 0 && ReadBe16(message + 4) != request.id))
        return false;
    reply->address = from.sin_addr.s_addr;
    reply->status = kIpSuccess;
    return true;
}

IcmpEcho::ReadOutcome IcmpEcho::ReadDatagramError(const Request& request, IcmpEchoReply* reply) {
    uint8_t quote[64];
    alignas(cmsghdr) uint8_t control[512];
    sockaddr_in original{};
    iovec part{quote, sizeof quote};
    msghdr message{};
    message.msg_name = &original;
    message.msg_namelen = sizeof original;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = recvmsg(m_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (size < 0) {
        // A pending error without a queued message: collect it so that poll stops reporting it.
        int ignored = 0;
        socklen_t length = sizeof ignored;
        (void)getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &ignored, &length);
        return ReadOutcome::Skipped;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR ||
            c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
            continue;
        sock_extended_err error{};
        std::memcpy(&error, CMSG_DATA(c), sizeof error);
        // The queued data is the request as we sent it; its sequence number says which one.
        const bool ours = static_cast<size_t>(size) >= kIcmpHeaderSize && quote[0] == ICMP_ECHO &&
                          ReadBe16(quote + 6) == request.sequence &&
                          original.sin_addr.s_addr == request.address;
        // A redirect only tells of a better first hop; the request itself went on.
        if (!ours || (error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == ICMP_REDIRECT))
            return ReadOutcome::Skipped;
        if (error.ee_origin != SO_EE_ORIGIN_ICMP)
            return ReadOutcome::Failed; // refused by this host itself: nothing will answer
        sockaddr_in offender{};
        if (c->cmsg_len >= CMSG_LEN(sizeof error + sizeof offender))
            std::memcpy(&offender, CMSG_DATA(c) + sizeof error, sizeof offender);
        reply->address = offender.sin_addr.s_addr;
        reply->status = IcmpErrorStatus(error.ee_type, error.ee_code);
        return ReadOutcome::Answered;
    }
    return ReadOutcome::Skipped;
}

bool IcmpEcho::ReadRaw(const Request& request, IcmpEchoReply* reply) {
    uint8_t packet[kReceiveSize];
    const ssize_t received = recv(m_fd, packet, sizeof packet, MSG_DONTWAIT);
    if (received < static_cast<ssize_t>(kIpHeaderMinSize + kIcmpHeaderSize))
        return false;
    const size_t size = static_cast<size_t>(received);
    const size_t ipSize = static_cast<size_t>(packet[0] & 0x0F) * 4;
    if (ipSize < kIpHeaderMinSize || size < ipSize + kIcmpHeaderSize)
        return false;
    const uint8_t* icmp = packet + ipSize;
    const size_t icmpSize = size - ipSize;
    const uint8_t type = icmp[0];
    if (type == ICMP_ECHOREPLY) {
        // A raw socket sees every echo reply of the machine, also damaged ones.
        if (ReadBe16(icmp + 4) != request.id || ReadBe16(icmp + 6) != request.sequence ||
            InternetChecksum(icmp, icmpSize) != 0)
            return false;
        reply->status = kIpSuccess;
    } else if (type == ICMP_DEST_UNREACH || type == ICMP_SOURCE_QUENCH ||
               type == ICMP_TIME_EXCEEDED || type == ICMP_PARAMETERPROB) {
        if (!QuotesRequest(icmp + kIcmpHeaderSize, icmpSize - kIcmpHeaderSize, request.address,
                           request.id, request.sequence))
            return false;
        reply->status = IcmpErrorStatus(type, icmp[1]);
    } else {
        return false;
    }
    reply->address = ReadAddress(packet + 12);
    return true;
}

IcmpProbeSocket::IcmpProbeSocket(uint8_t ttl) {
    const int hops = ttl;
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
    if (m_fd >= 0) {
        const int on = 1;
        if (setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof on) == 0 &&
            setsockopt(m_fd, SOL_IP, IP_TTL, &hops, sizeof hops) == 0)
            return;
        close(m_fd);
    }
    m_fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
    if (m_fd < 0) {
        m_openError = errno;
        return;
    }
    m_kind = IcmpSocketKind::Raw;
    if (setsockopt(m_fd, SOL_IP, IP_TTL, &hops, sizeof hops) != 0) {
        m_openError = errno;
        close(m_fd);
        m_fd = -1;
        return;
    }
    icmp_filter filter{};
    filter.data =
        ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
          (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
    (void)setsockopt(m_fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    m_identifier = RawIdentifier(g_requestCount.fetch_add(1));
    // Replies to a burst of probes arrive in a burst; the default buffer holds a few hundred.
    const int buffer = 4 << 20;
    (void)setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
}

IcmpProbeSocket::~IcmpProbeSocket() {
    if (m_fd >= 0)
        close(m_fd);
}

ProbeSend IcmpProbeSocket::Send(uint32_t address, uint16_t sequence) {
    if (m_fd < 0)
        return ProbeSend::Refused;
    uint8_t message[kIcmpHeaderSize] = {ICMP_ECHO, 0, 0, 0, 0, 0, 0, 0};
    PutBe16(message + 4, m_identifier);
    PutBe16(message + 6, sequence);
    if (m_kind == IcmpSocketKind::Raw)
        PutBe16(message + 2, InternetChecksum(message, sizeof message));
    const sockaddr_in to = SocketAddress(address);
    ssize_t sent = -1;
    do {
        sent = sendto(m_fd, message, sizeof message, MSG_DONTWAIT,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS))
        return ProbeSend::Busy;
    if (sent != static_cast<ssize_t>(sizeof message))
        return ProbeSend::Refused;
    if (m_kind == IcmpSocketKind::Datagram && m_identifier == 0) {
        sockaddr_in bound{};
        socklen_t size = sizeof bound;
        if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&bound), &size) == 0)
            m_identifier = ntohs(bound.sin_port);
    }
    return ProbeSend::Sent;
}

size_t IcmpProbeSocket::ReadAnswers(std::vector<IcmpAnswer>& out, size_t limit) {
    size_t appended = 0;
    bool more = true;
    // Skipped messages count too, so that a stream of others' traffic cannot hold the caller.
    for (size_t reads = 0; more && appended < limit && reads < 4 * limit + 4; ++reads) {
        IcmpAnswer answer;
        if (ReadOne(&answer, &more)) {
            out.push_back(answer);
            ++appended;
        }
    }
    return appended;
}

bool IcmpProbeSocket::ReadOne(IcmpAnswer* answer, bool* more) {
    if (m_fd < 0) {
        *more = false;
        return false;
    }
    if (m_kind == IcmpSocketKind::Datagram) {
        uint8_t quote[64];
        alignas(cmsghdr) uint8_t control[512];
        sockaddr_in original{};
        iovec part{quote, sizeof quote};
        msghdr message{};
        message.msg_name = &original;
        message.msg_namelen = sizeof original;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = recvmsg(m_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (size >= 0) {
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR ||
                    c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
                    continue;
                sock_extended_err error{};
                std::memcpy(&error, CMSG_DATA(c), sizeof error);
                if (static_cast<size_t>(size) < kIcmpHeaderSize || quote[0] != ICMP_ECHO)
                    return false;
                if (error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == ICMP_REDIRECT)
                    return false;
                answer->target = original.sin_addr.s_addr;
                answer->identifier = m_identifier;
                answer->sequence = ReadBe16(quote + 6);
                if (error.ee_origin != SO_EE_ORIGIN_ICMP) {
                    answer->local = true;
                    answer->status = kIpGeneralFailure;
                    return true;
                }
                sockaddr_in offender{};
                if (c->cmsg_len >= CMSG_LEN(sizeof error + sizeof offender))
                    std::memcpy(&offender, CMSG_DATA(c) + sizeof error, sizeof offender);
                answer->from = offender.sin_addr.s_addr;
                answer->status = IcmpErrorStatus(error.ee_type, error.ee_code);
                return true;
            }
            return false;
        }
        uint8_t reply[kReceiveSize];
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got = recvfrom(m_fd, reply, sizeof reply, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                *more = false;
            } else {
                int ignored = 0;
                socklen_t length = sizeof ignored;
                (void)getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &ignored, &length);
            }
            return false;
        }
        if (got < static_cast<ssize_t>(kIcmpHeaderSize) || reply[0] != ICMP_ECHOREPLY)
            return false;
        answer->from = from.sin_addr.s_addr;
        answer->target = answer->from;
        answer->identifier = ReadBe16(reply + 4);
        answer->sequence = ReadBe16(reply + 6);
        answer->status = kIpSuccess;
        return true;
    }
    uint8_t packet[kReceiveSize];
    const ssize_t received = recv(m_fd, packet, sizeof packet, MSG_DONTWAIT);
    if (received < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            *more = false;
        return false;
    }
    const size_t size = static_cast<size_t>(received);
    if (size < kIpHeaderMinSize + kIcmpHeaderSize)
        return false;
    const size_t ipSize = static_cast<size_t>(packet[0] & 0x0F) * 4;
    if (ipSize < kIpHeaderMinSize || size < ipSize + kIcmpHeaderSize)
        return false;
    const uint8_t* icmp = packet + ipSize;
    const size_t icmpSize = size - ipSize;
    const uint8_t type = icmp[0];
    answer->from = ReadAddress(packet + 12);
    if (type == ICMP_ECHOREPLY) {
        if (ReadBe16(icmp + 4) != m_identifier || InternetChecksum(icmp, icmpSize) != 0)
            return false;
        answer->target = answer->from;
        answer->identifier = m_identifier;
        answer->sequence = ReadBe16(icmp + 6);
        answer->status = kIpSuccess;
        return true;
    }
    if (type != ICMP_DEST_UNREACH && type != ICMP_SOURCE_QUENCH && type != ICMP_TIME_EXCEEDED &&
        type != ICMP_PARAMETERPROB)
        return false;
    const uint8_t* quote = icmp + kIcmpHeaderSize;
    const size_t quoteSize = icmpSize - kIcmpHeaderSize;
    if (quoteSize < kIpHeaderMinSize)
        return false;
    const size_t quotedIp = static_cast<size_t>(quote[0] & 0x0F) * 4;
    if (quotedIp < kIpHeaderMinSize || quoteSize < quotedIp + kIcmpHeaderSize ||
        quote[9] != kProtocolIcmp || quote[quotedIp] != ICMP_ECHO ||
        ReadBe16(quote + quotedIp + 4) != m_identifier)
        return false;
    answer->target = ReadAddress(quote + 16);
    answer->identifier = m_identifier;
    answer->sequence = ReadBe16(quote + quotedIp + 6);
    answer->status = IcmpErrorStatus(type, icmp[1]);
    return true;
}

WaitResult IcmpProbeSocket::WaitForAnswers(Event& wake, int32_t timeoutMs) {
    if (m_fd < 0)
        return WaitResult::Failed;
    pollfd ready[2] = {{m_fd, POLLIN, 0}, {wake.FileDescriptor(), POLLIN, 0}};
    const int count = poll(ready, wake.IsValid() ? 2 : 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (count < 0)
        return errno == EINTR ? WaitResult::Timeout : WaitResult::Failed;
    if (count == 0)
        return WaitResult::Timeout;
    if (ready[1].revents != 0 && wake.Wait(0) == WaitResult::First && ready[0].revents == 0)
        return WaitResult::Second;
    return ready[0].revents != 0 ? WaitResult::First : WaitResult::Timeout;
}

} // namespace qarn::platform
