#include "platform/Interfaces.h"
#include "platform/WinText.h"
#include "platform/WindowsApi.h"

#include <iphlpapi.h>
#include <new>
#include <vector>

namespace qarn::platform {

namespace {

uint32_t NetmaskOf(UINT8 prefixLength) {
    if (prefixLength == 0)
        return 0;
    const uint32_t hostOrder = prefixLength >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefixLength);
    return htonl(hostOrder);
}

} // namespace

bool EnumerateInterfaces(std::vector<InterfaceRecord>& records, int* error, size_t maxRecords) {
    records.clear();
    // The list's size changes between the two calls when an adapter comes up meanwhile; a few
    // rounds settle that.
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG code = ERROR_BUFFER_OVERFLOW;
    try {
        for (int round = 0; round < 4 && code == ERROR_BUFFER_OVERFLOW; ++round) {
            buffer.resize(size);
            code =
                GetAdaptersAddresses(AF_INET, flags, nullptr,
                                     reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        }
    } catch (const std::bad_alloc&) {
        code = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (code == ERROR_NO_DATA)
        code = NO_ERROR; // no adapter at all: an empty list
    if (code != NO_ERROR) {
        if (error != nullptr)
            *error = static_cast<int>(code);
        return false;
    }
    try {
        const auto* first = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
        for (const IP_ADAPTER_ADDRESSES* adapter = size != 0 ? first : nullptr; adapter != nullptr;
             adapter = adapter->Next) {
            if (adapter->OperStatus != IfOperStatusUp)
                continue;
            const bool loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            const bool pointToPoint =
                adapter->IfType == IF_TYPE_PPP || adapter->IfType == IF_TYPE_TUNNEL;
            for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
                 unicast != nullptr; unicast = unicast->Next) {
                if (records.size() >= maxRecords)
                    break;
                const SOCKADDR* address = unicast->Address.lpSockaddr;
                if (address == nullptr || address->sa_family != AF_INET)
                    continue;
                InterfaceRecord record;
                record.flags = kInterfaceUp;
                if (loopback)
                    record.flags |= kInterfaceLoopback;
                else if (pointToPoint)
                    record.flags |= kInterfacePointToPoint;
                else
                    record.flags |= kInterfaceBroadcast;
                if ((adapter->Flags & IP_ADAPTER_NO_MULTICAST) == 0)
                    record.flags |= kInterfaceMulticast;
                record.address = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
                record.netmask = NetmaskOf(unicast->OnLinkPrefixLength);
                // Windows keeps no broadcast address of its own: the network's last address.
                if ((record.flags & kInterfaceBroadcast) != 0)
                    record.broadcast = record.address | ~record.netmask;
                // The adapter's friendly name ("Ethernet 2"), as --interface takes it.
                record.name = adapter->FriendlyName != nullptr ? WideToUtf8(adapter->FriendlyName)
                                                               : std::string(adapter->AdapterName);
                records.push_back(record);
            }
        }
    } catch (const std::bad_alloc&) {
        records.clear();
        if (error != nullptr)
            *error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    if (error != nullptr)
        *error = 0;
    return true;
}

} // namespace qarn::platform
