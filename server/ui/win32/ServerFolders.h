// The two folders the server derives from the user's Documents folder: the list folder served
// under "/lst" and the default root folder.
#pragma once

#include <string>

namespace serverui {

// Documents\Lumavert\ (created when missing), or the executable's folder when that fails.
// Always ends with a backslash.
std::wstring ListFolder();

// Documents\Lumavert, or the current directory followed by \Lumavert without a Documents folder.
std::wstring DefaultRoot();

} // namespace serverui
