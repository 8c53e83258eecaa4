#include "firmware/SharedFirmwareEndpoint.h"

#include "diag/FileLogger.h"
#include "net/CMsgQueue.h"
#include "net/CUDPSocket.h"
#include "protocol/ConverterText.h"

#include <mutex>
#include <utility>

namespace qarn {

// The endpoint's socket, whose receive worker hands each datagram to the owner instead of one
// queue.
class SharedFirmwareEndpoint::RoutingSocket : public CUDPSocket {
  public:
    explicit RoutingSocket(SharedFirmwareEndpoint& owner) : m_owner(owner) {}
    ~RoutingSocket() override { Close(); }

    void Deliver(std::unique_ptr<CMsg> msg) override {
        if (msg && IsRunning() && !IsStopRequested())
            m_owner.Dispatch(std::move(msg));
    }

  private:
    SharedFirmwareEndpoint& m_owner;
};

class SharedFirmwareEndpoint::Transport : public IFirmwareTransport {
  public:
    explicit Transport(SharedFirmwareEndpoint& owner) : m_owner(owner) {}
    ~Transport() override { Close(); }

    bool Open(CMsgQueue& answers, uint32_t target, bool signalAnswers) override {
        Close();
        answers.SetCapacity(kAnswerQueueCapacity);
        if (!m_owner.Register(target, answers, signalAnswers))
            return false;
        m_target = target;
        m_registered = true;
        return true;
    }

    bool Send(std::span<const uint8_t> datagram) override {
        return m_registered && m_owner.Send(m_target, datagram);
    }

    void Close() override {
        if (!m_registered)
            return;
        m_owner.Unregister(m_target);
        m_registered = false;
    }

  private:
    SharedFirmwareEndpoint& m_owner;
    uint32_t m_target = 0;
    bool m_registered = false;
};

SharedFirmwareEndpoint::SharedFirmwareEndpoint(uint32_t workerPauseMs)
    : m_workerPauseMs(workerPauseMs) {}

SharedFirmwareEndpoint::~SharedFirmwareEndpoint() {
    Close();
}

bool SharedFirmwareEndpoint::Open() {
    Close();
    m_unrouted.store(0, std::memory_order_relaxed);
    m_overflow.store(0, std::memory_order_relaxed);
    m_idleQueue = std::make_unique<CMsgQueue>();
    m_socket = std::make_unique<RoutingSocket>(*this);
    // No remote address of its own: every send names its converter.
    if (!m_socket->Open(0, kPort, kPort, 0)) {
        m_socket.reset();
        return false;
    }
    m_socket->StartReceiving(m_idleQueue.get(), m_workerPauseMs, false,
                             UdpFirmwareTransport::kReadTimeoutMs);
    if (!m_socket->IsRunning()) {
        if (IsErrorLogEnabled())
            LogError("SharedFirmwareEndpoint::Open: the receive worker did not start");
        m_socket.reset();
        return false;
    }
    return true;
}

void SharedFirmwareEndpoint::Close() {
    // The socket's destructor stops the worker before it returns: no Dispatch runs afterwards.
    m_socket.reset();
    m_idleQueue.reset();
    const std::unique_lock<std::shared_mutex> guard(m_routesLock);
    if (!m_routes.empty() && IsWarningLogEnabled())
        LogWarning("SharedFirmwareEndpoint::Close: " + std::to_string(m_routes.size()) +
                   " transfers still open");
    m_routes.clear();
}

bool SharedFirmwareEndpoint::IsOpen() const {
    return m_socket != nullptr && m_socket->IsOpen();
}

std::unique_ptr<IFirmwareTransport> SharedFirmwareEndpoint::MakeTransport() {
    return std::make_unique<Transport>(*this);
}

FirmwareTransferEnvironment
SharedFirmwareEndpoint::MakeEnvironment(FirmwareTransferEnvironment base) {
    base.makeTransport = [this](bool useUdp, int32_t) -> std::unique_ptr<IFirmwareTransport> {
        return useUdp ? MakeTransport() : nullptr;
    };
    return base;
}

bool SharedFirmwareEndpoint::Register(uint32_t target, CMsgQueue& queue, bool signal) {
    if (!IsOpen()) {
        if (IsErrorLogEnabled())
            LogError("SharedFirmwareEndpoint::Register: Dst:'" + IpToText(target) +
                     "' the endpoint is not open");
        return false;
    }
    const std::unique_lock<std::shared_mutex> guard(m_routesLock);
    if (!m_routes.emplace(target, Route{&queue, signal}).second) {
        if (IsErrorLogEnabled())
            LogError("SharedFirmwareEndpoint::Register: Dst:'" + IpToText(target) +
                     "' a transfer to this converter is already running");
        return false;
    }
    return true;
}

void SharedFirmwareEndpoint::Unregister(uint32_t target) {
    const std::unique_lock<std::shared_mutex> guard(m_routesLock);
    m_routes.erase(target);
}

bool SharedFirmwareEndpoint::Send(uint32_t target, std::span<const uint8_t> datagram) {
    RoutingSocket* socket = m_socket.get();
    return socket != nullptr && socket->Write(datagram.data(), datagram.size(), target, kPort);
}

void SharedFirmwareEndpoint::Dispatch(std::unique_ptr<CMsg> msg) {
    // The push happens under the shared lock, so Unregister (exclusive) waits for a push into the
    // queue it removes, and the queue is never touched after its transfer closed.
    const std::shared_lock<std::shared_mutex> guard(m_routesLock);
    const auto route = m_routes.find(msg->address);
    if (route == m_routes.end()) {
        m_unrouted.fetch_add(1, std::memory_order_relaxed);
        if (IsDebugLogEnabled())
            LogDebug("SharedFirmwareEndpoint::Dispatch: Ignored:" +
                     std::to_string(msg->data.size()) + " bytes from " + IpToText(msg->address));
        return;
    }
    if (!route->second.queue->Push(std::move(msg), route->second.signal))
        m_overflow.fetch_add(1, std::memory_order_relaxed);
}

} // namespace qarn
