// What the daemon checks before it starts, so that a setting it cannot use is an error at start
// rather than a server that answers nobody.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace posixui {

// The settings as the daemon uses them: UTF-8 paths and host names, as the user wrote them.
struct ServerSettings {
    std::string root;
    std::string host;
    std::uint32_t codePage = 65001;
};

// The Host setting's pieces: split at each space, empty pieces dropped.
std::vector<std::string> SplitHosts(const std::string& hosts);

// False with `error` set for an unknown code page, a root that is no folder this user can
// list, or a host that neither is an address nor resolves.
bool CheckSettings(const ServerSettings& settings, std::string& error);

} // namespace posixui
