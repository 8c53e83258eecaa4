#pragma once

#include "firmware/IFirmwareTransport.h"

#include <cstdint>
#include <memory>

namespace qarn {

class CUDPSocket;

// The firmware path over the engine's private UDP endpoint: bound to local port 58009 on every
// address, sending to the converter's port 58009, with a receive worker that waits up to 100 ms
// per read. The application's own endpoint on that port must be closed while this one is open,
// or the answers may go to either.
//
// The worker pauses between receive passes, and an answer that arrives during a pause waits: the
// first one, and one after every CUDPSocket::kReadsPerPass answers. A transfer is stop-and-wait,
// so each such wait delays the whole transfer; with the application's 10 ms the pauses cost about
// 50 ms per image on a fast link. This worker does not pause at all: each of its reads already
// waits up to kReadTimeoutMs for a datagram, so an idle worker does not spin, and a closed socket
// ends its reads only while Close is stopping the worker anyway. A benchmark may pass another
// pause to show that share.
class UdpFirmwareTransport : public IFirmwareTransport {
  public:
    static constexpr int32_t kPort = 58009;
    static constexpr uint32_t kWorkerPauseMs = 0;
    static constexpr uint32_t kReadTimeoutMs = 100;

    explicit UdpFirmwareTransport(uint32_t workerPauseMs = kWorkerPauseMs);
    ~UdpFirmwareTransport() override;

    bool Open(CMsgQueue& answers, uint32_t target, bool signalAnswers) override;
    bool Send(std::span<const uint8_t> datagram) override;
    void Close() override;

  private:
    std::unique_ptr<CUDPSocket> m_endpoint;
    uint32_t m_target = 0;
    uint32_t m_workerPauseMs;
};

} // namespace qarn
