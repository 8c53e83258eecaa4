#pragma once

#include "protocol/DeviceList.h"
#include "protocol/IConverterEndpoint.h"

#include <cstdint>
#include <vector>

namespace qarn {

// The 16-byte discovery request: byType 1, byCmd 0x1A, bytes 2..11 zero, dwSeed = `seed`. It has
// no payload, so nothing is scrambled.
std::vector<uint8_t> BuildDiscoveryRequest(uint32_t seed);

// What one tick of the discovery timer did.
enum class DiscoveryTick {
    Reopened,      // the endpoint was closed: list emptied, endpoint opened again
    ReopenFailed,  // as Reopened, but the endpoint would not open; the next tick tries again
    Waiting,       // counting down to the next request
    RequestSent,   // request broadcast, stale rows removed
    RequestFailed, // as RequestSent, but the endpoint did not send the request
};

// Discovery as the one-second timer drives it: a request at the first tick and then at every
// fourth, each followed by the age-out of silent rows, and the recovery of an endpoint that was
// found closed. Lives on the thread that owns the device list.
//
//     DiscoveryCycle discovery(endpoint, list);
//     every second: discovery.Tick();
class DiscoveryCycle {
  public:
    static constexpr int32_t kTicksPerRequest = 4;

    // Both must outlive the cycle.
    DiscoveryCycle(IConverterEndpoint& endpoint, DeviceList& list);

    // One timer tick: with the endpoint closed, close it, empty the list, reopen it and stop;
    // otherwise count down and, when the count reaches 0, SendDiscovery, start the count at
    // kTicksPerRequest again, remove stale rows and log what the list dropped in the cycle.
    DiscoveryTick Tick();

    // Broadcasts one discovery request with a fresh seed (MakeSeed) to the converter port.
    bool SendDiscovery();

    // The next request goes out kTicksPerRequest ticks from now (a configuration write does this
    // so that its effect has time to show).
    void RestartCountdown() { m_countdown = kTicksPerRequest; }
    int32_t GetCountdown() const { return m_countdown; }

  private:
    IConverterEndpoint& m_endpoint;
    DeviceList& m_list;
    int32_t m_countdown = 0; // 0 at the start: the first tick sends
};

} // namespace qarn
