#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qarn::platform {

namespace {

sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    target.sin_port = htons(port);
    return target;
}

int Fd(SocketHandle socket) {
    return static_cast<int>(socket);
}

} // namespace

int LastSocketError() {
    return errno;
}

void SetLastSocketError(int error) {
    errno = error;
}

int SocketErrorBadHandle() {
    return EBADF;
}

int SocketErrorInvalidArgument() {
    return EINVAL;
}

int SocketErrorUnreachable() {
    return ENETUNREACH;
}

SocketHandle OpenUdpSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return kInvalidSocket;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return kInvalidSocket;
    }
    return fd;
}

void ShutdownSocket(SocketHandle socket) {
    // close() alone does not wake a poll blocked on the socket; shutdown does (on an unconnected
    // UDP socket it answers ENOTCONN, yet takes effect), and every later poll returns at once.
    const int error = errno;
    (void)shutdown(Fd(socket), SHUT_RDWR);
    errno = error;
}

void CloseSocket(SocketHandle socket) {
    close(Fd(socket));
}

bool SetBroadcast(SocketHandle socket, bool on) {
    const int value = on ? 1 : 0;
    return setsockopt(Fd(socket), SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0;
}

int ReceiveBufferBytes(SocketHandle socket) {
    int bytes = -1;
    socklen_t size = sizeof bytes;
    if (getsockopt(Fd(socket), SOL_SOCKET, SO_RCVBUF, &bytes, &size) != 0)
        return -1;
    return bytes;
}

bool SetReceiveBufferBytes(SocketHandle socket, int bytes) {
    return setsockopt(Fd(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool SetSendTimeoutMs(SocketHandle socket, uint32_t ms) {
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(ms / 1000);
    timeout.tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
    return setsockopt(Fd(socket), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) == 0;
}

bool BindSocket(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in local = SocketAddress(address, port);
    return bind(Fd(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

int LocalPort(SocketHandle socket) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    return ntohs(local.sin_port);
}

int64_t SendDatagram(SocketHandle socket, const uint8_t* data, size_t length, uint32_t address,
                     uint16_t port) {
    const sockaddr_in target = SocketAddress(address, port);
    const ssize_t sent = sendto(Fd(socket), data, length, MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent < 0 ? -1 : static_cast<int64_t>(sent);
}

SocketWait WaitReadable(SocketHandle socket, uint32_t timeoutMs) {
    pollfd watch{Fd(socket), POLLIN, 0};
    const int ready = poll(&watch, 1, static_cast<int>(timeoutMs));
    if (ready < 0)
        return errno == EINTR ? SocketWait::Interrupted : SocketWait::Failed;
    return ready == 0 ? SocketWait::TimedOut : SocketWait::Readable;
}

ReceivedDatagram ReceiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity) {
    ReceivedDatagram result;
    sockaddr_in source{};
    socklen_t sourceSize = sizeof source;
    // MSG_TRUNC reports the datagram's real length, so that the caller recognises an oversize
    // one rather than taking it cut short.
    const ssize_t size = recvfrom(Fd(socket), buffer, capacity, MSG_DONTWAIT | MSG_TRUNC,
                                  reinterpret_cast<sockaddr*>(&source), &sourceSize);
    if (size < 0) {
        result.wouldBlock = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        return result;
    }
    result.length = size;
    result.fromAddress = source.sin_addr.s_addr;
    result.fromPort = ntohs(source.sin_port);
    return result;
}

std::string DottedAddress(uint32_t address) {
    in_addr in{};
    in.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

bool ParseDottedAddress(const std::string& text, uint32_t* address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    *address = parsed.s_addr;
    return true;
}

} // namespace qarn::platform
