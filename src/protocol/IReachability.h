#pragma once

#include <cstdint>

namespace qarn {

// Whether a host answers an ICMP echo. The device list asks once for every new converter and the
// configuration write asks before it moves a converter to a new address; tests put a table of
// answers in its place so that they never touch the network.
class IReachability {
  public:
    virtual ~IReachability() = default;

    // One echo to `address` (network order). True when a reply came back; false for no reply, an
    // error reply, or no echo possible at all. May block for the echo's time-out.
    virtual bool Echo(uint32_t address) = 0;
};

} // namespace qarn
