#pragma once

#include <cstdint>
#include <string>

namespace qarn::platform {

// Which program holds local UDP port `port` (any address, IPv4 or IPv6), as "nc, process 4711";
// empty when no socket is bound to it or the system does not tell (another user's process when
// this one may not look into it). For a message to the user only: the answer may be stale the
// moment it is given.
std::string DescribeUdpPortHolder(uint16_t port);

} // namespace qarn::platform
