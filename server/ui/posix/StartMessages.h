// What lumavert-server says when the server cannot start, and once it runs.
#pragma once

#include <string>

#include "server/rpc/Daemon.h"
#include "server/ui/posix/SettingsCheck.h"

namespace posixui {

// The daemon's error text, with what stands in the way of a port (the errno text, who holds
// it) and what to do about it.
std::string StartFailureText(const server::TDaemon& daemon);

std::string RunningText(const server::TDaemon& daemon, const ServerSettings& settings,
                        const std::string& listFolder);

} // namespace posixui
