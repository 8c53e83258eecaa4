#pragma once

#include "net/CMsg.h"
#include "net/CMsgQueue.h"
#include "net/CThreadClass.h"
#include "net/CTimedCriticalSection.h"
#include "net/OwnAddressFilter.h"
#include "platform/Interfaces.h"
#include "platform/Socket.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace qarn {

// The UDP endpoint: sends datagrams to one address or, for 255.255.255.255, to every local network
// at once, and runs a receive worker that wraps each received datagram in a CMsg and pushes it onto
// a CMsgQueue.
//
//     CUDPSocket endpoint;
//     endpoint.Open(CUDPSocket::kBroadcastAddress, CUDPSocket::kConverterPort, 0, 0);
//     endpoint.StartReceiving(&queue, 10, false, 100); // 10 ms between passes, 100 ms per read
//     endpoint.Write(request, CUDPSocket::kBroadcastAddress, CUDPSocket::kConverterPort);
//     ...
//     endpoint.Close();
//
// Addresses are IPv4 in network order (first octet in the lowest byte: 192.168.0.1 -> 0x0100A8C0);
// ports are in host order. Failures are logged and reported by false, null or -1; nothing throws.
//
// Threads: sends may come from any thread (one at a time per endpoint, under writeLock); reads
// are serialised by readLock; Close takes neither lock and wakes a read blocked in another thread
// at once. Open, Close, StartReceiving, StopReceiving and the destructor are the owner's, called
// one at a time (they stop the worker), and never from the worker's own steps.
class CUDPSocket : public CThreadClass {
  public:
    static constexpr int32_t kConverterPort = 58009;
    static constexpr uint32_t kBroadcastAddress = 0xFFFFFFFF;
    // Longest datagram a read delivers; a longer one is dropped whole.
    static constexpr size_t kMaxDatagramBytes = 8192;
    // Longest time-out a read accepts, in milliseconds (10000 itself is allowed).
    static constexpr uint32_t kMaxReadTimeoutMs = 10000;
    // Reads of one receive pass that may wait up to the read time-out each.
    static constexpr int kReadsPerPass = 32;
    // Read time-out after construction, also the send time-out given to the socket at Open (ms).
    static constexpr uint32_t kDefaultReadTimeoutMs = 200;
    // Stream mode: collection buffer size; a long frame must be shorter than this.
    static constexpr size_t kStreamBufferBytes = 4096;
    // Stream mode: the byte that starts a long frame (82 LL LL ...: length LL LL little-endian,
    // counting the whole frame, at least 5).
    static constexpr uint8_t kLongFrameStart = 0x82;
    static constexpr int32_t kStreamModeOff = 0;
    static constexpr int32_t kStreamModeEveryByte = 2;
    static constexpr uint16_t kSocketLibraryVersion = 0x0202; // 2.2
    // Receive buffer asked for at Open (bytes): a burst of 5,000 answers of 88 bytes takes about
    // 4 MiB of the system's bookkeeping. The system may grant less.
    static constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

    CUDPSocket();
    ~CUDPSocket() override;

    // Sets the worker name "UDPSocket", then starts the worker as the base does.
    bool StartThread(platform::Event* waitObject, uint32_t waitTimeoutMs) override;
    // One receive pass on the worker: up to kReadsPerPass reads of readTimeoutMs each, every
    // message handed to Deliver; the pass ends at the first read that gives nothing. When all of
    // them found a datagram, the pass goes on taking datagrams that are already waiting (no wait)
    // until none is left or a stop is requested.
    bool TimeoutThread() override;

    // Makes a fresh socket (closing any previous one and stopping the worker first). localPort 0
    // leaves it unbound (the system picks a port at the first send) and without broadcast
    // permission; otherwise it is bound to bindAddress:localPort, without address reuse: a port
    // that another socket holds fails the bind, and while this endpoint holds it no other
    // process, of this user or another, can bind it beside it and take its datagrams.
    // remotePort 0 stands for localPort. The send time-out is readTimeoutMs at this moment.
    virtual bool Open(uint32_t remoteAddress, int32_t localPort, int32_t remotePort,
                      uint32_t bindAddress);
    // Closes the socket (a read blocked in another thread returns null at once) and stops the
    // worker. It returns once the worker has ended and the descriptor is closed, so nothing is
    // left to settle: no pause follows (every broadcast and every firmware transfer opens and
    // closes an endpoint, and a pause there only made them slower).
    virtual void Close();
    virtual bool IsOpen() const;
    // Sends msg->data to msg->address and remotePort. The message stays the caller's.
    virtual bool Write(const CMsg* msg);
    // Stops the worker; a pass still running deletes what it reads from now on.
    virtual void StopReceiving();
    // Takes a received message: queues it when the worker runs, is not asked to stop and a queue
    // is set; deletes it otherwise. Stamps the endpoint's tag into it when that is not 0.
    virtual void Deliver(std::unique_ptr<CMsg> msg);

    // Sends `length` bytes to address:port; 255.255.255.255 fans out to every local network. False
    // for an empty buffer, a closed endpoint or a send that did not take every byte.
    bool Write(const uint8_t* buffer, size_t length, uint32_t address, int32_t port);
    bool Write(const std::vector<uint8_t>& bytes, uint32_t address, int32_t port);

    // One send without the endpoint's write lock (Write holds it): the number of bytes sent, or
    // -1 with platform::LastSocketError() set. For 255.255.255.255 the datagram leaves from this
    // endpoint's own socket (so an unbound one cannot broadcast): once to 255.255.255.255, then,
    // when more than one interface record is known, once to each non-loopback record's directed
    // broadcast address (address | ~netmask); the result is the last send's.
    int32_t SocketWrite(const uint8_t* buffer, size_t length, uint32_t address, int32_t port);

    // Reads the interface records once per endpoint; later calls keep the first list. False when
    // the list cannot be read (an empty list counts as not read yet).
    bool EnumerateInterfaces();
    int32_t GetInterfaceCount() const;
    std::vector<platform::InterfaceRecord> GetInterfaces() const;

    // Sets where the worker delivers and how long each of its reads waits, then starts the
    // worker with `waitTimeoutMs` between passes. A worker that already runs keeps its pause but
    // uses the new queue and settings from its next pass.
    bool StartReceiving(CMsgQueue* queue, uint32_t waitTimeoutMs, bool signalQueue,
                        uint32_t readTimeoutMs);

    // One datagram, waiting up to `timeoutMs` (0: only one already waiting), with its sender in
    // `address` and localPort in `port`; null on time-out, error, a closed endpoint, an empty or
    // oversize datagram, or a time-out above kMaxReadTimeoutMs (logged).
    std::unique_ptr<CMsg> Read(uint32_t timeoutMs);
    // Stream mode: one framed message assembled from the bytes of successive datagrams (each
    // datagram fetched with `timeoutMs`). A long frame 82 LL LL ... is one message; "C" or "c",
    // or with stream mode 2 any byte, is a message of one byte; other bytes are dropped. An
    // incomplete or invalid long frame gives an empty message; nothing at all gives null.
    //   datagrams 82 05 | 00 AA BB -> 82 05 00 AA BB;   82 04 00 -> empty;   43 -> 43
    std::unique_ptr<CMsg> DebugRead(uint32_t timeoutMs);

    // The socket's receive buffer as the system reports it (bytes), or -1 when closed.
    int32_t GetReceiveBufferBytes() const;

    int32_t GetLocalPort() const { return localPort.load(std::memory_order_relaxed); }
    int32_t GetRemotePort() const { return remotePort.load(std::memory_order_relaxed); }
    uint32_t GetRemoteAddress() const { return remoteAddress.load(std::memory_order_relaxed); }
    uint32_t GetLastSender() const { return lastSender.load(std::memory_order_relaxed); }
    uint32_t GetReadTimeoutMs() const { return readTimeoutMs.load(std::memory_order_relaxed); }
    void SetReadTimeoutMs(uint32_t ms) { readTimeoutMs.store(ms, std::memory_order_relaxed); }
    int32_t GetStreamMode() const { return streamMode.load(std::memory_order_relaxed); }
    void SetStreamMode(int32_t mode) { streamMode.store(mode, std::memory_order_relaxed); }
    int32_t GetTag() const { return tag.load(std::memory_order_relaxed); }
    void SetTag(int32_t value) { tag.store(value, std::memory_order_relaxed); }

    // With true, the receive worker drops every datagram whose source is one of this host's own
    // addresses (OwnAddressFilter) instead of delivering it: the endpoint's own broadcasts, and
    // those of other programs on this host, come back to it otherwise. Off after construction;
    // an owner whose peers are never this host turns it on (the application's endpoint: no
    // converter answers from the PC's address).
    void SetDropOwnDatagrams(bool drop) { m_dropOwn.store(drop, std::memory_order_relaxed); }
    bool GetDropOwnDatagrams() const { return m_dropOwn.load(std::memory_order_relaxed); }

  private:
    static constexpr platform::SocketHandle kNoSocket = platform::kInvalidSocket;

    // Logs the error line for a time-out above kMaxReadTimeoutMs.
    static bool IsReadTimeoutTooLarge(uint32_t timeoutMs);
    // Read without taking readLock (the caller holds it).
    std::unique_ptr<CMsg> ReadLocked(uint32_t timeoutMs);
    // Waits up to `timeoutMs` for one datagram and receives it into m_receiveBuffer: its length,
    // or -1 for nothing usable (time-out, error, closed, oversize).
    int32_t ReceiveDatagram(uint32_t timeoutMs, uint32_t* from);
    // Stream mode's byte reader: up to `count` bytes from pendingMsg and, when that runs out, from
    // further datagrams; fewer only when no datagram arrived in time.
    size_t ReadStreamBytes(uint8_t* out, size_t count, uint32_t timeoutMs);
    // The stream state after a long-frame start byte at streamBuffer[0].
    std::unique_ptr<CMsg> ReadLongFrame(uint32_t timeoutMs);
    std::unique_ptr<CMsg> AbortStream(size_t count);
    // Stamps sender and local port into a message of the worker's reads and hands it on.
    void DeliverReceived(std::unique_ptr<CMsg> msg);
    // One send on this endpoint's own socket; -1 with platform::LastSocketError() set.
    int32_t SendOnce(const uint8_t* buffer, size_t length, uint32_t address, int32_t port);
    int32_t BroadcastFanOut(const uint8_t* buffer, size_t length, int32_t port);
    // Sets the socket's options, then binds it unless `port` is 0. False: the caller closes it.
    bool PrepareSocket(platform::SocketHandle fd, int32_t port, uint32_t bindAddress);

    // kNoSocket when closed (0 is a valid descriptor here). Read by every thread that sends or
    // reads.
    std::atomic<platform::SocketHandle> socketHandle{kNoSocket};
    std::atomic<int32_t> localPort{0};
    std::atomic<int32_t> remotePort{0};
    std::atomic<uint32_t> remoteAddress{0}; // kept for the owner, not used here
    std::atomic<uint32_t> lastSender{0};
    std::atomic<CMsgQueue*> queue{nullptr}; // not owned; null: received messages are deleted
    std::atomic<bool> signalQueue{false};
    CTimedCriticalSection writeLock;
    CTimedCriticalSection readLock;
    std::atomic<int32_t> streamMode{kStreamModeOff};
    std::atomic<uint32_t> readTimeoutMs{kDefaultReadTimeoutMs};
    std::vector<uint8_t> streamBuffer; // under readLock
    std::unique_ptr<CMsg> pendingMsg;  // under readLock
    std::atomic<int32_t> tag{0};
    int32_t interfaceCount = 0;                           // under m_interfaceLock
    std::vector<platform::InterfaceRecord> interfaceList; // under m_interfaceLock

    mutable std::mutex m_interfaceLock;
    // Held shared by every thread that works on the descriptor, exclusively by Close for the
    // moment it closes it: a descriptor number is never closed, and so never reused by another
    // socket, while a send or read may still use it.
    mutable std::shared_mutex m_descriptorGuard;
    std::vector<uint8_t> m_receiveBuffer; // under readLock; kMaxDatagramBytes
    bool m_libraryStarted = false;
    std::atomic<bool> m_dropOwn{false};
    OwnAddressFilter m_ownAddresses; // the worker's
};

} // namespace qarn
