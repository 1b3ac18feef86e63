// The manager's port on POSIX: the platform half, socket events and timers from a PollLoop,
// posted answers on the loop, the hand-off block and the settings file, and the user-interface
// effects as lines for whoever runs it. A front-end derives from it for its dialogs.
//
// POSIX paths cross the hand-off in its Windows shape: '/' travels as '\' (the platform layer's
// file calls take either), so the folder the core stores is turned back before it is written.
#pragma once

#include <functional>
#include <string>
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
    // The hand-off block to read and the settings file to write (empty: the user's own).
    void SetHandOffBlockName(std::u16string name) { blockName_ = std::move(name); }
    void SetSettingsLocation(std::u16string location) { settingsLocation_ = std::move(location); }

    void Log(std::u16string_view line) override;
    void PostAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) override;
    void PumpDialogMessage() override {}
    void ClearLog() override {}
    void RefreshStatusPopup(const SessionDisplay& display, bool showAlways) override {
        (void)display;
        (void)showAlways;
    }
    void HideStatusPopup() override {}
    void CloseStatusPopup() override {}
    void ShowErrorBox(std::u16string_view text, DialogTicket ticket) override;
    bool IsErrorBoxOpen() override { return false; }
    // No one types here: the prompt counts as cancelled, the list as OK with the first free
    // record (-1 when there is none).
    void AskAccessCode(const SessionDisplay& display, DialogTicket ticket) override;
    void ChooseTarget(const TargetTable& table, DialogTicket ticket) override;
    bool IsPromptOpen() override { return false; }
    void ClosePrompts() override {}
    void HideMainWindow() override {}
    void BringMainWindowToFront() override {}
    void ShowTargetFields(std::uint32_t address, std::u16string_view port,
                          std::u16string_view deviceName,
                          std::u16string_view targetStatus) override;
    void StartTimer(int timer, std::uint32_t periodMs) override;
    void StopTimer(int timer) override;
    bool ReadHandOffFolder(std::u16string& folder) override;
    bool StoreShareSettings(std::u16string_view root) override;
    void BroadcastServerReload() override {}

  protected:
    bool SelectSocketEvents(platform::Socket& socket) override;
    // The connection ends gracefully on the loop (PollLoop::Linger), so that the player gets
    // the disconnect request sent just before the close.
    void RetireSocket(platform::Socket socket) override;

    PollLoop& loop_;
    IManagerEvents& events_;

  private:
    LineSink logSink_;
    LineSink boxSink_;
    std::u16string blockName_;
    std::u16string settingsLocation_;
};

} // namespace manager
