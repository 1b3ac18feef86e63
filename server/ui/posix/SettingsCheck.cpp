#include "server/ui/posix/SettingsCheck.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/platform/CodePage.h"
#include "common/platform/Socket.h"

namespace posixui {
namespace {

constexpr int kWsaTryAgain = 11002;

// Empty when the folder can be listed and entered.
std::string RootProblem(const std::string& root) {
    struct stat info {};
    if (::stat(root.c_str(), &info) != 0)
        return std::strerror(errno);
    if (!S_ISDIR(info.st_mode))
        return std::strerror(ENOTDIR);
    DIR* folder = ::opendir(root.c_str());
    if (folder == nullptr)
        return std::strerror(errno);
    ::closedir(folder);
    if (::access(root.c_str(), X_OK) != 0)
        return std::strerror(errno);
    return {};
}

} // namespace

std::vector<std::string> SplitHosts(const std::string& hosts) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= hosts.size()) {
        const std::size_t space = hosts.find(' ', start);
        const std::size_t end = space == std::string::npos ? hosts.size() : space;
        if (end > start)
            pieces.push_back(hosts.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

bool CheckSettings(const ServerSettings& settings, std::string& error) {
    std::u16string converted;
    if (!platform::MultiByteToUtf16(settings.codePage, "a", converted)) {
        error = "code page " + std::to_string(settings.codePage) +
                " is not one this system can convert (65001 is UTF-8)";
        return false;
    }
    const std::string problem = RootProblem(settings.root);
    if (!problem.empty()) {
        error = "can't export " + settings.root + ": " + problem;
        return false;
    }
    for (const std::string& host : SplitHosts(settings.host)) {
        std::uint32_t address = 0;
        if (platform::ParseDottedAddress(host.c_str(), address) ||
            platform::ResolveHostName(host.c_str(), address))
            continue;
        error =
            "host \"" + host + "\" of the Host setting does not resolve (" +
            (platform::LastSocketError() == kWsaTryAgain ? "temporary failure in name resolution"
                                                         : "unknown host") +
            ")";
        return false;
    }
    return true;
}

} // namespace posixui
