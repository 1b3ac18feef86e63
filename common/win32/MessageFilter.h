// The user-interface privilege filter (Vista and later) drops messages that processes of lower
// integrity send; this lets chosen ones through to a window.
#pragma once

#include <windows.h>

namespace win32 {

// Lets processes of lower integrity send `message` to `window`. Uses ChangeWindowMessageFilterEx
// for that window where the system has it (Windows 7), else the process-wide
// ChangeWindowMessageFilter (Vista); both are looked up at run time. True when the message is
// let through or the system has no filter at all; false for message 0 (a failed registration).
bool AllowFromLowerIntegrity(HWND window, UINT message);

} // namespace win32
