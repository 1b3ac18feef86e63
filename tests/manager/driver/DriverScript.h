// The manager drivers' common part: a script of steps given on the command line, run over the
// real core and a front-end's port and loop, printing one line per observation. The native
// driver (poll loop) and the Windows driver (hidden window) differ only in DriverHost.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "manager/core/DeviceControl.h"
#include "manager/core/Discovery.h"

namespace manager::driver {

// Forwards every event to the control layer and notes the socket events seen.
class DriverEvents : public IManagerEvents {
  public:
    void Attach(DeviceControl& control) { control_ = &control; }

    void OnSocketEvent(SocketId socket, std::uint16_t event, int error) override;
    void OnAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) override;
    void OnErrorBoxClosed(DialogTicket ticket) override;

    int connectEvents = 0;
    int connectError = 0;
    int closeEvents = 0;

  private:
    DeviceControl* control_ = nullptr;
};

class DriverHost {
  public:
    virtual ~DriverHost() = default;
    virtual IManagerPort& Port() = 0;
    // Delivers events until `done` holds or `ms` have passed.
    virtual void RunFor(int ms, const std::function<bool()>& done) = 0;
    virtual void Print(const std::string& utf8Line) = 0;
};

// One session's state, as the main dialog holds it.
struct DriverSession {
    DiscoveryContext context;
    TargetTable table;
    DriverEvents events;
};

// A log, debug or box line as one printable line: UTF-8, line ends shown as "\n".
std::string Printable(std::u16string_view line);

// Runs the steps in `args`; 0 when all ran, 2 on a malformed script.
int RunDriverScript(DriverHost& host, DriverSession& session, DeviceControl& control,
                    const std::vector<std::string>& args);

// The usage text, one line per step.
extern const char* const kDriverUsage;

} // namespace manager::driver
