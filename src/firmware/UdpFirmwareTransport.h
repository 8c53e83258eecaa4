#pragma once

#include "firmware/IFirmwareTransport.h"

#include <cstdint>
#include <memory>

namespace qarn {

class CUDPSocket;

// The firmware path over the engine's private UDP endpoint: bound to local port 58009 on every
// address, sending to the converter's port 58009, with a receive worker that pauses 10 ms between
// passes and waits up to 100 ms per read. The application's own endpoint on that port must be
// closed while this one is open, or the answers may go to either.
//
// The pause delays an answer that arrives during it: the first one, and one after every
// CUDPSocket::kReadsPerPass answers (up to 10 ms each, about 50 ms over 147 exchanges on a fast
// link). A benchmark may pass another pause to show that share.
class UdpFirmwareTransport : public IFirmwareTransport {
  public:
    static constexpr int32_t kPort = 58009;
    static constexpr uint32_t kWorkerPauseMs = 10;
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
