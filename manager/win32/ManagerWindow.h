// What a Win32 window hosting the manager's core needs: its control socket reporting to the
// window, the posted deferred answer, and the window messages turned into the core's events.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/platform/Socket.h"
#include "manager/core/ManagerPort.h"

namespace manager {

// WSAAsyncSelect(socket, window, WM_CTRL_SOCKET, FD_READ | FD_CONNECT | FD_CLOSE).
bool SelectControlSocketEvents(platform::Socket& socket, HWND window);
// No more notifications of `socket` (it stays non-blocking).
void StopSocketEvents(platform::Socket& socket, HWND window);

// Posts WM_ANSWER_DEVICE_REQ with cmd and subCmd.
bool PostAnswerDeviceRequest(HWND window, std::uint32_t cmd, std::uint32_t subCmd);

// Hands WM_CTRL_SOCKET, WM_ANSWER_DEVICE_REQ and WM_ERROR_BOX_CLOSED to the core; false for
// any other message.
bool DeliverManagerMessage(IManagerEvents& events, UINT message, WPARAM wParam, LPARAM lParam);

// The IP address control (SysIPAddress32) holds its address in host byte order; the core
// keeps network byte order.
std::uint32_t NetworkFromIpField(DWORD fieldValue);
DWORD IpFieldFromNetwork(std::uint32_t address);
std::uint32_t ReadIpAddressField(HWND control);
void WriteIpAddressField(HWND control, std::uint32_t address);

} // namespace manager
