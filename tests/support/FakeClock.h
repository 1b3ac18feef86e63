// A clock for the daemon whose time moves only when the test advances it.
#pragma once

#include <atomic>
#include <cstdint>

#include "server/rpc/Clock.h"

namespace rpctest {

class FakeClock final : public server::TClock {
  public:
    // 2020-01-01 00:00:00 UTC as a FILETIME: the system time at tick 0.
    static constexpr std::uint64_t kStartFileTime = 132223104000000000ull;

    std::uint32_t TickCountMs() const override { return ms_.load(); }
    std::uint64_t SystemTimeAsFileTime() const override {
        return kStartFileTime + std::uint64_t{ms_.load()} * 10000;
    }
    // The daemon looks at the time again at least every few milliseconds.
    int WaitSliceMs(int remainingMs) const override {
        return remainingMs < kSliceMs ? remainingMs : kSliceMs;
    }

    void Advance(std::uint32_t ms) { ms_ += ms; }

  private:
    static constexpr int kSliceMs = 5;
    std::atomic<std::uint32_t> ms_{0};
};

} // namespace rpctest
