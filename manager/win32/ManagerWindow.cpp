// The main dialog's side of the control socket, the posted answer and the address field.
#include <winsock2.h>

#include "manager/win32/ManagerWindow.h"

#include <commctrl.h>

#include "manager/win32/ManagerMessages.h"

namespace manager {

bool SelectControlSocketEvents(platform::Socket& socket, HWND window) {
    return WSAAsyncSelect(static_cast<SOCKET>(socket.Value()), window, WM_CTRL_SOCKET,
                          kControlSocketEvents) == 0;
}

void StopSocketEvents(platform::Socket& socket, HWND window) {
    WSAAsyncSelect(static_cast<SOCKET>(socket.Value()), window, 0, 0);
}

bool PostAnswerDeviceRequest(HWND window, std::uint32_t cmd, std::uint32_t subCmd) {
    return PostMessageW(window, WM_ANSWER_DEVICE_REQ, static_cast<WPARAM>(cmd),
                        static_cast<LPARAM>(subCmd)) != 0;
}

bool DeliverManagerMessage(IManagerEvents& events, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTRL_SOCKET:
        events.OnSocketEvent(static_cast<SocketId>(wParam), WSAGETSELECTEVENT(lParam),
                             WSAGETSELECTERROR(lParam));
        return true;
    case WM_ANSWER_DEVICE_REQ:
        // lParam is 64 bits wide on x64; the subCmd is its low 32.
        events.OnAnswerDeviceRequest(static_cast<std::uint32_t>(wParam),
                                     static_cast<std::uint32_t>(lParam & 0xFFFFFFFF));
        return true;
    case WM_ERROR_BOX_CLOSED:
        events.OnErrorBoxClosed(
            DialogTicket{static_cast<std::uint32_t>(wParam), static_cast<std::uint32_t>(lParam)});
        return true;
    default:
        return false;
    }
}

std::uint32_t NetworkFromIpField(DWORD fieldValue) {
    return htonl(fieldValue);
}

DWORD IpFieldFromNetwork(std::uint32_t address) {
    return ntohl(address);
}

std::uint32_t ReadIpAddressField(HWND control) {
    DWORD value = 0;
    SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&value));
    return NetworkFromIpField(value);
}

void WriteIpAddressField(HWND control, std::uint32_t address) {
    SendMessageW(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(IpFieldFromNetwork(address)));
}

} // namespace manager
