#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qarn::sim {

class CSimConverter;

// What a converter needs from the fleet that holds it: a way out for its answers, the log, its
// address on the simulated LAN and a timer. Times are milliseconds of the fleet's clock.
class ISimHost {
  public:
    virtual ~ISimHost() = default;

    // Queues a datagram to leave at `dueMs` from address `from` to `to`:`port`.
    virtual void Send(const CSimConverter& sender, uint64_t dueMs, uint32_t from, uint32_t to,
                      uint16_t port, std::vector<uint8_t> bytes) = 0;
    // Records an event of `sender`; the host adds the time and the converter's address.
    virtual void Log(const CSimConverter& sender, nlohmann::json event) = 0;
    // Moves the converter to `newIp`: false (nothing changed) when another converter holds it.
    virtual bool ChangeAddress(CSimConverter& sender, uint32_t newIp, std::string* why) = 0;
    // Takes the converter's address off the LAN while it restarts (present false) and back.
    virtual void SetPresent(const CSimConverter& sender, bool present) = 0;
    // Calls the converter's OnWake at `whenMs` (one pending wake per converter; a later call
    // replaces it).
    virtual void WakeAt(CSimConverter& sender, uint64_t whenMs) = 0;
};

} // namespace qarn::sim
