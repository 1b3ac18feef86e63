// The message filter helper of the Win32 kit.
#include "common/win32/MessageFilter.h"

namespace win32 {

namespace {

// MSGFLT_ALLOW for the window filter, MSGFLT_ADD for the process filter: both are 1.
constexpr DWORD kAllow = 1;

using WindowFilter = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
using ProcessFilter = BOOL(WINAPI*)(UINT, DWORD);

template <typename Function> Function User32Function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr)
        return nullptr;
    // Through a generic function pointer: GCC warns about casting FARPROC directly.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

} // namespace

bool AllowFromLowerIntegrity(HWND window, UINT message) {
    if (message == 0)
        return false;
    static const auto windowFilter = User32Function<WindowFilter>("ChangeWindowMessageFilterEx");
    if (windowFilter != nullptr && window != nullptr)
        return windowFilter(window, message, kAllow, nullptr) != FALSE;
    static const auto processFilter = User32Function<ProcessFilter>("ChangeWindowMessageFilter");
    if (processFilter != nullptr)
        return processFilter(message, kAllow) != FALSE;
    return true;
}

} // namespace win32
