// IconMenu: the popup menu of the server's optional notification-area icon.
#pragma once

#include <windows.h>

namespace serverui {

// Commands of the menu.
inline constexpr UINT kCommandSettings = 1;
inline constexpr UINT kCommandQuit = 2;

// Pops up "Settings..." / "Quit" at `point`, right-aligned, and returns the command chosen (0 for
// none). "Settings..." and its separator are left out while the form is visible.
UINT PopupIconMenu(HWND owner, POINT point, bool withSettings);

} // namespace serverui
