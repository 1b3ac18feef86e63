// Monotonic tick counter, FILETIME-style system time and local time over clock_gettime.
#include "common/platform/Clock.h"

#include <ctime>

namespace platform {

namespace {

// Seconds between 1601-01-01 (FILETIME epoch) and 1970-01-01 (Unix epoch).
constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;

} // namespace

std::uint32_t TickCountMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Truncation to 32 bits gives GetTickCount's wrap-around.
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000U +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000U;
    return static_cast<std::uint32_t>(ms);
}

std::uint64_t SystemTimeAsFileTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const auto seconds = static_cast<std::uint64_t>(now.tv_sec) + kSecondsFrom1601To1970;
    return seconds * kTicksPerSecond + static_cast<std::uint64_t>(now.tv_nsec) / 100U;
}

LocalDateTime LocalNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const time_t seconds = now.tv_sec;
    tm local{};
    LocalDateTime result;
    if (localtime_r(&seconds, &local) == nullptr)
        return result;
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    result.hour = local.tm_hour;
    result.minute = local.tm_min;
    // tm_sec may be 60 on a leap second; GetLocalTime never reports it.
    result.second = local.tm_sec > 59 ? 59 : local.tm_sec;
    result.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    return result;
}

void SleepMs(std::uint32_t ms) {
    timespec rest{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    // Resume after a signal until the whole time has passed.
    while (nanosleep(&rest, &rest) != 0) {
    }
}

} // namespace platform
