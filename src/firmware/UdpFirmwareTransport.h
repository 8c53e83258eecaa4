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
// 50 ms per image on a fast link. 1 ms keeps that small while a closed socket still cannot make
// the worker spin. A benchmark may pass another pause to show that share.
class UdpFirmwareTransport : public IFirmwareTransport {
  public:
    static constexpr int32_t kPort = 58009;
    static constexpr uint32_t kWorkerPauseMs = 1;
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
