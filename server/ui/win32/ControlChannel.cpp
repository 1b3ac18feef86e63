// Registration of the control channel's messages and their passage through the message filter.
#include "server/ui/win32/ControlChannel.h"

#include <initializer_list>

#include "common/control/ControlNames.h"
#include "common/win32/MessageFilter.h"
#include "common/win32/Text.h"

namespace serverui {

TControlMessages RegisterControlMessages() {
    TControlMessages messages;
    messages.debug = RegisterWindowMessageW(win32::AsWide(control::kDebugToNfsServer));
    messages.command = RegisterWindowMessageW(win32::AsWide(control::kCmdToNfsServer));
    messages.ack = RegisterWindowMessageW(win32::AsWide(control::kCmdToManagerAp));
    return messages;
}

void AllowControlMessages(HWND appWindow, HWND form, const TControlMessages& messages) {
    win32::AllowFromLowerIntegrity(appWindow, WM_CLOSE);
    for (const UINT message : {messages.debug, messages.command, messages.ack})
        win32::AllowFromLowerIntegrity(form, message);
}

} // namespace serverui
