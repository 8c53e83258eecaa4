#include "protocol/DiscoveryCycle.h"

#include "protocol/LANconvConfigHdr.h"
#include "protocol/Scramble.h"

namespace qarn {

std::vector<uint8_t> BuildDiscoveryRequest(uint32_t seed) {
    LANconvConfigHdr header;
    header.byType = 1;
    header.byCmd = kCmdDiscoveryRequest;
    header.dwSeed = seed;
    const auto bytes = header.Encode();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

DiscoveryCycle::DiscoveryCycle(IConverterEndpoint& endpoint, DeviceList& list)
    : m_endpoint(endpoint), m_list(list) {}

DiscoveryTick DiscoveryCycle::Tick() {
    if (!m_endpoint.IsOpen()) {
        m_endpoint.Close();
        m_list.Clear();
        return m_endpoint.Open() ? DiscoveryTick::Reopened : DiscoveryTick::ReopenFailed;
    }
    --m_countdown;
    if (m_countdown > 0)
        return DiscoveryTick::Waiting;
    const bool sent = SendDiscovery();
    m_countdown = kTicksPerRequest;
    m_list.RemoveStaleEntries();
    m_list.LogDrops();
    return sent ? DiscoveryTick::RequestSent : DiscoveryTick::RequestFailed;
}

bool DiscoveryCycle::SendDiscovery() {
    return m_endpoint.Send(BuildDiscoveryRequest(MakeSeed()), IConverterEndpoint::kBroadcast, 0);
}

} // namespace qarn
