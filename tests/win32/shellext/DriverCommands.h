// The driver's command modes (--hand-off, --show-menu) for scenario scripts.
#pragma once

namespace driver {

// True when the command line names a command; `exitCode` is then its result.
bool RunCommand(int& exitCode);

} // namespace driver
