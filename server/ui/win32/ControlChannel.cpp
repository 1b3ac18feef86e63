// Registration of the control channel's messages and their passage through the message filter.
#include "server/ui/win32/ControlChannel.h"

#include <initializer_list>

namespace serverui {

TControlMessages RegisterControlMessages() {
    TControlMessages messages;
    messages.debug = RegisterWindowMessageW(kDebugMessageName);
    messages.command = RegisterWindowMessageW(kCommandMessageName);
    messages.ack = RegisterWindowMessageW(kAckMessageName);
    return messages;
}

void AllowControlMessages(const TControlMessages& messages) {
    using FilterFunction = BOOL(WINAPI*)(UINT, DWORD);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr)
        return;
    // Cast through a generic function pointer: GCC warns about casting FARPROC directly.
    const auto filter = reinterpret_cast<FilterFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "ChangeWindowMessageFilter")));
    if (filter == nullptr)
        return;
    constexpr DWORD kAdd = 1; // MSGFLT_ADD
    filter(WM_CLOSE, kAdd);
    for (const UINT message : {messages.debug, messages.command, messages.ack}) {
        if (message != 0)
            filter(message, kAdd);
    }
}

} // namespace serverui
