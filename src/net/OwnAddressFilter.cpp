#include "net/OwnAddressFilter.h"

#include "platform/Interfaces.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace qarn {

namespace {

// 127.0.0.0/8 whatever lo is given: the system takes the whole network as its own.
bool IsLoopbackNetwork(uint32_t address) {
    return (address & 0xFF) == 127; // first octet, network order
}

} // namespace

OwnAddressFilter::OwnAddressFilter(Reader reader) : m_reader(std::move(reader)) {}

bool OwnAddressFilter::ReadInterfaceAddresses(std::vector<uint32_t>& addresses) {
    std::vector<platform::InterfaceRecord> records;
    if (!platform::EnumerateInterfaces(records, nullptr, std::numeric_limits<size_t>::max()))
        return false;
    addresses.clear();
    for (const platform::InterfaceRecord& record : records)
        addresses.push_back(record.address);
    return true;
}

bool OwnAddressFilter::IsOwn(uint32_t source, Clock::time_point now) {
    if (IsLoopbackNetwork(source))
        return true;
    if (!m_read || now - m_readAt >= kRefreshAfter) {
        std::vector<uint32_t> addresses;
        if (m_reader(addresses)) {
            std::sort(addresses.begin(), addresses.end());
            m_addresses = std::move(addresses);
        }
        // A failed read is not retried at every datagram of a burst either.
        m_readAt = now;
        m_read = true;
    }
    return std::binary_search(m_addresses.begin(), m_addresses.end(), source);
}

} // namespace qarn
