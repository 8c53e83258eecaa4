#include "protocol/ConverterEndpoint.h"

#include "diag/FileLogger.h"
#include "platform/Interfaces.h"

#include <algorithm>

namespace qarn {

ConverterEndpoint::ConverterEndpoint(CMsgQueue& queue, int32_t port)
    : m_queue(queue), m_port(port == 0 ? CUDPSocket::kConverterPort : port) {
    // The list would take the tool's own broadcast write for the converter's answer.
    m_socket.SetDropOwnDatagrams(true);
}

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
    const int32_t target = port == 0 ? m_port : port;
    if (address == kBroadcast) {
        const std::string name = GetBroadcastInterface();
        if (!name.empty())
            return SendToInterface(datagram, name, target);
    }
    return m_socket.Write(datagram, address, target);
}

bool ConverterEndpoint::SetBroadcastInterface(const std::string& name) {
    const std::lock_guard<std::mutex> guard(m_interfaceLock);
    m_broadcastInterface = name;
    return true;
}

std::string ConverterEndpoint::GetBroadcastInterface() const {
    const std::lock_guard<std::mutex> guard(m_interfaceLock);
    return m_broadcastInterface;
}

bool ConverterEndpoint::SendToInterface(const std::vector<uint8_t>& datagram,
                                        const std::string& name, int32_t port) {
    // The directed broadcast leaves through the interface whose network it belongs to; the
    // limited broadcast 255.255.255.255 would follow the default route instead, so it is left out.
    const std::vector<uint32_t> targets = DirectedBroadcastsOf(name);
    if (targets.empty()) {
        if (IsWarningLogEnabled())
            LogWarning("ConverterEndpoint::Send: no IPv4 address on interface '" + name +
                       "', broadcast not sent");
        return false;
    }
    bool all = true;
    for (const uint32_t target : targets)
        all = m_socket.Write(datagram, target, port) && all;
    return all;
}

std::vector<uint32_t> ConverterEndpoint::DirectedBroadcastsOf(const std::string& name) {
    std::vector<uint32_t> targets;
    std::vector<platform::InterfaceRecord> records;
    if (name.empty() || !platform::EnumerateInterfaces(records))
        return targets;
    for (const platform::InterfaceRecord& record : records) {
        const bool labelOfIt = record.name.size() > name.size() &&
                               record.name.compare(0, name.size(), name) == 0 &&
                               record.name[name.size()] == ':';
        if ((record.name != name && !labelOfIt) ||
            (record.flags & platform::kInterfaceLoopback) != 0)
            continue;
        const uint32_t directed = record.address | ~record.netmask;
        if (std::find(targets.begin(), targets.end(), directed) == targets.end())
            targets.push_back(directed);
    }
    return targets;
}

std::vector<std::string> ConverterEndpoint::ListBroadcastInterfaces() {
    std::vector<std::string> names;
    std::vector<platform::InterfaceRecord> records;
    if (!platform::EnumerateInterfaces(records))
        return names;
    for (const platform::InterfaceRecord& record : records) {
        if ((record.flags & platform::kInterfaceLoopback) != 0)
            continue;
        const std::string name = record.name.substr(0, record.name.find(':'));
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

} // namespace qarn
