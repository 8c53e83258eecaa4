#include "net/CUDPSocket.h"

#include "diag/FileLogger.h"
#include "platform/ByteOrder.h"
#include "platform/Compiler.h"
#include "platform/Socket.h"
#include "platform/SocketLibrary.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace qarn {

namespace {

using Clock = std::chrono::steady_clock;

QARN_PRINTF_FORMAT(1, 2) std::string Format(const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    const int size = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return size >= 0 ? std::string(line, std::min(static_cast<size_t>(size), sizeof line - 1))
                     : std::string();
}

// 0x0100A8C0 -> "192.168.0.1"
std::string Dotted(uint32_t address) {
    return platform::DottedAddress(address);
}

// The system's last error as the log lines show it ("0x%08x").
unsigned LastError() {
    return static_cast<unsigned>(platform::LastSocketError());
}

// Any port outside 0..65535 would wrap when put into the socket address and reach a port nobody
// asked for; it is refused instead.
bool IsPort(int32_t port) {
    return port >= 0 && port <= 0xFFFF;
}

void WarnSocketWrite(const char* what, uint32_t target, int32_t port) {
    const int error = platform::LastSocketError();
    if (IsWarningLogEnabled())
        LogWarning(Format("CUDPSocket::SocketWrite: %s Error:0x%08x Target[IP:%s Port:%d]", what,
                          static_cast<unsigned>(error), Dotted(target).c_str(), port));
    platform::SetLastSocketError(error);
}

} // namespace

CUDPSocket::CUDPSocket() {
    uint16_t obtained = 0;
    m_libraryStarted = platform::SocketLibraryStartup(kSocketLibraryVersion, &obtained) == 0;
}

CUDPSocket::~CUDPSocket() {
    if (IsDebugLogEnabled())
        LogDebug(Format("CUDPSocket::~CUDPSocket: Port:%d", GetLocalPort()));
    Close();
    {
        const std::lock_guard<std::mutex> guard(m_interfaceLock);
        interfaceList.clear();
        interfaceCount = 0;
    }
    if (m_libraryStarted)
        platform::SocketLibraryCleanup();
}

bool CUDPSocket::StartThread(platform::Event* waitObject, uint32_t waitTimeoutMs) {
    if (!IsRunning())
        SetName("UDPSocket");
    return CThreadClass::StartThread(waitObject, waitTimeoutMs);
}

bool CUDPSocket::Open(uint32_t remote, int32_t local, int32_t remotePortArg, uint32_t bindAddress) {
    remoteAddress.store(remote, std::memory_order_relaxed);
    localPort.store(local, std::memory_order_relaxed);
    remotePort.store(remotePortArg != 0 ? remotePortArg : local, std::memory_order_relaxed);
    Close();

    const platform::SocketHandle fd = platform::OpenUdpSocket();
    if (fd == platform::kInvalidSocket) {
        const int error = platform::LastSocketError();
        if (IsErrorLogEnabled())
            LogError(Format("CUDPSocket::Open: create socket failed. Error:0x%08x",
                            static_cast<unsigned>(error)));
        platform::SetLastSocketError(error);
        return false;
    }
    if (!PrepareSocket(fd, local, bindAddress)) {
        const int error = platform::LastSocketError();
        platform::CloseSocket(fd);
        platform::SetLastSocketError(error);
        return false;
    }
    socketHandle.store(fd, std::memory_order_release);
    return true;
}

bool CUDPSocket::PrepareSocket(platform::SocketHandle fd, int32_t port, uint32_t bindAddress) {
    // No SO_REUSEADDR: with it, any local user could bind the same port beside the endpoint and
    // receive the converters' answers (and firmware acknowledgements) in its place.
    // Room for a burst of answers. The system caps the request at net.core.rmem_max; never
    // shrink a buffer that is already larger.
    const int receiveBytes = platform::ReceiveBufferBytes(fd);
    if (receiveBytes >= 0 && receiveBytes < kReceiveBufferBytes)
        (void)platform::SetReceiveBufferBytes(fd, kReceiveBufferBytes);
    (void)platform::SetSendTimeoutMs(fd, GetReadTimeoutMs());

    if (port == 0)
        return true;
    if (!platform::SetBroadcast(fd, true))
        return false;
    platform::SetLastSocketError(platform::SocketErrorInvalidArgument());
    if (!IsPort(port) || !platform::BindSocket(fd, bindAddress, static_cast<uint16_t>(port))) {
        const int error = platform::LastSocketError();
        if (IsErrorLogEnabled())
            LogError(Format("CUDPSocket::Open: bind (IP:%s Port:%d) failed. Error:0x%08x",
                            Dotted(bindAddress).c_str(), port, static_cast<unsigned>(error)));
        platform::SetLastSocketError(error);
        return false;
    }
    if (IsDebugLogEnabled())
        LogDebug(Format("CUDPSocket::Open: bind (IP:%s Port:%d) done.", Dotted(bindAddress).c_str(),
                        port));
    return true;
}

void CUDPSocket::Close() {
    const platform::SocketHandle fd = socketHandle.exchange(kNoSocket, std::memory_order_acq_rel);
    if (fd != kNoSocket) {
        // Closing alone does not wake a read blocked on the socket; the shutdown does, and every
        // later wait on it returns at once. The number itself is given back only when nobody
        // works on it any more, so that it cannot be reused by another socket under a send or
        // read.
        platform::ShutdownSocket(fd);
        const std::unique_lock<std::shared_mutex> exclusive(m_descriptorGuard);
        platform::CloseSocket(fd);
    }
    StopThread();
    if (readLock.Lock(CTimedCriticalSection::kNoLimit)) {
        pendingMsg.reset();
        readLock.Unlock();
    }
    StopThread();
}

bool CUDPSocket::IsOpen() const {
    return socketHandle.load(std::memory_order_acquire) != kNoSocket;
}

void CUDPSocket::StopReceiving() {
    StopThread();
}

bool CUDPSocket::StartReceiving(CMsgQueue* target, uint32_t waitTimeoutMs, bool signal,
                                uint32_t readMs) {
    readTimeoutMs.store(readMs, std::memory_order_relaxed);
    queue.store(target, std::memory_order_release);
    signalQueue.store(signal, std::memory_order_release);
    return StartThread(nullptr, waitTimeoutMs);
}

bool CUDPSocket::Write(const uint8_t* buffer, size_t length, uint32_t address, int32_t port) {
    if (length == 0 || buffer == nullptr || !IsOpen())
        return false;
    writeLock.Lock(CTimedCriticalSection::kNoLimit);
    if (!IsOpen()) {
        writeLock.Unlock();
        return false;
    }
    if (IsDebugLogEnabled())
        LogDebug(Format("CUDPSocket::Write: Target[IP:%s Port:%d] Size:%d bytes",
                        Dotted(address).c_str(), port, static_cast<int>(length)));
    const int32_t sent = SocketWrite(buffer, length, address, port);
    const unsigned error = LastError();
    bool done = true;
    if (sent == -1) {
        if (IsWarningLogEnabled())
            LogWarning(Format("CUDPSocket::Write: SocketWrite: Error:0x%08x ", error));
        done = false;
    } else if (static_cast<size_t>(sent) != length) {
        if (IsWarningLogEnabled())
            LogWarning(Format("CUDPSocket::Write: SocketWrite: Error:0x%08x Size:%d bytes Send:%d "
                              "bytes",
                              error, static_cast<int>(length), sent));
        done = false;
    }
    writeLock.Unlock();
    return done;
}

bool CUDPSocket::Write(const std::vector<uint8_t>& bytes, uint32_t address, int32_t port) {
    return Write(bytes.data(), bytes.size(), address, port);
}

bool CUDPSocket::Write(const CMsg* msg) {
    if (msg == nullptr)
        return false;
    if (msg->data.empty()) {
        if (IsWarningLogEnabled())
            LogWarning("CUDPSocket::Write: no data");
        return false;
    }
    writeLock.Lock(CTimedCriticalSection::kNoLimit);
    if (!IsOpen()) {
        if (IsWarningLogEnabled())
            LogWarning("CUDPSocket::Write: socket not opened");
        writeLock.Unlock();
        return false;
    }
    const int32_t port = GetRemotePort();
    const int size = static_cast<int>(msg->data.size());
    const int32_t sent = SocketWrite(msg->data.data(), msg->data.size(), msg->address, port);
    const unsigned error = LastError();
    bool done = true;
    if (sent == -1) {
        if (IsWarningLogEnabled())
            LogWarning(Format("CUDPSocket::Write: SocketWrite: Error:0x%08x len:%d bytes "
                              "IP:0x%08x Port:%d",
                              error, size, msg->address, port));
        done = false;
    } else if (sent != size) {
        if (IsWarningLogEnabled())
            LogWarning(Format("CUDPSocket::Write: SocketWrite: Error:0x%08x IP:0x%08x Port:%d "
                              "Len:%d bytes Send:%d bytes",
                              error, msg->address, port, size, sent));
        done = false;
    }
    writeLock.Unlock();
    return done;
}

int32_t CUDPSocket::SocketWrite(const uint8_t* buffer, size_t length, uint32_t address,
                                int32_t port) {
    if (!IsOpen()) {
        platform::SetLastSocketError(platform::SocketErrorBadHandle());
        return -1;
    }
    if (address != kBroadcastAddress) {
        const int32_t sent = SendOnce(buffer, length, address, port);
        if (sent == -1)
            WarnSocketWrite("Exception:", address, port);
        return sent;
    }
    return BroadcastFanOut(buffer, length, port);
}

int32_t CUDPSocket::SendOnce(const uint8_t* buffer, size_t length, uint32_t address, int32_t port) {
    if (!IsPort(port)) {
        platform::SetLastSocketError(platform::SocketErrorInvalidArgument());
        return -1;
    }
    const std::shared_lock<std::shared_mutex> inUse(m_descriptorGuard);
    const platform::SocketHandle fd = socketHandle.load(std::memory_order_acquire);
    if (fd == kNoSocket) {
        platform::SetLastSocketError(platform::SocketErrorBadHandle());
        return -1;
    }
    const int64_t sent =
        platform::SendDatagram(fd, buffer, length, address, static_cast<uint16_t>(port));
    return sent < 0 ? -1 : static_cast<int32_t>(sent);
}

int32_t CUDPSocket::BroadcastFanOut(const uint8_t* buffer, size_t length, int32_t port) {
    // Every copy leaves from this endpoint's own socket, so that the answers come back to its
    // port and no second socket has to share that port (which would let any user share it too).
    int32_t result = SendOnce(buffer, length, kBroadcastAddress, port);
    if (result == -1)
        WarnSocketWrite("Exception:", kBroadcastAddress, port);
    int error = platform::LastSocketError();
    if (EnumerateInterfaces() && GetInterfaceCount() > 1) {
        result = -1;
        error = platform::SocketErrorUnreachable(); // stays when every record is a loopback one
        for (const platform::InterfaceRecord& record : GetInterfaces()) {
            if ((record.flags & platform::kInterfaceLoopback) != 0)
                continue;
            const uint32_t directed = record.address | ~record.netmask;
            result = SendOnce(buffer, length, directed, port);
            if (result == -1)
                WarnSocketWrite("sendto:", directed, port);
            error = platform::LastSocketError();
        }
    }
    platform::SetLastSocketError(error);
    return result;
}

bool CUDPSocket::EnumerateInterfaces() {
    const std::lock_guard<std::mutex> guard(m_interfaceLock);
    if (interfaceCount != 0)
        return true;
    if (!platform::EnumerateInterfaces(interfaceList))
        return false;
    interfaceCount = static_cast<int32_t>(interfaceList.size());
    return true;
}

int32_t CUDPSocket::GetInterfaceCount() const {
    const std::lock_guard<std::mutex> guard(m_interfaceLock);
    return interfaceCount;
}

std::vector<platform::InterfaceRecord> CUDPSocket::GetInterfaces() const {
    const std::lock_guard<std::mutex> guard(m_interfaceLock);
    return interfaceList;
}

std::unique_ptr<CMsg> CUDPSocket::Read(uint32_t timeoutMs) {
    if (!IsOpen() || IsReadTimeoutTooLarge(timeoutMs))
        return nullptr;
    readLock.Lock(CTimedCriticalSection::kNoLimit);
    std::unique_ptr<CMsg> msg = ReadLocked(timeoutMs);
    readLock.Unlock();
    return msg;
}

bool CUDPSocket::IsReadTimeoutTooLarge(uint32_t timeoutMs) {
    if (timeoutMs <= kMaxReadTimeoutMs)
        return false;
    if (IsErrorLogEnabled())
        LogError(Format("CUDPSocket::Read: nTimeout is too large(got:%u ms max:%u ms)", timeoutMs,
                        kMaxReadTimeoutMs));
    return true;
}

std::unique_ptr<CMsg> CUDPSocket::ReadLocked(uint32_t timeoutMs) {
    // Stream mode comes here without passing Read's checks.
    if (!IsOpen() || IsReadTimeoutTooLarge(timeoutMs))
        return nullptr;
    uint32_t from = 0;
    const int32_t size = ReceiveDatagram(timeoutMs, &from);
    if (size <= 0)
        return nullptr;
    auto msg = std::make_unique<CMsg>();
    // Exactly the datagram's bytes: a message may wait in a queue for long, and 8 KiB of capacity
    // behind each of thousands of short answers would add up.
    msg->data.assign(m_receiveBuffer.begin(), m_receiveBuffer.begin() + size);
    msg->address = from;
    msg->port = GetLocalPort();
    lastSender.store(from, std::memory_order_relaxed);
    return msg;
}

int32_t CUDPSocket::ReceiveDatagram(uint32_t timeoutMs, uint32_t* from) {
    if (m_receiveBuffer.size() != kMaxDatagramBytes)
        m_receiveBuffer.resize(kMaxDatagramBytes);
    const std::shared_lock<std::shared_mutex> inUse(m_descriptorGuard);
    const platform::SocketHandle fd = socketHandle.load(std::memory_order_acquire);
    if (fd == kNoSocket)
        return -1;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const platform::SocketWait ready =
            platform::WaitReadable(fd, static_cast<uint32_t>(std::max<decltype(left)>(left, 0)));
        if (ready == platform::SocketWait::Failed)
            return -1;
        if (ready == platform::SocketWait::TimedOut)
            return -1;
        // Woken by Close: a socket that was shut down stays readable but yields nothing to a
        // receive that does not wait.
        if (socketHandle.load(std::memory_order_acquire) != fd)
            return -1;
        if (ready == platform::SocketWait::Readable) {
            // The datagram's real length comes back, so an oversize one is recognised (and
            // dropped) rather than delivered cut short.
            const platform::ReceivedDatagram got =
                platform::ReceiveDatagram(fd, m_receiveBuffer.data(), m_receiveBuffer.size());
            if (got.length > static_cast<int64_t>(kMaxDatagramBytes))
                return -1;
            if (got.length >= 0) {
                *from = got.fromAddress;
                return static_cast<int32_t>(got.length);
            }
            if (!got.wouldBlock)
                return -1;
        }
        if (Clock::now() >= deadline)
            return -1;
    }
}

bool CUDPSocket::TimeoutThread() {
    // Only Close takes the socket away while a worker runs, and it stops the worker next. A worker
    // that went on meanwhile would find every read failing at once and, with no pause between
    // passes, keep the processor from the thread that is closing.
    if (!IsOpen())
        return false;
    for (int n = 0; n < kReadsPerPass; ++n) {
        const uint32_t timeoutMs = GetReadTimeoutMs();
        std::unique_ptr<CMsg> msg =
            GetStreamMode() != kStreamModeOff ? DebugRead(timeoutMs) : Read(timeoutMs);
        if (!msg)
            return true;
        DeliverReceived(std::move(msg));
    }
    // Every read of the pass found a datagram, so a burst may be waiting behind them. Take what is
    // already there without waiting, rather than let it pile up in the socket's buffer during the
    // pause before the next pass; a stop request ends this at once. Stream mode is left out: a
    // zero wait could cut a frame whose next datagram is still on its way.
    if (GetStreamMode() == kStreamModeOff) {
        while (!IsStopRequested()) {
            std::unique_ptr<CMsg> msg = Read(0);
            if (!msg)
                break;
            DeliverReceived(std::move(msg));
        }
    }
    return true;
}

void CUDPSocket::DeliverReceived(std::unique_ptr<CMsg> msg) {
    msg->address = GetLastSender();
    msg->port = GetLocalPort();
    if (GetDropOwnDatagrams() && m_ownAddresses.IsOwn(msg->address)) {
        if (IsDebugLogEnabled())
            LogDebug(Format("CUDPSocket::Deliver: own datagram dropped (IP:%s Size:%d bytes)",
                            Dotted(msg->address).c_str(), static_cast<int>(msg->data.size())));
        return;
    }
    Deliver(std::move(msg));
}

void CUDPSocket::Deliver(std::unique_ptr<CMsg> msg) {
    if (!msg)
        return;
    const int32_t endpointTag = GetTag();
    if (endpointTag != 0)
        msg->tag = endpointTag;
    CMsgQueue* target = queue.load(std::memory_order_acquire);
    if (IsRunning() && !IsStopRequested() && target != nullptr)
        target->Push(std::move(msg), signalQueue.load(std::memory_order_acquire));
    // Otherwise, or when the queue refused it, the message is deleted here.
}

int32_t CUDPSocket::GetReceiveBufferBytes() const {
    const std::shared_lock<std::shared_mutex> inUse(m_descriptorGuard);
    const platform::SocketHandle fd = socketHandle.load(std::memory_order_acquire);
    if (fd == kNoSocket)
        return -1;
    return platform::ReceiveBufferBytes(fd);
}

// ---- stream mode ----

size_t CUDPSocket::ReadStreamBytes(uint8_t* out, size_t count, uint32_t timeoutMs) {
    size_t delivered = 0;
    while (delivered < count) {
        if (!pendingMsg) {
            pendingMsg = ReadLocked(timeoutMs);
            if (!pendingMsg)
                break;
        }
        std::vector<uint8_t>& bytes = pendingMsg->data;
        const size_t take = std::min(count - delivered, bytes.size());
        std::copy_n(bytes.begin(), take, out + delivered);
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        if (bytes.empty())
            pendingMsg.reset();
        delivered += take;
    }
    return delivered;
}

std::unique_ptr<CMsg> CUDPSocket::DebugRead(uint32_t timeoutMs) {
    readLock.Lock(CTimedCriticalSection::kNoLimit);
    if (streamBuffer.empty())
        streamBuffer.resize(kStreamBufferBytes);
    std::unique_ptr<CMsg> msg;
    for (;;) {
        if (ReadStreamBytes(streamBuffer.data(), 1, timeoutMs) == 0)
            break; // nothing held: null
        const uint8_t first = streamBuffer[0];
        if (first == kLongFrameStart) {
            msg = ReadLongFrame(timeoutMs);
            break;
        }
        if (GetStreamMode() == kStreamModeEveryByte || first == 'C' || first == 'c') {
            if (IsDebugLogEnabled())
                LogDebug(Format("CUDPSocket::DebugRead: StartByte:0x%02x", first));
            msg = std::make_unique<CMsg>();
            msg->data.assign(1, first);
            break;
        }
        // Any other byte is dropped; the next one takes its place.
    }
    readLock.Unlock();
    return msg;
}

std::unique_ptr<CMsg> CUDPSocket::ReadLongFrame(uint32_t timeoutMs) {
    constexpr size_t kHeadBytes = 3; // 82 LL LL
    constexpr size_t kShortestFrame = 5;
    uint8_t* held = streamBuffer.data();
    size_t count = 1;
    while (count < kHeadBytes) {
        const size_t got = ReadStreamBytes(held + count, 2, timeoutMs);
        if (got == 0)
            return AbortStream(count);
        count += got;
    }
    const size_t length = platform::GetLe16(held + 1);
    if (length < kShortestFrame || length >= kStreamBufferBytes)
        return AbortStream(count);
    // The head read at most 4 bytes and length >= 5, so count never passes length.
    while (count < length) {
        const size_t got = ReadStreamBytes(held + count, length - count, timeoutMs);
        if (got == 0)
            return AbortStream(count);
        count += got;
    }
    auto msg = std::make_unique<CMsg>();
    msg->data.assign(held, held + count);
    return msg;
}

// What was held is logged and replaced by an empty message, so that the caller sees that a frame
// was lost: 82 04 00 -> "CUDPSocket::DebugRead: Abort: 3 bytes:82 04 00".
std::unique_ptr<CMsg> CUDPSocket::AbortStream(size_t count) {
    if (IsDebugLogEnabled()) {
        std::string bytes;
        for (size_t i = 0; i < count; ++i)
            bytes += Format(i == 0 ? "%02x" : " %02x", streamBuffer[i]);
        LogDebug("CUDPSocket::DebugRead: Abort: " + std::to_string(count) + " bytes:" + bytes);
    }
    return std::make_unique<CMsg>();
}

} // namespace qarn
