#include "platform/SystemTime.h"
#include "platform/WindowsApi.h"

namespace qarn::platform {

SystemTime GetLocalTime() {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    SystemTime t;
    t.year = local.wYear;
    t.month = local.wMonth;
    t.dayOfWeek = local.wDayOfWeek;
    t.day = local.wDay;
    t.hour = local.wHour;
    t.minute = local.wMinute;
    t.second = local.wSecond;
    t.milliseconds = local.wMilliseconds;
    return t;
}

uint32_t GetTickCount() {
    // The 64-bit count, cut to 32 bits as the header promises: the same wrap as ::GetTickCount.
    return static_cast<uint32_t>(::GetTickCount64());
}

} // namespace qarn::platform
