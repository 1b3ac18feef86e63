// The manager's port on POSIX: the platform half, socket events from a PollLoop, posted
// answers on the loop, and the user-interface effects as lines for whoever runs it.
#pragma once

#include <functional>
#include <string_view>

#include "manager/port/PlatformPort.h"
#include "manager/posix/PollLoop.h"

namespace manager {

class PosixPort : public PlatformPort {
  public:
    using LineSink = std::function<void(std::u16string_view)>;

    // `events` receives the posted answers and dialog outcomes.
    PosixPort(PollLoop& loop, IManagerEvents& events) : loop_(loop), events_(events) {}

    // Log lines go to the debugger output (standard error) unless a sink is set.
    void SetLogSink(LineSink sink) { logSink_ = std::move(sink); }
    // Error boxes have no window here: their text goes to this sink.
    void SetErrorBoxSink(LineSink sink) { boxSink_ = std::move(sink); }

    void Log(std::u16string_view line) override;
    void PostAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) override;
    void PumpDialogMessage() override {}
    void RefreshStatusPopup(bool showAlways) override { (void)showAlways; }
    void ShowErrorBox(std::u16string_view text, DialogTicket ticket) override;

  protected:
    bool SelectSocketEvents(platform::Socket& socket) override;
    void ForgetSocket(SocketId socket) override { loop_.Forget(socket); }

  private:
    PollLoop& loop_;
    IManagerEvents& events_;
    LineSink logSink_;
    LineSink boxSink_;
};

} // namespace manager
