#include "platform/Interfaces.h"

#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <new>

namespace qarn::platform {

namespace {

uint32_t Ipv4Of(const sockaddr* address) {
    if (address == nullptr || address->sa_family != AF_INET)
        return 0;
    return reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
}

uint32_t FlagsOf(unsigned int systemFlags) {
    uint32_t flags = 0;
    if ((systemFlags & IFF_UP) != 0)
        flags |= kInterfaceUp;
    if ((systemFlags & IFF_BROADCAST) != 0)
        flags |= kInterfaceBroadcast;
    if ((systemFlags & IFF_LOOPBACK) != 0)
        flags |= kInterfaceLoopback;
    if ((systemFlags & IFF_POINTOPOINT) != 0)
        flags |= kInterfacePointToPoint;
    if ((systemFlags & IFF_MULTICAST) != 0)
        flags |= kInterfaceMulticast;
    return flags;
}

} // namespace

bool EnumerateInterfaces(std::vector<InterfaceRecord>& records, int* error, size_t maxRecords) {
    records.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        if (error != nullptr)
            *error = errno;
        return false;
    }
    try {
        for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
            if (records.size() >= maxRecords)
                break;
            if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET ||
                (item->ifa_flags & IFF_UP) == 0)
                continue;
            InterfaceRecord record;
            record.flags = FlagsOf(item->ifa_flags);
            record.address = Ipv4Of(item->ifa_addr);
            record.netmask = Ipv4Of(item->ifa_netmask);
            record.name = item->ifa_name != nullptr ? item->ifa_name : "";
            // An address added without an explicit broadcast ("ip addr add 10.0.0.1/24 dev x")
            // comes back with its own address in that place; the system still treats the
            // network's last address as its broadcast, so that is what the record says then.
            // (ifa_broadaddr shares its storage with the point-to-point peer address.)
            if ((item->ifa_flags & IFF_BROADCAST) != 0) {
                record.broadcast = Ipv4Of(item->ifa_broadaddr);
                if (record.broadcast == 0 || record.broadcast == record.address)
                    record.broadcast = record.address | ~record.netmask;
            }
            records.push_back(record);
        }
    } catch (const std::bad_alloc&) {
        freeifaddrs(list);
        records.clear();
        if (error != nullptr)
            *error = ENOMEM;
        return false;
    }
    freeifaddrs(list);
    if (error != nullptr)
        *error = 0;
    return true;
}

} // namespace qarn::platform
