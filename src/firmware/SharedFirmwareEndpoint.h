#pragma once

#include "firmware/FirmwareTransferEnvironment.h"
#include "firmware/IFirmwareTransport.h"
#include "firmware/UdpFirmwareTransport.h"
#include "net/CMsg.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <span>
#include <unordered_map>

namespace qarn {

class CMsgQueue;

// One UDP endpoint on port 58009 for many firmware transfers at once, each to another converter.
// The converters answer to port 58009, so only one endpoint can hear them; this one hands every
// datagram to the transfer of its source address and drops the rest (counted), so a transfer sees
// exactly what UdpFirmwareTransport would have shown it had it been alone: only its converter's
// datagrams, in the order they came. Sends are the same datagrams to the same port.
//
//     SharedFirmwareEndpoint shared;
//     if (!shared.Open()) ...                         // port 58009 taken
//     const FirmwareTransferEnvironment environment = shared.MakeEnvironment();
//     // on each worker thread:
//     CSam4Transfer(environment).Run("198.18.1.7", image, &progress, true, true, &result);
//
// A converter has one transfer at a time: a second transport opened for an address that already
// has one fails its Open (logged). Transports made here must be closed before the endpoint is
// closed or destroyed; the engines close theirs before Run returns. Open and Close come from the
// owner's thread; transports may be opened, used and closed from any threads at once.
class SharedFirmwareEndpoint {
  public:
    static constexpr int32_t kPort = UdpFirmwareTransport::kPort;
    // Answers that may wait in one transfer's queue: an engine takes each as it comes, so more
    // than this only piles up from a peer that floods, and the overflow is dropped.
    static constexpr size_t kAnswerQueueCapacity = 256;

    explicit SharedFirmwareEndpoint(uint32_t workerPauseMs = UdpFirmwareTransport::kWorkerPauseMs);
    ~SharedFirmwareEndpoint();

    SharedFirmwareEndpoint(const SharedFirmwareEndpoint&) = delete;
    SharedFirmwareEndpoint& operator=(const SharedFirmwareEndpoint&) = delete;

    // Binds port 58009 on every address and starts the receive worker. False (logged) when the
    // port is taken or no worker could be had.
    bool Open();
    void Close();
    bool IsOpen() const;

    // A transport for one transfer over this endpoint. Its Open fails while the endpoint is closed.
    std::unique_ptr<IFirmwareTransport> MakeTransport();

    // `base` with its UDP transports made here; a transfer that asks for the communication client
    // gets none (it fails at once with a log line), since that path has its own endpoint.
    FirmwareTransferEnvironment
    MakeEnvironment(FirmwareTransferEnvironment base = FirmwareTransferEnvironment::Default());

    // Datagrams that reached the port from an address without a transfer, and answers a full
    // queue refused, since Open.
    uint64_t GetUnroutedCount() const { return m_unrouted.load(std::memory_order_relaxed); }
    uint64_t GetOverflowCount() const { return m_overflow.load(std::memory_order_relaxed); }

  private:
    class RoutingSocket;
    class Transport;

    struct Route {
        CMsgQueue* queue = nullptr;
        bool signal = false;
    };

    // False when `target` already has a transfer or the endpoint is closed.
    bool Register(uint32_t target, CMsgQueue& queue, bool signal);
    // After it returns, nothing is pushed into that route's queue any more.
    void Unregister(uint32_t target);
    bool Send(uint32_t target, std::span<const uint8_t> datagram);
    // On the receive worker: the datagram to its source's transfer, or away.
    void Dispatch(std::unique_ptr<CMsg> msg);

    uint32_t m_workerPauseMs;
    std::unique_ptr<RoutingSocket> m_socket;
    // The worker wants a queue to start; Dispatch never pushes into it.
    std::unique_ptr<CMsgQueue> m_idleQueue;
    mutable std::shared_mutex m_routesLock;
    std::unordered_map<uint32_t, Route> m_routes; // under m_routesLock
    std::atomic<uint64_t> m_unrouted{0};
    std::atomic<uint64_t> m_overflow{0};
};

} // namespace qarn
