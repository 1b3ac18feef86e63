// The menu item's picture for the system's check-mark size.
#pragma once

#include <windows.h>

#include "common/win32/Handle.h"

namespace tavomenu {

// `checkDimensions` is GetMenuCheckMarkDimensions' packed size (width low, height high). 13×13
// gives bitmap 3000 at index 0 only, 15×15 bitmap 3001, any other size bitmap 3001 stretched to
// it with halftone. Logs the size line; empty when there is no picture or it cannot be made.
win32::TBitmap MenuPicture(HMODULE resources, LONG checkDimensions, UINT index);

} // namespace tavomenu
