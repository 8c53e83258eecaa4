#pragma once

#include "protocol/IReachability.h"

#include <cstdint>

namespace qarn {

// The echo the tool uses for converters: a fresh CPing per request, 1000 ms time-out, time-to-live
// 255. A silent address blocks the caller for the whole second. Holds no state, so one object may
// serve any number of threads.
class PingReachability : public IReachability {
  public:
    static constexpr uint32_t kTimeoutMs = 1000;
    static constexpr uint32_t kTtl = 255;

    bool Echo(uint32_t address) override;
};

} // namespace qarn
