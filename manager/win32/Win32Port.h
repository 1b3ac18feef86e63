// The manager's port for a Win32 window: the platform half, the control socket reporting to
// the window, answers and dialog outcomes posted to it, log lines to the debugger output.
// The main dialog derives from it and adds its controls and dialogs.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "common/platform/Settings.h"
#include "manager/port/ClosingSockets.h"
#include "manager/port/PlatformPort.h"

namespace manager {

// A window that hangs is given up on after this long by the server broadcast.
inline constexpr UINT kBroadcastTimeoutMs = 2000;

class Win32Port : public PlatformPort {
  public:
    using LineSink = std::function<void(std::u16string_view)>;

    explicit Win32Port(HWND window)
        : window_(window), settingsLocation_(platform::SettingsLocation()) {}

    void SetWindow(HWND window) { window_ = window; }
    // The dialog whose messages a refresh exchange takes between its waits.
    void SetPumpedDialog(HWND dialog) { pumpedDialog_ = dialog; }
    // Log lines also go here (the "Message Receive" box), besides the debugger output.
    void SetLogSink(LineSink sink) { logSink_ = std::move(sink); }

    void Log(std::u16string_view line) override;
    void PostAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) override;
    void PumpDialogMessage() override;
    void ClearLog() override {}
    void RefreshStatusPopup(const SessionDisplay& display, bool showAlways) override {
        (void)display;
        (void)showAlways;
    }
    void HideStatusPopup() override {}
    void CloseStatusPopup() override {}
    // A system message box titled "ERROR" over the main window, brought to the front and made
    // topmost first; its closing is posted back to the window.
    void ShowErrorBox(std::u16string_view text, DialogTicket ticket) override;
    // The same box without a continuation; returns once it is closed.
    void RunErrorBox(std::u16string_view text);
    bool IsErrorBoxOpen() override { return errorBoxes_ > 0; }
    // The main dialog has the prompts; this window has none, so both end at once.
    void AskAccessCode(const SessionDisplay& display, DialogTicket ticket) override;
    void ChooseTarget(const TargetTable& table, DialogTicket ticket) override;
    bool IsPromptOpen() override { return false; }
    void ClosePrompts() override {}
    void HideMainWindow() override;
    void BringMainWindowToFront() override;
    void ShowTargetFields(std::uint32_t address, std::u16string_view port,
                          std::u16string_view deviceName,
                          std::u16string_view targetStatus) override;
    void StartTimer(int timer, std::uint32_t periodMs) override;
    void StopTimer(int timer) override;
    bool ReadHandOffFolder(std::u16string& folder) override;
    bool StoreShareSettings(std::u16string_view root) override;
    // Where StoreShareSettings writes (the user's settings key unless a test sets its own).
    void SetSettingsLocation(std::u16string location) { settingsLocation_ = std::move(location); }
    void BroadcastServerReload() override;

    // Serves the closed connections on their timer's ticks (then true); false for any other
    // message.
    bool ServeClosingSockets(UINT message, WPARAM wParam);
    // Ends the closed connections still open, waiting up to their bound (when the window's
    // loop has ended: nothing else runs then).
    void FinishClosingSockets() { closing_.Finish(); }

  protected:
    bool SelectSocketEvents(platform::Socket& socket) override;
    // The connection ends gracefully (ClosingSockets) on the window's timer, so that the player
    // gets the disconnect request sent just before the close and the window never waits.
    void RetireSocket(platform::Socket socket) override;
    // Posts the closing of the box opened with `ticket`.
    void PostErrorBoxClosed(DialogTicket ticket);
    // Runs the outcome queued first when `message` is WM_DIALOG_OUTCOME (then true).
    bool DeliverDialogOutcome(IManagerEvents& events, UINT message);
    // Queues an outcome and posts WM_DIALOG_OUTCOME for it: it reaches the core once the
    // modal loop that produced it has ended.
    void PostOutcome(std::function<void(IManagerEvents&)> outcome);
    void PostAccessCodeEntered(DialogTicket ticket, bool confirmed, std::string_view code);
    void PostTargetChosen(DialogTicket ticket, bool cancelled, int index);

    HWND window_ = nullptr;

  private:
    HWND pumpedDialog_ = nullptr;
    std::deque<std::function<void(IManagerEvents&)>> outcomes_;
    int errorBoxes_ = 0; // boxes nest: timers run inside their modal loops
    LineSink logSink_;
    std::u16string settingsLocation_;
    ClosingSockets closing_;
};

} // namespace manager
