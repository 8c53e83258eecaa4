#include "platform/Neighbour.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace qarn::platform {

namespace {

constexpr size_t kReceiveSize = 65536; // larger than any one part of a dump
constexpr int kReplyTimeoutMs = 1000;  // the kernel answers at once; this only bounds the wait
constexpr uint16_t kUsableStates =
    NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT | NUD_NOARP;

// Closes the netlink socket on every way out.
class Socket {
  public:
    Socket() : m_fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
    ~Socket() {
        if (m_fd >= 0)
            close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Fd() const { return m_fd; }

  private:
    int m_fd;
};

bool SendDumpRequest(int fd, uint32_t sequence) {
    struct {
        nlmsghdr header;
        ndmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.body.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return sendto(fd, &request, request.header.nlmsg_len, 0,
                  reinterpret_cast<const sockaddr*>(&kernel),
                  sizeof kernel) == static_cast<ssize_t>(request.header.nlmsg_len);
}

// True when the RTM_NEWNEIGH message `body` (after its netlink header, `size` bytes) is a usable
// row for `address`; its MAC goes to `mac`.
bool IsRowFor(const uint8_t* body, size_t size, uint32_t address, std::array<uint8_t, 6>* mac) {
    if (size < sizeof(ndmsg))
        return false;
    ndmsg entry{};
    std::memcpy(&entry, body, sizeof entry);
    if (entry.ndm_family != AF_INET || (entry.ndm_state & kUsableStates) == 0)
        return false;
    bool addressMatches = false;
    bool macFound = false;
    std::array<uint8_t, 6> found{};
    // Attributes: a 4-byte header (length including the header, type), the payload, padding to 4.
    for (size_t at = NLMSG_ALIGN(sizeof(ndmsg)); at < size && size - at >= sizeof(rtattr);) {
        rtattr attribute{};
        std::memcpy(&attribute, body + at, sizeof attribute);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > size - at)
            break;
        const uint8_t* payload = body + at + RTA_LENGTH(0);
        const size_t payloadSize = attribute.rta_len - RTA_LENGTH(0);
        if (attribute.rta_type == NDA_DST && payloadSize == sizeof address) {
            addressMatches = std::memcmp(payload, &address, sizeof address) == 0;
        } else if (attribute.rta_type == NDA_LLADDR && payloadSize == found.size()) {
            std::memcpy(found.data(), payload, found.size());
            macFound = true;
        }
        at += RTA_ALIGN(attribute.rta_len);
    }
    if (!addressMatches || !macFound)
        return false;
    *mac = found;
    return true;
}

// What one netlink message of the dump means for the lookup; false to read on.
bool TakeMessage(const nlmsghdr& header, const uint8_t* body, size_t size, uint32_t address,
                 NeighbourLookupResult* result) {
    if (header.nlmsg_type == NLMSG_DONE) {
        result->status = NeighbourLookupStatus::NoRow;
        return true;
    }
    if (header.nlmsg_type == NLMSG_ERROR) {
        nlmsgerr error{};
        if (size >= sizeof error)
            std::memcpy(&error, body, sizeof error);
        result->error = error.error != 0 ? -error.error : EPROTO;
        return true;
    }
    if (header.nlmsg_type == RTM_NEWNEIGH && IsRowFor(body, size, address, &result->mac)) {
        result->status = NeighbourLookupStatus::Found;
        return true;
    }
    return false;
}

// Reads the dump until its end or the first row for `address`.
NeighbourLookupResult ReadDump(int fd, uint32_t sequence, uint32_t address) {
    NeighbourLookupResult result;
    std::vector<uint8_t> buffer(kReceiveSize);
    for (;;) {
        const ssize_t received = recv(fd, buffer.data(), buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            result.error = errno;
            return result;
        }
        const size_t total = static_cast<size_t>(received);
        for (size_t at = 0; total - at >= sizeof(nlmsghdr);) {
            nlmsghdr header{};
            std::memcpy(&header, buffer.data() + at, sizeof header);
            if (header.nlmsg_len < sizeof header || header.nlmsg_len > total - at)
                break;
            const size_t bodyAt = at + NLMSG_HDRLEN;
            if (header.nlmsg_seq == sequence &&
                TakeMessage(header, buffer.data() + bodyAt, at + header.nlmsg_len - bodyAt, address,
                            &result))
                return result;
            at += NLMSG_ALIGN(header.nlmsg_len);
            if (at > total)
                break;
        }
    }
}

} // namespace

NeighbourLookupResult LookupNeighbour(uint32_t address) {
    NeighbourLookupResult result;
    Socket socket;
    if (socket.Fd() < 0) {
        result.error = errno;
        return result;
    }
    timeval timeout{};
    timeout.tv_sec = kReplyTimeoutMs / 1000;
    timeout.tv_usec = (kReplyTimeoutMs % 1000) * 1000;
    (void)setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    static std::atomic<uint32_t> s_sequence{1};
    const uint32_t sequence = s_sequence.fetch_add(1);
    if (!SendDumpRequest(socket.Fd(), sequence)) {
        result.error = errno;
        return result;
    }
    return ReadDump(socket.Fd(), sequence, address);
}

} // namespace qarn::platform
