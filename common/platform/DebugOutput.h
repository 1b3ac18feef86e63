// Diagnostic lines to the system debugger output (standard error on POSIX).
#pragma once

namespace platform {

void DebugOutputA(const char* line);
void DebugOutputW(const char16_t* line);

} // namespace platform
