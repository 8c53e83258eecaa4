#pragma once

#include <array>
#include <cstdint>

// IPv4 -> link-layer (MAC) address from the kernel's neighbour table, the table that ARP fills.
//
// A row is an entry for the address whose link-layer address is usable: its state is one of
// REACHABLE, STALE, DELAY, PROBE, PERMANENT or NOARP, and the address is 6 bytes long (Ethernet).
// Entries still being resolved (INCOMPLETE), that failed to resolve (FAILED) or that are empty
// (NONE) carry no address the host could use, so they count as no row; so do entries of links
// whose addresses are not 6 bytes. When several interfaces hold a row for the address, the first
// one the kernel lists wins.
//
// Safe from any thread; each call asks the kernel afresh.

namespace qarn::platform {

enum class NeighbourLookupStatus {
    Found,  // `mac` holds the address
    NoRow,  // the table was read and holds no row for the address
    Failed, // the table could not be read
};

struct NeighbourLookupResult {
    NeighbourLookupStatus status = NeighbourLookupStatus::Failed;
    std::array<uint8_t, 6> mac{}; // zeros unless Found
    int32_t error = 0;            // errno for Failed (also errors the kernel sent back), else 0
};

// `address` in network order: 192.168.0.1 -> 0x0100A8C0.
NeighbourLookupResult LookupNeighbour(uint32_t address);

} // namespace qarn::platform
