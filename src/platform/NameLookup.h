#pragma once

#include <cstdint>
#include <string>

// Host name -> IPv4 address through the system's resolver (hosts file, DNS, whatever the system
// is set up to ask), first IPv4 address only. Dotted text resolves to itself without asking
// anyone: "192.168.1.10" -> 0x0A01A8C0. Nothing is cached here; safe from any thread.

namespace qarn::platform {

enum class NameLookupStatus {
    Found,    // `address` holds the first IPv4 address
    NotFound, // the resolver answered: no such name, or a name without an IPv4 address
    Failed,   // the lookup could not be made (resolver unreachable, out of memory, bad text)
};

struct NameLookupResult {
    NameLookupStatus status = NameLookupStatus::Failed;
    uint32_t address = 0; // network order; 0 unless Found
    // For Failed: the resolver's error code (a negative getaddrinfo code such as -3 for a
    // temporary failure), or the system's errno when the resolver reports a system error.
    int32_t error = 0;
};

NameLookupResult LookupHostIPv4(const std::string& name);

} // namespace qarn::platform
