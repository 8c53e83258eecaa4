#pragma once

#include "firmware/IFirmwareTransport.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qarn {

class CqarnCommunicationClient;

// The firmware path through the local communication service: the transfer's datagrams go to the
// service as "S" records, and the converter's answers come back through the client's mailslot
// into the transfer's answer queue. The service puts the converter's own datagrams on the wire,
// so the bytes the converter receives are those of the UDP path.
class ClientFirmwareTransport : public IFirmwareTransport {
  public:
    // `limit`: the number the client is opened with (50 for the 1024-byte engine, 100 for the
    // fixed layout); `serviceId`: the service's queue.
    explicit ClientFirmwareTransport(int32_t limit, std::string serviceId = "qarnCS");
    ~ClientFirmwareTransport() override;

    bool Open(CMsgQueue& answers, uint32_t target, bool signalAnswers) override;
    bool Send(std::span<const uint8_t> datagram) override;
    void Close() override;

  private:
    std::unique_ptr<CqarnCommunicationClient> m_client;
    uint32_t m_target = 0;
    int32_t m_limit;
    std::string m_serviceId;
};

// Makes the firmware engines use ClientFirmwareTransport when they are asked not to use UDP
// (SetClientTransportFactory), with the service whose queue is `serviceId`. A program calls it
// once at start.
void RegisterClientFirmwareTransport(const std::string& serviceId = "qarnCS");

} // namespace qarn
