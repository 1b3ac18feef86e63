// Diagnostic lines to the debugger through OutputDebugString.
#include "common/platform/DebugOutput.h"

#include <windows.h>

namespace platform {

void DebugOutputA(const char* line) {
    if (line != nullptr)
        OutputDebugStringA(line);
}

void DebugOutputW(const char16_t* line) {
    // char16_t and wchar_t are both UTF-16 code units on Windows.
    if (line != nullptr)
        OutputDebugStringW(reinterpret_cast<const wchar_t*>(line));
}

} // namespace platform
