#include "platform/ActivationSocket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qarn::platform {

static_assert(ActivationSocket::kMaxPathLength + 1 == sizeof(sockaddr_un::sun_path));

namespace {

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    if (path.empty() || path.size() > ActivationSocket::kMaxPathLength ||
        path.find('\0') != std::string::npos) {
        errno = ENAMETOOLONG;
        return false;
    }
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

} // namespace

ActivationSocket::~ActivationSocket() {
    Close();
}

bool ActivationSocket::Listen(const std::string& path) {
    Close();
    sockaddr_un address;
    if (!MakeAddress(path, address))
        return false;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A socket file outlives its process; one left by a copy that crashed would block the bind.
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

std::vector<std::string> ActivationSocket::ReceivePending(size_t maxMessages) {
    std::vector<std::string> messages;
    if (m_fd < 0)
        return messages;
    char buffer[kMaxMessageLength];
    // Oversized datagrams count against the limit too, so a flood cannot hold the caller here.
    for (size_t reads = 0; reads < maxMessages; ++reads) {
        // MSG_TRUNC makes the result the datagram's real length, so an oversized one is seen.
        ssize_t n;
        do {
            n = recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            break; // EAGAIN: nothing more waiting
        if (static_cast<size_t>(n) <= sizeof buffer)
            messages.emplace_back(buffer, static_cast<size_t>(n));
    }
    return messages;
}

void ActivationSocket::Close() {
    if (m_fd < 0)
        return;
    unlink(m_path.c_str());
    close(m_fd);
    m_fd = -1;
    m_path.clear();
}

bool ActivationSocket::Send(const std::string& path, std::string_view message) {
    sockaddr_un address;
    if (!MakeAddress(path, address))
        return false;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ssize_t n;
    do {
        n = sendto(fd, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (n < 0 && errno == EINTR);
    const int error = errno;
    close(fd);
    errno = error;
    return n >= 0 && static_cast<size_t>(n) == message.size();
}

} // namespace qarn::platform
