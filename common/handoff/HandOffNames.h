// Names and sizes that the extension and the manager must match exactly.
#pragma once

#include <cstddef>

namespace handoff {

// The shared block, in the local object namespace (no prefix).
inline constexpr char16_t kHandOffBlockName[] = u"KESTRO_DLL_TO_AP_FOLDER";
// The notification, registered under this name and sent with wParam 0 and lParam 0.
inline constexpr char16_t kHandOffMessageName[] = u"CMD DLL To Manager AP";

// The block holds the whole selection folder (at most 259 units) and a zero unit. Its first 130
// units are laid out as an older 260-byte block; readers stop at the block's end either way.
inline constexpr std::size_t kHandOffBlockUnits = 260;
inline constexpr std::size_t kHandOffBlockBytes = kHandOffBlockUnits * sizeof(char16_t);
inline constexpr std::size_t kHandOffFolderUnits = kHandOffBlockUnits - 1;

} // namespace handoff
