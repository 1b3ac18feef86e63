// The Win32 effects of the manager's port.
#include "manager/win32/Win32Port.h"

#include "common/text/DebugPrint.h"
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
    const std::wstring box(text.begin(), text.end());
    MessageBoxW(window_, box.c_str(), L"ERROR", MB_OK | MB_ICONERROR);
    PostErrorBoxClosed(ticket);
}

void Win32Port::PostErrorBoxClosed(DialogTicket ticket) {
    PostMessageW(window_, WM_ERROR_BOX_CLOSED, static_cast<WPARAM>(ticket.sequence),
                 static_cast<LPARAM>(ticket.step));
}

bool Win32Port::SelectSocketEvents(platform::Socket& socket) {
    return SelectControlSocketEvents(socket, window_);
}

} // namespace manager
