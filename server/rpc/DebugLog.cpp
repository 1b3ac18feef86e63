// Diagnostic log: one line per event to the debugger output; no files, no levels.
#include "server/rpc/DebugLog.h"

#include <cstdio>

#include "common/platform/DebugOutput.h"

namespace server {

std::string FormatDebugLine(std::string_view first, const platform::LocalDateTime& time,
                            std::string_view second) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d.%02d.%02d %02d:%02d:%02d %03d", time.day % 100,
                  time.month % 100, time.year % 100, time.hour % 100, time.minute % 100,
                  time.second % 100, time.millisecond % 1000);
    std::string line;
    line.reserve(first.size() + second.size() + 32);
    line += '[';
    line += first;
    line += "][";
    line += stamp;
    line += "] ";
    line += second;
    return line;
}

void DebugLog(std::string_view first, std::string_view second) {
    const std::string line = FormatDebugLine(first, platform::LocalNow(), second);
    platform::DebugOutputA(line.c_str());
}

} // namespace server
