#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// IPv4 UDP sockets, the part of the system's socket API that the endpoints use: on Linux the
// BSD sockets, on Windows Winsock 2 (started with SocketLibraryStartup before the first socket).
// The rest of the core works with these calls only, so that it compiles unchanged for both.
//
// Addresses are IPv4 in network order (192.168.0.1 -> 0x0100A8C0); ports are in host order.
// A failing call returns kInvalidSocket, false or -1 and leaves its error for LastSocketError();
// nothing throws.
//
// Threads: a handle may be used by several threads at once (send in one, wait and receive in
// another); ShutdownSocket wakes a WaitReadable of another thread. Closing a handle that another
// thread still uses is the caller's to prevent (the handle number may be reused at once).

namespace qarn::platform {

// A descriptor on Linux, a SOCKET on Windows; both fit, and kInvalidSocket is the value both
// systems use for "none" (-1, INVALID_SOCKET).
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// The system's error of this thread's last failing socket call (errno, WSAGetLastError()), and a
// way to set it, so that a caller can report a failure of its own the same way.
int LastSocketError();
void SetLastSocketError(int error);
// The codes a caller sets for its own failures: a closed handle, a bad argument, no network.
int SocketErrorBadHandle();
int SocketErrorInvalidArgument();
int SocketErrorUnreachable();

// A new UDP socket, not inherited by child processes, in blocking mode for sends.
SocketHandle OpenUdpSocket();
// Stops every transfer on the socket and wakes a WaitReadable blocked on it in another thread;
// every later wait returns at once. The handle stays valid until CloseSocket.
void ShutdownSocket(SocketHandle socket);
void CloseSocket(SocketHandle socket);

bool SetBroadcast(SocketHandle socket, bool on);
// The receive buffer's size as the system reports it (bytes), or -1.
int ReceiveBufferBytes(SocketHandle socket);
// Asks for a receive buffer of `bytes`; the system may grant less.
bool SetReceiveBufferBytes(SocketHandle socket, int bytes);
// Longest time a send may block (ms).
bool SetSendTimeoutMs(SocketHandle socket, uint32_t ms);
// Binds to address:port; port 0 lets the system pick one.
bool BindSocket(SocketHandle socket, uint32_t address, uint16_t port);
// The bound local port, or -1.
int LocalPort(SocketHandle socket);

// Sends one datagram: the number of bytes sent, or -1.
int64_t SendDatagram(SocketHandle socket, const uint8_t* data, size_t length, uint32_t address,
                     uint16_t port);

enum class SocketWait { Readable, TimedOut, Interrupted, Failed };
// Waits up to `timeoutMs` (0: only looks) until a datagram waits or the socket was shut down.
SocketWait WaitReadable(SocketHandle socket, uint32_t timeoutMs);

struct ReceivedDatagram {
    // The datagram's whole length, also when it was longer than the buffer (then only the
    // buffer's worth was stored); -1 for nothing received (see wouldBlock).
    int64_t length = -1;
    // Nothing was waiting (not an error).
    bool wouldBlock = false;
    uint32_t fromAddress = 0;
    uint16_t fromPort = 0;
};
// Takes one datagram that is already waiting, without blocking.
ReceivedDatagram ReceiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity);

// 0x0100A8C0 -> "192.168.0.1"
std::string DottedAddress(uint32_t address);
// "192.168.0.1" -> true and 0x0100A8C0; false for anything that is not a dotted IPv4 address.
bool ParseDottedAddress(const std::string& text, uint32_t* address);

} // namespace qarn::platform
