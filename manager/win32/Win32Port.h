// The manager's port for a Win32 window: the platform half, the control socket reporting to
// the window, answers and dialog outcomes posted to it, log lines to the debugger output.
// The main dialog derives from it and adds its controls and dialogs.
#pragma once

#include <windows.h>

#include <functional>
#include <string_view>

#include "manager/port/PlatformPort.h"

namespace manager {

class Win32Port : public PlatformPort {
  public:
    using LineSink = std::function<void(std::u16string_view)>;

    explicit Win32Port(HWND window) : window_(window) {}

    void SetWindow(HWND window) { window_ = window; }
    // The dialog whose messages a refresh exchange takes between its waits.
    void SetPumpedDialog(HWND dialog) { pumpedDialog_ = dialog; }
    // Log lines also go here (the "Message Receive" box), besides the debugger output.
    void SetLogSink(LineSink sink) { logSink_ = std::move(sink); }

    void Log(std::u16string_view line) override;
    void PostAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) override;
    void PumpDialogMessage() override;
    void RefreshStatusPopup(bool showAlways) override { (void)showAlways; }
    // A system message box titled "ERROR"; its closing is posted back to the window.
    void ShowErrorBox(std::u16string_view text, DialogTicket ticket) override;

  protected:
    bool SelectSocketEvents(platform::Socket& socket) override;
    // Posts the closing of the box opened with `ticket`.
    void PostErrorBoxClosed(DialogTicket ticket);

    HWND window_ = nullptr;

  private:
    HWND pumpedDialog_ = nullptr;
    LineSink logSink_;
};

} // namespace manager
