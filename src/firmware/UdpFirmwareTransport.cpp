#include "firmware/UdpFirmwareTransport.h"

#include "diag/FileLogger.h"
#include "net/CMsgQueue.h"
#include "net/CUDPSocket.h"

namespace qarn {

UdpFirmwareTransport::UdpFirmwareTransport(uint32_t workerPauseMs)
    : m_workerPauseMs(workerPauseMs) {}

UdpFirmwareTransport::~UdpFirmwareTransport() {
    Close();
}

bool UdpFirmwareTransport::Open(CMsgQueue& answers, uint32_t target, bool signalAnswers) {
    Close();
    m_target = target;
    m_endpoint = std::make_unique<CUDPSocket>();
    if (!m_endpoint->Open(target, kPort, kPort, 0)) {
        m_endpoint.reset();
        return false;
    }
    m_endpoint->StartReceiving(&answers, m_workerPauseMs, signalAnswers, kReadTimeoutMs);
    // StartThread reports success even when no thread could be had; without the worker no
    // answer would ever arrive, and every block would cost its time-outs.
    if (!m_endpoint->IsRunning()) {
        if (IsErrorLogEnabled())
            LogError("UdpFirmwareTransport::Open: the receive worker did not start");
        m_endpoint.reset();
        return false;
    }
    return true;
}

bool UdpFirmwareTransport::Send(std::span<const uint8_t> datagram) {
    return m_endpoint != nullptr &&
           m_endpoint->Write(datagram.data(), datagram.size(), m_target, kPort);
}

void UdpFirmwareTransport::Close() {
    // The endpoint's destructor closes the socket and stops the worker before it returns, so no
    // answer reaches the queue afterwards.
    m_endpoint.reset();
}

} // namespace qarn
