// Log lines and error-box texts of the core, formatted from literals into the port's buffers.
#pragma once

#include <string_view>

#include "common/text/DebugPrint.h"
#include "common/text/Format.h"
#include "manager/core/ManagerPort.h"

namespace manager {

// Error texts fill a buffer of 1024 units, cut to fit.
inline constexpr std::size_t kErrorTextUnits = 1024;

template <typename... Args>
void Log(IManagerPort& port, std::u16string_view format, const Args&... args) {
    port.Log(text::FormatCut(text::kDebugLineUnits, format, args...));
}

template <typename... Args>
void ShowErrorBox(IManagerPort& port, DialogTicket ticket, std::u16string_view format,
                  const Args&... args) {
    port.ShowErrorBox(text::FormatCut(kErrorTextUnits, format, args...), ticket);
}

} // namespace manager
