// UTF-16 text helpers of the Win32 kit.
#include "common/win32/Text.h"

#include <climits>
#include <cwchar>

namespace win32 {

namespace {

bool IsLeadSurrogate(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsTrailSurrogate(wchar_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

std::wstring Utf8ToWide(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), needed);
    return out;
}

std::string WideToAnsi(std::wstring_view text) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string out(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
    return out;
}

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

std::size_t WholeCharacterLength(std::wstring_view text, std::size_t limit) noexcept {
    if (text.size() <= limit)
        return text.size();
    // Cutting between a lead and its trail would leave half a character; a lone lead (already
    // broken text) followed by anything else is kept as it is.
    if (limit > 0 && IsLeadSurrogate(text[limit - 1]) && IsTrailSurrogate(text[limit]))
        return limit - 1;
    return limit;
}

std::size_t CopyCut(wchar_t* buffer, std::size_t capacity, std::wstring_view text) noexcept {
    if (capacity == 0)
        return 0;
    const std::size_t length = WholeCharacterLength(text, capacity - 1);
    std::wmemcpy(buffer, text.data(), length);
    buffer[length] = L'\0';
    return length;
}

std::size_t AppendCut(wchar_t* buffer, std::size_t capacity, std::wstring_view text) noexcept {
    if (capacity == 0)
        return 0;
    const std::size_t used = wcsnlen(buffer, capacity - 1);
    return used + CopyCut(buffer + used, capacity - used, text);
}

} // namespace win32
