#include "platform/Socket.h"
#include "platform/WindowsApi.h"

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>

// mingw-w64's headers lack it (mstcpip.h of the Windows SDK has it).
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace qarn::platform {

// A Winsock wait does not end when another thread shuts the socket down, as poll() does on
// Linux. So every socket gets two events: one Winsock sets when a datagram arrives (FD_READ), and
// one that ShutdownSocket sets; a wait ends at the first of them.

namespace {

struct SocketEvents {
    WSAEVENT readable = WSA_INVALID_EVENT;
    WSAEVENT shutDown = WSA_INVALID_EVENT;
};

std::mutex g_eventsLock;
std::map<SocketHandle, SocketEvents> g_events; // under g_eventsLock

bool FindEvents(SocketHandle socket, SocketEvents* events) {
    const std::lock_guard<std::mutex> guard(g_eventsLock);
    const auto found = g_events.find(socket);
    if (found == g_events.end())
        return false;
    *events = found->second;
    return true;
}

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    target.sin_port = htons(port);
    return target;
}

} // namespace

int LastSocketError() {
    return WSAGetLastError();
}

void SetLastSocketError(int error) {
    WSASetLastError(error);
}

int SocketErrorBadHandle() {
    return WSAENOTSOCK;
}

int SocketErrorInvalidArgument() {
    return WSAEINVAL;
}

int SocketErrorUnreachable() {
    return WSAENETUNREACH;
}

SocketHandle OpenUdpSocket() {
    const SOCKET native =
        WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (native == INVALID_SOCKET)
        return kInvalidSocket;
    // A datagram that comes back as "port unreachable" must not fail the next receive with
    // WSAECONNRESET, as Windows does by default for UDP: a broadcast reaches such hosts often.
    BOOL reportReset = FALSE;
    DWORD ignored = 0;
    (void)WSAIoctl(native, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0,
                   &ignored, nullptr, nullptr);
    SocketEvents events;
    events.readable = WSACreateEvent();
    events.shutDown = WSACreateEvent();
    // WSAEventSelect makes the socket non-blocking; sends of datagrams do not wait for room on
    // Windows in practice, and receives never wait here (WaitReadable does).
    if (events.readable == WSA_INVALID_EVENT || events.shutDown == WSA_INVALID_EVENT ||
        WSAEventSelect(native, events.readable, FD_READ | FD_CLOSE) != 0) {
        const int error = WSAGetLastError();
        if (events.readable != WSA_INVALID_EVENT)
            WSACloseEvent(events.readable);
        if (events.shutDown != WSA_INVALID_EVENT)
            WSACloseEvent(events.shutDown);
        closesocket(native);
        WSASetLastError(error);
        return kInvalidSocket;
    }
    const auto handle = static_cast<SocketHandle>(native);
    const std::lock_guard<std::mutex> guard(g_eventsLock);
    g_events[handle] = events;
    return handle;
}

void ShutdownSocket(SocketHandle socket) {
    const int error = WSAGetLastError();
    (void)shutdown(Native(socket), SD_BOTH);
    SocketEvents events;
    if (FindEvents(socket, &events))
        WSASetEvent(events.shutDown);
    WSASetLastError(error);
}

void CloseSocket(SocketHandle socket) {
    SocketEvents events;
    {
        const std::lock_guard<std::mutex> guard(g_eventsLock);
        const auto found = g_events.find(socket);
        if (found != g_events.end()) {
            events = found->second;
            g_events.erase(found);
        }
    }
    closesocket(Native(socket));
    if (events.readable != WSA_INVALID_EVENT)
        WSACloseEvent(events.readable);
    if (events.shutDown != WSA_INVALID_EVENT)
        WSACloseEvent(events.shutDown);
}

bool SetBroadcast(SocketHandle socket, bool on) {
    const BOOL value = on ? TRUE : FALSE;
    return setsockopt(Native(socket), SOL_SOCKET, SO_BROADCAST,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

int ReceiveBufferBytes(SocketHandle socket) {
    int bytes = -1;
    int size = sizeof bytes;
    if (getsockopt(Native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&bytes), &size) !=
        0)
        return -1;
    return bytes;
}

bool SetReceiveBufferBytes(SocketHandle socket, int bytes) {
    return setsockopt(Native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes) == 0;
}

bool SetSendTimeoutMs(SocketHandle socket, uint32_t ms) {
    const DWORD value = ms;
    return setsockopt(Native(socket), SOL_SOCKET, SO_SNDTIMEO,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool BindSocket(SocketHandle socket, uint32_t address, uint16_t port) {
    // Without exclusive use another program could bind the same port beside this one (Windows
    // lets a socket with SO_REUSEADDR take over a bound port) and read the converters' answers.
    const BOOL exclusive = TRUE;
    (void)setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    const sockaddr_in local = SocketAddress(address, port);
    return bind(Native(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

int LocalPort(SocketHandle socket) {
    sockaddr_in local{};
    int size = sizeof local;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    return ntohs(local.sin_port);
}

int64_t SendDatagram(SocketHandle socket, const uint8_t* data, size_t length, uint32_t address,
                     uint16_t port) {
    if (length > static_cast<size_t>(INT_MAX)) {
        WSASetLastError(WSAEMSGSIZE);
        return -1;
    }
    const sockaddr_in target = SocketAddress(address, port);
    const int sent =
        sendto(Native(socket), reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent == SOCKET_ERROR ? -1 : static_cast<int64_t>(sent);
}

SocketWait WaitReadable(SocketHandle socket, uint32_t timeoutMs) {
    SocketEvents events;
    if (!FindEvents(socket, &events)) {
        WSASetLastError(WSAENOTSOCK);
        return SocketWait::Failed;
    }
    // The read event stays set from a datagram that an earlier receive already took; a look
    // without waiting tells whether one is really there.
    u_long waiting = 0;
    if (ioctlsocket(Native(socket), FIONREAD, &waiting) == 0 && waiting > 0)
        return SocketWait::Readable;
    WSAResetEvent(events.readable);
    if (ioctlsocket(Native(socket), FIONREAD, &waiting) == 0 && waiting > 0)
        return SocketWait::Readable;
    const WSAEVENT both[2] = {events.shutDown, events.readable};
    const DWORD woken = WSAWaitForMultipleEvents(2, both, FALSE, timeoutMs, FALSE);
    if (woken == WSA_WAIT_TIMEOUT)
        return SocketWait::TimedOut;
    if (woken == WSA_WAIT_EVENT_0 || woken == WSA_WAIT_EVENT_0 + 1)
        return SocketWait::Readable;
    return SocketWait::Failed;
}

ReceivedDatagram ReceiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity) {
    ReceivedDatagram result;
    sockaddr_in source{};
    int sourceSize = sizeof source;
    const int size = recvfrom(Native(socket), reinterpret_cast<char*>(buffer),
                              static_cast<int>(std::min<size_t>(capacity, INT_MAX)), 0,
                              reinterpret_cast<sockaddr*>(&source), &sourceSize);
    if (size == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        if (error == WSAEMSGSIZE) {
            // Windows stores the first part and drops the rest without telling the real
            // length; one byte more than fits marks it oversize for the caller.
            result.length = static_cast<int64_t>(capacity) + 1;
            result.fromAddress = source.sin_addr.s_addr;
            result.fromPort = ntohs(source.sin_port);
            return result;
        }
        result.wouldBlock = error == WSAEWOULDBLOCK || error == WSAEINTR;
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
