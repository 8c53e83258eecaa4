#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The machine's IPv4 interface addresses, one record per address of an interface that is up, in
// the order the system lists them (by interface, then by address), so that two calls on an
// unchanged machine give the same list. A machine with lo (127.0.0.1/8) and eth0
// (192.168.1.20/24) gives:
//   { Up|Loopback,            127.0.0.1,    broadcast 0,             netmask 255.0.0.0,     "lo" }
//   { Up|Broadcast|Multicast, 192.168.1.20, broadcast 192.168.1.255, netmask 255.255.255.0, "eth0"
//   }
// Addresses are in network order (first octet in the lowest byte).

namespace qarn::platform {

// At most this many records are reported; further addresses are left out.
inline constexpr size_t kMaxInterfaceRecords = 128;

// Flag bits of a record (the values the configuration code tests, e.g. 4 for loopback).
inline constexpr uint32_t kInterfaceUp = 0x01;
inline constexpr uint32_t kInterfaceBroadcast = 0x02;
inline constexpr uint32_t kInterfaceLoopback = 0x04;
inline constexpr uint32_t kInterfacePointToPoint = 0x08;
inline constexpr uint32_t kInterfaceMulticast = 0x10;

struct InterfaceRecord {
    uint32_t flags = 0;
    uint32_t address = 0;
    // The interface's broadcast address when it has one (kInterfaceBroadcast), else 0. Where
    // none was configured it is the network's last address (address | ~netmask).
    uint32_t broadcast = 0;
    uint32_t netmask = 0;
    // The interface's name ("eth0"), or the address's label where it has one ("eth0:1").
    std::string name;

    friend bool operator==(const InterfaceRecord&, const InterfaceRecord&) = default;
};

// Replaces `records` with the current list, at most `maxRecords` of them. False, with `records`
// empty and the system's error number in `error` (when given), when the list cannot be read.
bool EnumerateInterfaces(std::vector<InterfaceRecord>& records, int* error = nullptr,
                         size_t maxRecords = kMaxInterfaceRecords);

} // namespace qarn::platform
