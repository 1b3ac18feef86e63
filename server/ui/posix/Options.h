// lumavert-server's command line: options that override the settings file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "server/rpc/Daemon.h"

namespace posixui {

struct Options {
    std::optional<std::string> root;
    std::optional<std::string> host;
    std::optional<std::uint32_t> codePage;
    server::ServicePorts ports;
    bool verbose = false; // the diagnostic log (mounts, listings) to standard error
    bool help = false;
};

// False with `error` naming the option and what is wrong with it.
bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error);

std::string UsageText(const std::string& settingsPath);

} // namespace posixui
