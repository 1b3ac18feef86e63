// Server.exe's side of the window-message control channel: the registered messages it takes
// part in, and the private messages, window class and control ids of its settings form (test
// drivers find the fields by them). The names other programs match are in common/control.
#pragma once

#include <windows.h>

namespace serverui {

// The settings form; also the receiver of the registered messages.
inline constexpr wchar_t kFormClass[] = L"TDSettings";
inline constexpr wchar_t kFormCaption[] = L"Server Settings";

// Private messages of the form.
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;
inline constexpr UINT kReloadMessage = WM_USER + 2;

// Control ids of the form, also used by test drivers to find the fields.
inline constexpr int kIdTabs = 100;
inline constexpr int kIdRoot = 101;
inline constexpr int kIdHost = 102;
inline constexpr int kIdCodepages = 103;
// "Ok" and "Cancel" are IDOK and IDCANCEL.

// "DEBUG To NFS Server", "CMD To NFS Server" and "CMD To Manager AP".
struct TControlMessages {
    UINT debug = 0;
    UINT command = 0;
    UINT ack = 0;
};

TControlMessages RegisterControlMessages();

// Lets processes of lower integrity send the close request to the application window and the
// registered messages to the form.
void AllowControlMessages(HWND appWindow, HWND form, const TControlMessages& messages);

} // namespace serverui
