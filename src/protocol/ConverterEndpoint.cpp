#include "protocol/ConverterEndpoint.h"

namespace qarn {

ConverterEndpoint::ConverterEndpoint(CMsgQueue& queue, int32_t port)
    : m_queue(queue), m_port(port == 0 ? CUDPSocket::kConverterPort : port) {}

ConverterEndpoint::~ConverterEndpoint() {
    m_socket.Close();
}

bool ConverterEndpoint::IsOpen() const {
    return m_socket.IsOpen();
}

bool ConverterEndpoint::Open() {
    if (!m_socket.Open(CUDPSocket::kBroadcastAddress, m_port, 0, 0))
        return false;
    if (!m_socket.StartReceiving(&m_queue, kReceivePauseMs, false, kReadTimeoutMs)) {
        m_socket.Close();
        return false;
    }
    return true;
}

void ConverterEndpoint::Close() {
    m_socket.Close();
}

bool ConverterEndpoint::Send(const std::vector<uint8_t>& datagram, uint32_t address, int32_t port) {
    return m_socket.Write(datagram, address, port == 0 ? m_port : port);
}

} // namespace qarn
