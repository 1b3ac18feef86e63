// lumavert, the manager on Linux: `play FILE...`, `players` and `stop`, each driving the
// manager's core through the same port as the Windows manager, in a poll loop.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace manager {

struct AppOptions {
    std::string command; // play, players, stop
    std::vector<std::string> files;
    std::string player;
    std::optional<std::string> accessCode;
    bool json = false;
    bool verbose = false;
    bool help = false;
};

// False with `error` saying what is wrong.
bool ParseAppOptions(const std::vector<std::string>& args, AppOptions& options, std::string& error);

extern const char kAppUsage[];

// Runs a parsed command; the process's exit code. `self` is the program's path.
int RunApp(const AppOptions& options, const std::string& self);

} // namespace manager
