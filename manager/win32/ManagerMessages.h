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
// Another dialog's outcome, queued in the port (it carries more than two numbers).
inline constexpr UINT WM_DIALOG_OUTCOME = WM_APP + 2;
// The status popup's "Stop Streaming".
inline constexpr UINT WM_STOP_STREAMING = WM_USER + 5;

// The main dialog's timer that drains closed control connections (the session's are 0 to 2),
// and its period.
inline constexpr UINT_PTR kClosingSocketsTimer = 16;
inline constexpr UINT kClosingSocketsPeriodMs = 50;

} // namespace manager
