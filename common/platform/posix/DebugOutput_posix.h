// POSIX only: the debugger output is standard error, which nobody watches by default, so lines
// reach it only when asked for (the daemon's --verbose).
#pragma once

namespace platform {

// Off until enabled; may be switched at any time from any thread.
void EnableDebugOutput(bool enable);

} // namespace platform
