#include "ipc/CqarnCommunicationClient.h"

namespace qarn {

CqarnCommunicationClient::CqarnCommunicationClient()
    : m_client(std::make_unique<CqarnCommunicationClient3>()), m_serial(this) {}

CqarnCommunicationClient::~CqarnCommunicationClient() {
    // The port first: its worker forwards into the connection.
    m_serial.StopThread();
    m_serial.Close();
    m_client.reset();
}

} // namespace qarn
