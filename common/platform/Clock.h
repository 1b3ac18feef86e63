// Millisecond tick counter, system time as FILETIME ticks, local date and time, a short sleep.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
std::uint32_t TickCountMs();

// Current UTC time as 100-nanosecond ticks since 1601-01-01 (a Windows FILETIME).
std::uint64_t SystemTimeAsFileTime();

struct LocalDateTime {
    int year = 0;
    int month = 0; // 1..12
    int day = 0;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

LocalDateTime LocalNow();

// Blocks the calling thread for about `ms` milliseconds (Sleep / nanosleep).
void SleepMs(std::uint32_t ms);

} // namespace platform
