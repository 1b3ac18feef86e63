// TTrayIcon: one notification-area icon of a window, added and removed on request, with its tip
// cut to the layout's buffer; TrackTrayMenu pops up an icon's menu the way the shell needs it.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <string_view>

namespace win32 {

enum class TTrayLayout {
    kVersion1, // the first NOTIFYICONDATA (88 bytes, 64-unit tip): what every shell accepts
    kCurrent,  // the full structure (128-unit tip)
};

class TTrayIcon {
  public:
    // The icon reports mouse events to `owner` as `callbackMessage` (wParam `id`, lParam the
    // mouse message). `icon` stays the caller's.
    TTrayIcon(HWND owner, UINT id, UINT callbackMessage, HICON icon, std::wstring_view tip,
              TTrayLayout layout);
    ~TTrayIcon() { Remove(); }
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // Adds the icon unless it is shown; true when it is.
    bool Add();
    // Removes the icon if it is shown.
    void Remove();
    bool IsShown() const { return shown_; }
    // After "TaskbarCreated": a re-created taskbar has lost every icon, so one that was shown is
    // added again. Programs whose icon must stay away until asked for do not call this.
    bool Restore();

    // The record given to Shell_NotifyIcon.
    NOTIFYICONDATAW Data() const;

  private:
    HWND owner_;
    UINT id_;
    UINT callbackMessage_;
    HICON icon_;
    std::wstring tip_;
    TTrayLayout layout_;
    bool shown_ = false;
};

// Pops up `menu` at `point` for the owner of a notification-area icon with TrackPopupMenu and
// `flags`, and returns its result. The owner should be the foreground window before the call;
// the message posted afterwards is what makes the menu close when the user clicks elsewhere.
UINT TrackTrayMenu(HWND owner, HMENU menu, POINT point, UINT flags);

} // namespace win32
