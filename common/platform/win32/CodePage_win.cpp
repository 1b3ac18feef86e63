// Code page conversion and upper-casing over MultiByteToWideChar, WideCharToMultiByte and
// CharUpper.
#include "common/platform/CodePage.h"

#include <windows.h>

#include <climits>

namespace platform {

namespace {

const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* Wide(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}

// EnumSystemCodePagesW's callback takes no context; collect through a per-thread pointer.
thread_local std::vector<CodePageInfo>* gEnumTarget = nullptr;

// Windows names start with the number ("1252  (ANSI - Latin I)"), Wine's do not; the list shows
// the number first either way.
std::u16string DisplayName(UINT number, const wchar_t* numberText) {
    const auto* digits = reinterpret_cast<const char16_t*>(numberText);
    CPINFOEXW details{};
    if (!GetCPInfoExW(number, 0, &details) || details.CodePageName[0] == L'\0')
        return digits;
    const std::u16string name = reinterpret_cast<const char16_t*>(details.CodePageName);
    if (name.rfind(digits, 0) == 0)
        return name;
    return std::u16string(digits) + u" (" + name + u")";
}

BOOL CALLBACK CollectCodePage(LPWSTR numberText) {
    if (gEnumTarget == nullptr || numberText == nullptr)
        return TRUE;
    const UINT number = wcstoul(numberText, nullptr, 10);
    gEnumTarget->push_back(CodePageInfo{number, DisplayName(number, numberText)});
    return TRUE;
}

} // namespace

bool MultiByteToUtf16(std::uint32_t codePage, std::string_view bytes, std::u16string& out) {
    out.clear();
    if (bytes.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    if (bytes.empty())
        return IsValidCodePage(codePage) != FALSE || codePage == kCodePageUtf8;
    const int length = static_cast<int>(bytes.size());
    // Flags 0: invalid input becomes the code page's replacement instead of failing.
    const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0)
        return false;
    out.resize(static_cast<std::size_t>(needed));
    const int written =
        MultiByteToWideChar(codePage, 0, bytes.data(), length, Wide(out.data()), needed);
    if (written <= 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(written));
    return true;
}

bool Utf16ToMultiByte(std::uint32_t codePage, std::u16string_view text, std::string& out) {
    out.clear();
    if (text.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    if (text.empty())
        return IsValidCodePage(codePage) != FALSE || codePage == kCodePageUtf8;
    const int length = static_cast<int>(text.size());
    // No default character or flags: some code pages (UTF-8 among them) reject either.
    const int needed =
        WideCharToMultiByte(codePage, 0, Wide(text.data()), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return false;
    out.resize(static_cast<std::size_t>(needed));
    const int written = WideCharToMultiByte(codePage, 0, Wide(text.data()), length, out.data(),
                                            needed, nullptr, nullptr);
    if (written <= 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(written));
    return true;
}

std::uint32_t SystemAnsiCodePage() {
    return GetACP();
}

std::vector<CodePageInfo> InstalledCodePages() {
    std::vector<CodePageInfo> pages;
    gEnumTarget = &pages;
    EnumSystemCodePagesW(CollectCodePage, CP_INSTALLED);
    gEnumTarget = nullptr;
    return pages;
}

std::u16string UpperCase(std::u16string_view text) {
    std::u16string out(text);
    std::size_t i = 0;
    // Most names are ASCII: no system call for them.
    for (; i < out.size() && out[i] < 0x80; ++i) {
        if (out[i] >= u'a' && out[i] <= u'z')
            out[i] = static_cast<char16_t>(out[i] - (u'a' - u'A'));
    }
    if (i == out.size())
        return out;
    // CharUpperBuffW maps code unit by code unit, one length in and out, like the file system's
    // own case-insensitive comparison.
    CharUpperBuffW(Wide(out.data() + i), static_cast<DWORD>(out.size() - i));
    return out;
}

} // namespace platform
