// Sends the hand-off's notification to all top-level windows.
#include "shellext/Broadcast.h"

#include <windows.h>

#include "common/handoff/HandOffNames.h"
#include "common/win32/Text.h"

namespace tavomenu {

namespace {

constexpr UINT kPerWindowTimeoutMs = 5000;

} // namespace

void BroadcastHandOff() {
    const UINT message = ::RegisterWindowMessageW(win32::AsWide(handoff::kHandOffMessageName));
    if (message == 0)
        return;
    DWORD_PTR result = 0;
    // The result is of no use: the manager takes the block inside its handler or not at all.
    ::SendMessageTimeoutW(HWND_BROADCAST, message, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                          kPerWindowTimeoutMs, &result);
}

} // namespace tavomenu
