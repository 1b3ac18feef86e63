// The tray icon's popup menu, built afresh for every popup.
#include "server/ui/win32/IconMenu.h"

#include "common/win32/Handle.h"
#include "common/win32/TrayIcon.h"

namespace serverui {

UINT PopupIconMenu(HWND owner, POINT point, bool withSettings) {
    const win32::TMenu menu(CreatePopupMenu());
    if (!menu)
        return 0;
    if (withSettings) {
        AppendMenuW(menu.Get(), MF_STRING, kCommandSettings, L"Settings...");
        AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    }
    AppendMenuW(menu.Get(), MF_STRING, kCommandQuit, L"Quit");
    return win32::TrackTrayMenu(owner, menu.Get(), point,
                                TPM_RIGHTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD);
}

} // namespace serverui
