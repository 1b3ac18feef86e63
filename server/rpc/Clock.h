// TClock: the time the server core reads. The programs use the platform's clock; tests pass a
// fake one whose time moves only when the test says, so time-outs of many seconds pass at once.
#pragma once

#include <cstdint>

namespace server {

class TClock {
  public:
    virtual ~TClock() = default;

    // Milliseconds since an arbitrary start, wrapping at 2^32.
    virtual std::uint32_t TickCountMs() const = 0;
    // Current UTC time as 100-nanosecond ticks since 1601-01-01 (a Windows FILETIME).
    virtual std::uint64_t SystemTimeAsFileTime() const = 0;
    // How long one wait of the daemon on a socket may last before it reads the time again, for
    // a wait of `remainingMs`. The platform's clock lets the whole wait run; a fake one has it
    // look again soon, as its time may move while the daemon waits.
    virtual int WaitSliceMs(int remainingMs) const { return remainingMs; }
};

// The platform's clock (GetTickCount and GetSystemTimeAsFileTime or their POSIX equivalents).
const TClock& PlatformClock();

} // namespace server
