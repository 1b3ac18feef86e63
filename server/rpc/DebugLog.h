// Diagnostic lines for a developer watching the debugger output.
#pragma once

#include <string>
#include <string_view>

#include "common/platform/Clock.h"

namespace server {

// "[first][dd.mm.yy hh:nn:ss zzz] second", without a line terminator.
std::string FormatDebugLine(std::string_view first, const platform::LocalDateTime& time,
                            std::string_view second);

// Writes the line, stamped with the current local time, to the debugger output.
void DebugLog(std::string_view first, std::string_view second);

} // namespace server
