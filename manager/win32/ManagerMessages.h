// Window messages the main dialog posts to itself or receives from its control socket.
#pragma once

#include <windows.h>

namespace manager {

// WSAAsyncSelect's notifications of the control socket: wParam the socket, lParam the event
// (low word) and its error (high word).
inline constexpr UINT WM_CTRL_SOCKET = WM_USER + 1;
// The deferred answer to a player request: wParam its cmd, lParam its subCmd.
inline constexpr UINT WM_ANSWER_DEVICE_REQ = WM_USER + 4;
// A dialog's outcome on its way back to the core: wParam the ticket's sequence, lParam its
// step. Not one of the WM_USER numbers other programs know.
inline constexpr UINT WM_ERROR_BOX_CLOSED = WM_APP + 1;

} // namespace manager
