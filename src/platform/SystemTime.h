#pragma once

#include <cstdint>

namespace qarn::platform {

// A calendar time split into the eight 16-bit fields that records and log lines carry, in this
// order. dayOfWeek counts from Sunday = 0.
struct SystemTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t dayOfWeek = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;

    friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

// Local wall-clock time with millisecond resolution.
SystemTime GetLocalTime();

// Milliseconds of a monotonic clock, truncated to 32 bits: wraps after about 49.7 days, so compare
// two readings only by their difference.
uint32_t GetTickCount();

} // namespace qarn::platform
