#pragma once

#include <cstdint>
#include <string>

namespace qarn::sim {

// Keeps the converters' addresses on the simulated LAN in step with the simulation: a converter
// whose address a write changes moves there, and one that restarts is off the LAN meanwhile (it
// answers neither UDP nor echo). Addresses in host order. False with a reason on failure.
class ISimAddressControl {
  public:
    virtual ~ISimAddressControl() = default;
    virtual bool Move(uint32_t from, uint32_t to, std::string* why) = 0;
    virtual bool Remove(uint32_t ip, std::string* why) = 0;
    virtual bool Add(uint32_t ip, std::string* why) = 0;
};

} // namespace qarn::sim
