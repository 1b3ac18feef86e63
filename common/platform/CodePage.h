// Conversion between Windows code pages and UTF-16, and case folding of UTF-16 text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr std::uint32_t kCodePageUtf8 = 65001;

// Converts bytes in `codePage` to UTF-16. Characters without a mapping become the platform's
// replacement character. False when the code page is unknown.
bool MultiByteToUtf16(std::uint32_t codePage, std::string_view bytes, std::u16string& out);

// Converts UTF-16 to bytes in `codePage`; unmappable characters become the platform's default.
bool Utf16ToMultiByte(std::uint32_t codePage, std::u16string_view text, std::string& out);

// The system's ANSI code page (1252 on a western Windows; 65001 on POSIX).
std::uint32_t SystemAnsiCodePage();

// Code pages the system can convert, in no particular order, with their display names.
struct CodePageInfo {
    std::uint32_t number = 0;
    std::u16string name;
};
std::vector<CodePageInfo> InstalledCodePages();

// Locale-aware upper-case mapping used for case-insensitive name comparison.
std::u16string UpperCase(std::u16string_view text);

// UTF-8 <-> UTF-16 without any platform call (used for paths and settings on POSIX too).
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

} // namespace platform
