// System error texts from FormatMessageW.
#include <windows.h>

#include "common/platform/SystemError.h"

namespace platform {

std::u16string SystemErrorText(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr)
        return UnknownErrorText(code);
    std::u16string out(reinterpret_cast<const char16_t*>(buffer), length);
    ::LocalFree(buffer);
    while (!out.empty() && (out.back() == u'\r' || out.back() == u'\n' || out.back() == u' '))
        out.pop_back();
    return out;
}

} // namespace platform
