// Where the server's settings live: Server.exe reads and writes them, the manager writes Root
// and CodePage, the Linux daemon uses the same value names as the keys of its settings file.
#pragma once

namespace control {

// Under HKEY_CURRENT_USER.
inline constexpr char16_t kSettingsKey[] = u"SOFTWARE\\Lumavert";

inline constexpr char16_t kRootValue[] = u"Root";         // string: the exported folder
inline constexpr char16_t kHostValue[] = u"Host";         // string: allowed hosts, space-separated
inline constexpr char16_t kCodePageValue[] = u"CodePage"; // 32-bit number: code page of names

} // namespace control
