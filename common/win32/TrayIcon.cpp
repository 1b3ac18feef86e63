// The notification-area icon helper of the Win32 kit.
#include "common/win32/TrayIcon.h"

#include <utility>

#include "common/win32/Text.h"

namespace win32 {

namespace {

// The tip buffer of the first layout: 64 units, the last one for the terminating zero.
constexpr std::size_t kVersion1TipUnits = 64;

} // namespace

TTrayIcon::TTrayIcon(HWND owner, UINT id, UINT callbackMessage, HICON icon, std::wstring_view tip,
                     TTrayLayout layout)
    : owner_(owner), id_(id), callbackMessage_(callbackMessage), icon_(icon), tip_(tip),
      layout_(layout) {}

NOTIFYICONDATAW TTrayIcon::Data() const {
    NOTIFYICONDATAW data{};
    const bool first = layout_ == TTrayLayout::kVersion1;
    data.cbSize = first ? NOTIFYICONDATAW_V1_SIZE : sizeof(data);
    data.hWnd = owner_;
    data.uID = id_;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = callbackMessage_;
    data.hIcon = icon_;
    CopyCut(data.szTip, first ? kVersion1TipUnits : std::size(data.szTip), tip_);
    return data;
}

bool TTrayIcon::Add() {
    if (shown_)
        return true;
    NOTIFYICONDATAW data = Data();
    shown_ = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    return shown_;
}

void TTrayIcon::Remove() {
    if (!shown_)
        return;
    NOTIFYICONDATAW data = Data();
    Shell_NotifyIconW(NIM_DELETE, &data);
    shown_ = false;
}

bool TTrayIcon::Restore() {
    if (!shown_)
        return false;
    shown_ = false;
    return Add();
}

UINT TrackTrayMenu(HWND owner, HMENU menu, POINT point, UINT flags) {
    const UINT result =
        static_cast<UINT>(TrackPopupMenu(menu, flags, point.x, point.y, 0, owner, nullptr));
    // The known tray menu quirk: the owner must get a message after the menu ends.
    PostMessageW(owner, WM_NULL, 0, 0);
    return result;
}

} // namespace win32
