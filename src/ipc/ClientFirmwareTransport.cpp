#include "ipc/ClientFirmwareTransport.h"

#include "firmware/FirmwareTransferEnvironment.h"
#include "ipc/CqarnCommunicationClient.h"

#include <utility>

namespace qarn {

ClientFirmwareTransport::ClientFirmwareTransport(int32_t limit, std::string serviceId)
    : m_limit(limit), m_serviceId(std::move(serviceId)) {}

ClientFirmwareTransport::~ClientFirmwareTransport() {
    Close();
}

// The client signals every answer it queues, which suits both ways an engine waits.
bool ClientFirmwareTransport::Open(CMsgQueue& answers, uint32_t target, bool /*signalAnswers*/) {
    Close();
    m_target = target;
    m_client = std::make_unique<CqarnCommunicationClient>();
    m_client->Client().SetServiceId(m_serviceId);
    if (!m_client->Client().Open(&answers, target, static_cast<uint32_t>(m_limit))) {
        m_client.reset();
        return false;
    }
    return true;
}

bool ClientFirmwareTransport::Send(std::span<const uint8_t> datagram) {
    return m_client != nullptr && m_client->Client().Send(m_target, datagram);
}

void ClientFirmwareTransport::Close() {
    if (!m_client)
        return;
    // After Close no answer reaches the queue: the mailslot's worker has stopped.
    m_client->Client().Close();
    m_client.reset();
}

void RegisterClientFirmwareTransport(const std::string& serviceId) {
    SetClientTransportFactory([serviceId](int32_t limit) -> std::unique_ptr<IFirmwareTransport> {
        return std::make_unique<ClientFirmwareTransport>(limit, serviceId);
    });
}

} // namespace qarn
