#include "platform/SystemTime.h"

#include <ctime>

namespace qarn::platform {

SystemTime GetLocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    SystemTime t;
    t.year = static_cast<uint16_t>(local.tm_year + 1900);
    t.month = static_cast<uint16_t>(local.tm_mon + 1);
    t.dayOfWeek = static_cast<uint16_t>(local.tm_wday);
    t.day = static_cast<uint16_t>(local.tm_mday);
    t.hour = static_cast<uint16_t>(local.tm_hour);
    t.minute = static_cast<uint16_t>(local.tm_min);
    t.second = static_cast<uint16_t>(local.tm_sec);
    t.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    return t;
}

uint32_t GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

} // namespace qarn::platform
