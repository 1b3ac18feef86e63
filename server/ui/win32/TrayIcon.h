// The optional notification-area icon of the server and its popup menu.
#pragma once

#include <windows.h>

namespace serverui {

// Commands of the icon's menu.
inline constexpr UINT kCommandSettings = 1;
inline constexpr UINT kCommandQuit = 2;

class TTrayIcon {
  public:
    // The icon reports to `owner` with kTrayCallbackMessage; the tip is the application title.
    TTrayIcon(HWND owner, HICON icon);
    ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    bool Add();
    void Remove();
    bool IsShown() const { return shown_; }

    // Pops up the menu "Settings..." / "Quit" at `point`, right-aligned, and returns the command
    // chosen (0 for none). "Settings..." is left out while the form is visible.
    static UINT PopupMenu(HWND owner, POINT point, bool withSettings);

  private:
    HWND owner_;
    HICON icon_;
    bool shown_ = false;
};

} // namespace serverui
