// Diagnostic lines of the manager and the extension: formatted into 256 UTF-16 units, cut to
// fit, and sent to the system debugger output (or to the sink a test installs).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "common/text/Format.h"

namespace text {

inline constexpr std::size_t kDebugLineUnits = 256;

// Where lines go; an empty sink restores the debugger output. Returns the previous sink.
using DebugSink = std::function<void(std::u16string_view line)>;
DebugSink SetDebugSink(DebugSink sink);

// Sends one line, cut to kDebugLineUnits - 1 units.
void DebugPrintLine(std::u16string line);

template <typename... Args> void DebugPrint(std::u16string_view format, const Args&... args) {
    DebugPrintLine(Format(format, args...));
}

// The system error line: "GetLastError=%d: %s" with `code` and the system's text for it.
void DebugPrintSystemError(std::uint32_t code);

} // namespace text
