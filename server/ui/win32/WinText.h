// Text and folder helpers of the Win32 front-end: UTF-16 between wchar_t and the core's
// char16_t, narrow conversions, window text and the folder-exists test.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace serverui {

// wchar_t is UTF-16 on Windows, so these only change the element type.
std::u16string ToU16(std::wstring_view text);
std::wstring FromU16(std::u16string_view text);

std::wstring Utf8ToWide(std::string_view text);
// Narrow text in the system's ANSI code page.
std::string WideToAnsi(std::wstring_view text);

std::wstring WindowText(HWND window);

bool IsExistingFolder(const std::wstring& path);

} // namespace serverui
