// Names and numbers of Server.exe's window-message control channel: the windows other programs
// look for, the registered message names and the private messages of the settings form.
#pragma once

#include <windows.h>

namespace serverui {

// The hidden application window by which the manager finds (and closes) the server.
inline constexpr wchar_t kAppWindowClass[] = L"TApplication";
inline constexpr wchar_t kAppTitle[] = L"Lumavert Server";

// The settings form; also the receiver of the registered messages.
inline constexpr wchar_t kFormClass[] = L"TDSettings";
inline constexpr wchar_t kFormCaption[] = L"Server Settings";

// Registered by name in every program that takes part.
inline constexpr wchar_t kDebugMessageName[] = L"DEBUG To NFS Server";
inline constexpr wchar_t kCommandMessageName[] = L"CMD To NFS Server";
inline constexpr wchar_t kAckMessageName[] = L"CMD To Manager AP";

// Private messages of the form.
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;
inline constexpr UINT kReloadMessage = WM_USER + 2;

// Control ids of the form, also used by test drivers to find the fields.
inline constexpr int kIdTabs = 100;
inline constexpr int kIdRoot = 101;
inline constexpr int kIdHost = 102;
inline constexpr int kIdCodepages = 103;
// "Ok" and "Cancel" are IDOK and IDCANCEL.

struct TControlMessages {
    UINT debug = 0;
    UINT command = 0;
    UINT ack = 0;
};

TControlMessages RegisterControlMessages();

// Lets processes of lower integrity send the close request and the registered messages, where
// the system has a message filter (Vista and later; looked up at run time).
void AllowControlMessages(const TControlMessages& messages);

} // namespace serverui
