// The system's text for a Win32 error code, for the diagnostic line "GetLastError=%d: %s".
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// FormatMessage's text on Windows, the same texts for the codes of FileSystem.h on POSIX;
// trailing line ends and spaces are dropped. Unknown codes give "Unknown error N.".
std::u16string SystemErrorText(std::uint32_t code);

// "Unknown error N." (the platform layer sits below the text formatter).
inline std::u16string UnknownErrorText(std::uint32_t code) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + code % 10));
        code /= 10;
    } while (code != 0);
    return u"Unknown error " + digits + u".";
}

} // namespace platform
