// The notification-area icon: added and removed on request, never re-added by itself (a
// re-created taskbar loses it until the next request).
#include "server/ui/win32/TrayIcon.h"

#include <shellapi.h>

#include <cwchar>
#include <utility>

#include "server/ui/win32/ControlChannel.h"

namespace serverui {

namespace {

// Move-only owner of a popup menu.
class TMenu {
  public:
    TMenu() : menu_(CreatePopupMenu()) {}
    ~TMenu() {
        if (menu_ != nullptr)
            DestroyMenu(menu_);
    }
    TMenu(const TMenu&) = delete;
    TMenu& operator=(const TMenu&) = delete;
    HMENU Get() const { return menu_; }

  private:
    HMENU menu_;
};

NOTIFYICONDATAW IconData(HWND owner, HICON icon) {
    NOTIFYICONDATAW data{};
    // The first layout (64-unit tip) is what every shell version accepts.
    data.cbSize = NOTIFYICONDATAW_V1_SIZE;
    data.hWnd = owner;
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayCallbackMessage;
    data.hIcon = icon;
    // wcsncpy leaves the 64th unit for the terminating zero of the 63-unit tip.
    std::wcsncpy(data.szTip, kAppTitle, 63);
    data.szTip[63] = L'\0';
    return data;
}

} // namespace

TTrayIcon::TTrayIcon(HWND owner, HICON icon) : owner_(owner), icon_(icon) {}

TTrayIcon::~TTrayIcon() {
    Remove();
}

bool TTrayIcon::Add() {
    if (shown_)
        return true;
    NOTIFYICONDATAW data = IconData(owner_, icon_);
    shown_ = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    return shown_;
}

void TTrayIcon::Remove() {
    if (!shown_)
        return;
    NOTIFYICONDATAW data = IconData(owner_, icon_);
    Shell_NotifyIconW(NIM_DELETE, &data);
    shown_ = false;
}

UINT TTrayIcon::PopupMenu(HWND owner, POINT point, bool withSettings) {
    TMenu menu;
    if (menu.Get() == nullptr)
        return 0;
    if (withSettings) {
        AppendMenuW(menu.Get(), MF_STRING, kCommandSettings, L"Settings...");
        AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    }
    AppendMenuW(menu.Get(), MF_STRING, kCommandQuit, L"Quit");
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(menu.Get(), TPM_RIGHTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, point.x,
                       point.y, 0, owner, nullptr));
    // Without this the menu does not close when the user clicks elsewhere (the known tray menu
    // quirk: the owner must get a message after the menu ends).
    PostMessageW(owner, WM_NULL, 0, 0);
    return command;
}

} // namespace serverui
