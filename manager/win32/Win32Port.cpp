// The Win32 effects of the manager's port.
#include "manager/win32/Win32Port.h"

#include "common/control/ControlNames.h"
#include "common/handoff/HandOffReader.h"
#include "common/platform/Clock.h"
#include "common/platform/CodePage.h"
#include "common/text/DebugPrint.h"
#include "common/win32/Text.h"
#include "manager/win32/ManagerMessages.h"
#include "manager/win32/ManagerWindow.h"

namespace manager {

void Win32Port::Log(std::u16string_view line) {
    if (logSink_)
        logSink_(line);
    text::DebugPrintLine(std::u16string(line));
}

void Win32Port::PostAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) {
    manager::PostAnswerDeviceRequest(window_, cmd, subCmd);
}

void Win32Port::PumpDialogMessage() {
    if (pumpedDialog_ == nullptr)
        return;
    MSG message{};
    if (!PeekMessageW(&message, pumpedDialog_, 0, 0, PM_REMOVE))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void Win32Port::ShowErrorBox(std::u16string_view text, DialogTicket ticket) {
    RunErrorBox(text);
    PostErrorBoxClosed(ticket);
}

void Win32Port::RunErrorBox(std::u16string_view text) {
    const std::wstring box = win32::ToWide(text);
    BringMainWindowToFront();
    ++errorBoxes_;
    MessageBoxW(window_, box.c_str(), L"ERROR", MB_OK | MB_ICONERROR);
    --errorBoxes_;
}

void Win32Port::AskAccessCode(const SessionDisplay& display, DialogTicket ticket) {
    (void)display;
    PostAccessCodeEntered(ticket, false, {});
}

void Win32Port::ChooseTarget(const TargetTable& table, DialogTicket ticket) {
    (void)table;
    PostTargetChosen(ticket, true, -1);
}

void Win32Port::HideMainWindow() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

void Win32Port::BringMainWindowToFront() {
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(window_);
}

void Win32Port::ShowTargetFields(std::uint32_t address, std::u16string_view port,
                                 std::u16string_view deviceName, std::u16string_view targetStatus) {
    (void)address;
    (void)port;
    (void)deviceName;
    (void)targetStatus;
}

void Win32Port::StartTimer(int timer, std::uint32_t periodMs) {
    SetTimer(window_, static_cast<UINT_PTR>(timer), periodMs, nullptr);
}

void Win32Port::StopTimer(int timer) {
    KillTimer(window_, static_cast<UINT_PTR>(timer));
}

bool Win32Port::ReadHandOffFolder(std::u16string& folder) {
    // The block is this call's own: the writer destroys it once its broadcast returns, and a
    // hand-off nested in a modal loop of this one cannot close it under us.
    handoff::HandOffBlock block;
    if (handoff::OpenHandOffBlock(block) != 0)
        return false;
    folder = std::u16string(block.Folder());
    handoff::CloseHandOffBlock(block);
    return true;
}

bool Win32Port::StoreShareSettings(std::u16string_view root) {
    platform::SettingsStore store(settingsLocation_);
    std::u16string error;
    if (!store.Open(platform::SettingsAccess::kReadWrite, error))
        return false;
    const bool rootStored = store.WriteRoot(root, error);
    const bool codePageStored = store.WriteCodePage(platform::kCodePageUtf8, error);
    return rootStored && codePageStored;
}

void Win32Port::BroadcastServerReload() {
    static const UINT message = RegisterWindowMessageW(win32::AsWide(control::kCmdToNfsServer));
    // Each window may take the full timeout; a hung one is skipped at once. A plain
    // broadcast would wait forever on a hung window, and the Explorer thread in its hand-off
    // with it.
    SendMessageTimeoutW(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, kBroadcastTimeoutMs,
                        nullptr);
}

bool Win32Port::DeliverDialogOutcome(IManagerEvents& events, UINT message) {
    if (message != WM_DIALOG_OUTCOME)
        return false;
    if (outcomes_.empty())
        return true;
    const std::function<void(IManagerEvents&)> outcome = std::move(outcomes_.front());
    outcomes_.pop_front();
    outcome(events);
    return true;
}

void Win32Port::PostOutcome(std::function<void(IManagerEvents&)> outcome) {
    outcomes_.push_back(std::move(outcome));
    PostMessageW(window_, WM_DIALOG_OUTCOME, 0, 0);
}

void Win32Port::PostAccessCodeEntered(DialogTicket ticket, bool confirmed, std::string_view code) {
    PostOutcome([ticket, confirmed, code = std::string(code)](IManagerEvents& events) {
        events.OnAccessCodeEntered(ticket, confirmed, code);
    });
}

void Win32Port::PostTargetChosen(DialogTicket ticket, bool cancelled, int index) {
    PostOutcome([ticket, cancelled, index](IManagerEvents& events) {
        events.OnTargetChosen(ticket, cancelled, index);
    });
}

void Win32Port::PostErrorBoxClosed(DialogTicket ticket) {
    PostMessageW(window_, WM_ERROR_BOX_CLOSED, static_cast<WPARAM>(ticket.sequence),
                 static_cast<LPARAM>(ticket.step));
}

bool Win32Port::SelectSocketEvents(platform::Socket& socket) {
    return SelectControlSocketEvents(socket, window_);
}

void Win32Port::RetireSocket(platform::Socket socket) {
    StopSocketEvents(socket, window_);
    closing_.Add(std::move(socket), platform::TickCountMs());
    SetTimer(window_, kClosingSocketsTimer, kClosingSocketsPeriodMs, nullptr);
}

bool Win32Port::ServeClosingSockets(UINT message, WPARAM wParam) {
    if (message != WM_TIMER || wParam != kClosingSocketsTimer)
        return false;
    closing_.Serve(platform::TickCountMs());
    if (closing_.Empty())
        KillTimer(window_, kClosingSocketsTimer);
    return true;
}

} // namespace manager
