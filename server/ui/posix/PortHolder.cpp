#include "server/ui/posix/PortHolder.h"

#include <dirent.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace posixui {
namespace {

// TCP states that hold a port against a bind; connections in TIME_WAIT, say, belong to nobody.
constexpr std::string_view kTcpListen = "0A", kTcpBound = "07";

struct SocketLine {
    std::string inode;
    unsigned uid = 0;
};

// The sockets bound to `port` in the table files of /proc/net, listening ones first for TCP.
std::vector<SocketLine> FindSockets(std::uint16_t port, bool tcp) {
    std::vector<SocketLine> listening, others;
    static const char* const kTcpFiles[] = {"/proc/net/tcp", "/proc/net/tcp6"};
    static const char* const kUdpFiles[] = {"/proc/net/udp", "/proc/net/udp6"};
    for (const char* file : tcp ? kTcpFiles : kUdpFiles) {
        std::ifstream in(file);
        std::string line;
        std::getline(in, line); // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits;
            SocketLine socket;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >>
                  socket.uid >> timer >> socket.inode))
                continue;
            const std::size_t colon = local.rfind(':');
            if (colon == std::string::npos ||
                std::strtoul(local.c_str() + colon + 1, nullptr, 16) != port ||
                (tcp && state != kTcpListen && state != kTcpBound))
                continue;
            (tcp && state != kTcpListen ? others : listening).push_back(socket);
        }
    }
    listening.insert(listening.end(), others.begin(), others.end());
    return listening;
}

// The first process with a descriptor of the socket, as "NAME (pid N)", or "".
std::string FindProcess(const std::string& inode) {
    const std::string target = "socket:[" + inode + "]";
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return {};
    std::string found;
    while (found.empty()) {
        const dirent* entry = ::readdir(proc);
        if (entry == nullptr)
            break;
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string fdFolder = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr)
            continue;
        while (const dirent* fd = ::readdir(fds)) {
            char link[64];
            const std::string path = fdFolder + "/" + fd->d_name;
            const ssize_t length = ::readlink(path.c_str(), link, sizeof link);
            if (length <= 0 || std::string_view(link, static_cast<std::size_t>(length)) != target)
                continue;
            std::string name;
            std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
            found = (name.empty() ? "a process" : name) + " (pid " + pid + ")";
            break;
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return found;
}

} // namespace

std::string DescribePortHolder(std::uint16_t port, bool tcp) {
    const std::vector<SocketLine> sockets = FindSockets(port, tcp);
    if (sockets.empty())
        return {};
    for (const SocketLine& socket : sockets) {
        if (socket.inode == "0")
            return "the kernel";
        const std::string process = FindProcess(socket.inode);
        if (!process.empty())
            return process;
    }
    const passwd* user = ::getpwuid(sockets.front().uid);
    return "a program of user " +
           (user != nullptr ? std::string(user->pw_name) : std::to_string(sockets.front().uid));
}

} // namespace posixui
