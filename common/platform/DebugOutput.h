// Diagnostic lines to the system debugger output (on POSIX standard error, when enabled).
#pragma once

namespace platform {

void DebugOutputA(const char* line);
void DebugOutputW(const char16_t* line);

} // namespace platform
