// The platform's clock behind TClock.
#include "server/rpc/Clock.h"

#include "common/platform/Clock.h"

namespace server {
namespace {

class TPlatformClock final : public TClock {
  public:
    std::uint32_t TickCountMs() const override { return platform::TickCountMs(); }
    std::uint64_t SystemTimeAsFileTime() const override { return platform::SystemTimeAsFileTime(); }
};

} // namespace

const TClock& PlatformClock() {
    static const TPlatformClock clock;
    return clock;
}

} // namespace server
