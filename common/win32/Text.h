// UTF-16 text at the Win32 boundary: wchar_t views of the portable char16_t texts, conversions
// to and from narrow code pages, window text, and copies into fixed buffers that are cut at a
// whole character and never read as a format.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace win32 {

// wchar_t is UTF-16 on Windows, so these views and copies only change the element type.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be UTF-16");

inline const wchar_t* AsWide(const char16_t* text) noexcept {
    return reinterpret_cast<const wchar_t*>(text);
}
inline const char16_t* AsU16(const wchar_t* text) noexcept {
    return reinterpret_cast<const char16_t*>(text);
}
inline std::wstring_view AsWide(std::u16string_view text) noexcept {
    return {AsWide(text.data()), text.size()};
}
inline std::u16string_view AsU16(std::wstring_view text) noexcept {
    return {AsU16(text.data()), text.size()};
}
inline std::u16string ToU16(std::wstring_view text) {
    return std::u16string(AsU16(text));
}
inline std::wstring ToWide(std::u16string_view text) {
    return std::wstring(AsWide(text));
}

std::wstring Utf8ToWide(std::string_view text);
// Narrow text in the system's ANSI code page (what the narrow Win32 functions take).
std::string WideToAnsi(std::wstring_view text);

std::wstring WindowText(HWND window);

// The length of the longest start of `text` of at most `limit` units that ends at a whole
// character: a cut never leaves the first half of a surrogate pair behind.
std::size_t WholeCharacterLength(std::wstring_view text, std::size_t limit) noexcept;

// Copies `text` as it is into `buffer` of `capacity` units, cut at a whole character so that the
// terminating zero fits. Returns the units copied (without the zero); with capacity 0 nothing is
// written.
std::size_t CopyCut(wchar_t* buffer, std::size_t capacity, std::wstring_view text) noexcept;
template <std::size_t N>
std::size_t CopyCut(wchar_t (&buffer)[N], std::wstring_view text) noexcept {
    return CopyCut(buffer, N, text);
}

// Appends `text` to the zero-terminated text in `buffer` the same way; returns the new length.
std::size_t AppendCut(wchar_t* buffer, std::size_t capacity, std::wstring_view text) noexcept;
template <std::size_t N>
std::size_t AppendCut(wchar_t (&buffer)[N], std::wstring_view text) noexcept {
    return AppendCut(buffer, N, text);
}

} // namespace win32
