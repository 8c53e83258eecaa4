#pragma once

#include "net/CMsgQueue.h"
#include "net/CUDPSocket.h"
#include "protocol/IConverterEndpoint.h"

#include <cstdint>
#include <vector>

namespace qarn {

// The application's endpoint: a CUDPSocket bound to the converter port (any local address, held
// alone: no other process can bind it beside it) whose receive worker pushes every datagram, with
// its source address, onto `queue` for the answer pump. Broadcasts fan out to every local network
// from the endpoint itself (CUDPSocket).
//
// Threads: Open, Close and IsOpen belong to the thread that owns the device list; Send may come
// from any thread.
class ConverterEndpoint : public IConverterEndpoint {
  public:
    // Pause between the receive worker's passes and the wait of each of its reads (ms).
    static constexpr uint32_t kReceivePauseMs = 10;
    static constexpr uint32_t kReadTimeoutMs = 100;

    // `queue` must outlive the endpoint. `port` is the local port and, unless a send names
    // another, the converters' port.
    explicit ConverterEndpoint(CMsgQueue& queue, int32_t port = CUDPSocket::kConverterPort);
    ~ConverterEndpoint() override;
    ConverterEndpoint(const ConverterEndpoint&) = delete;
    ConverterEndpoint& operator=(const ConverterEndpoint&) = delete;

    bool IsOpen() const override;
    bool Open() override;
    void Close() override;
    bool Send(const std::vector<uint8_t>& datagram, uint32_t address, int32_t port) override;

    int32_t GetPort() const { return m_port; }

  private:
    CMsgQueue& m_queue;
    int32_t m_port;
    CUDPSocket m_socket;
};

} // namespace qarn
