#include "platform/Neighbour.h"
#include "platform/WindowsApi.h"

#include <algorithm>
#include <iphlpapi.h>
#include <netioapi.h>

namespace qarn::platform {

NeighbourLookupResult LookupNeighbour(uint32_t address) {
    NeighbourLookupResult result;
    MIB_IPNET_TABLE2* table = nullptr;
    const NETIO_STATUS code = GetIpNetTable2(AF_INET, &table);
    if (code != NO_ERROR) {
        result.error = static_cast<int32_t>(code);
        return result;
    }
    result.status = NeighbourLookupStatus::NoRow;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        if (row.Address.si_family != AF_INET || row.Address.Ipv4.sin_addr.s_addr != address)
            continue;
        // The states whose address the host uses; Incomplete and Unreachable carry none.
        const bool usable = row.State == NlnsReachable || row.State == NlnsStale ||
                            row.State == NlnsDelay || row.State == NlnsProbe ||
                            row.State == NlnsPermanent;
        if (!usable || row.PhysicalAddressLength != result.mac.size())
            continue;
        std::copy_n(row.PhysicalAddress, result.mac.size(), result.mac.begin());
        result.status = NeighbourLookupStatus::Found;
        break;
    }
    FreeMibTable(table);
    return result;
}

} // namespace qarn::platform
