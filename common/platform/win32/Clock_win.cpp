// Tick counter, system time as FILETIME and local time over the Win32 time functions.
#include "common/platform/Clock.h"

#include <windows.h>

namespace platform {

std::uint32_t TickCountMs() {
    return GetTickCount();
}

std::uint64_t SystemTimeAsFileTime() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

LocalDateTime LocalNow() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    LocalDateTime result;
    result.year = local.wYear;
    result.month = local.wMonth;
    result.day = local.wDay;
    result.hour = local.wHour;
    result.minute = local.wMinute;
    result.second = local.wSecond;
    result.millisecond = local.wMilliseconds;
    return result;
}

void SleepMs(std::uint32_t ms) {
    ::Sleep(ms);
}

} // namespace platform
