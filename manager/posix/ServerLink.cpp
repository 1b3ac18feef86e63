// The reload request, the start of a server, and the answer read on the loop.
#include "manager/posix/ServerLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include "common/platform/Clock.h"
#include "common/control/ReloadChannelNames.h"

extern char** environ;

namespace manager {

namespace {

bool IsExecutable(const std::string& path) {
    return !path.empty() && access(path.c_str(), X_OK) == 0;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

std::string FindServerProgram(const std::string& self) {
    if (const char* given = std::getenv("LUMAVERT_SERVER"); given != nullptr && *given != 0)
        return given;
    const std::string folder = FolderOf(self);
    for (const std::string& candidate :
         {folder + "/lumavert-server", FolderOf(folder) + "/lumavert-server"}) {
        if (IsExecutable(candidate))
            return candidate;
    }
    return "lumavert-server";
}

ServerLink::~ServerLink() {
    Close();
}

void ServerLink::Close() {
    if (!channel_.IsValid())
        return;
    loop_.RemoveReader(channel_.Fd());
    channel_.Close();
}

bool ServerLink::StartServer() {
    // The server outlives this program: a session of its own, its output in a log beside the
    // settings file.
    const std::string log = FolderOf(settingsPath_) + "/server.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string program = serverProgram_;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        if (said_)
            said_("cannot start " + program + ": " + std::strerror(failed));
        return false;
    }
    if (said_)
        said_("Started " + program + " (process " + std::to_string(pid) + ", log " + log + ").");
    return true;
}

bool ServerLink::RequestReload(int startWaitMs) {
    Close();
    channelPath_ = control::ReloadChannelPath(settingsPath_);
    platform::LocalSocket channel = platform::LocalSocket::Connect(channelPath_);
    if (!channel.IsValid()) {
        if (!StartServer())
            return false;
        // The new server opens its channel once its first start is done.
        const std::uint32_t start = platform::TickCountMs();
        while (!channel.IsValid() &&
               platform::TickCountMs() - start < static_cast<std::uint32_t>(startWaitMs)) {
            platform::SleepMs(20);
            channel = platform::LocalSocket::Connect(channelPath_);
        }
        if (!channel.IsValid()) {
            if (said_)
                said_("lumavert-server did not start; see " + FolderOf(settingsPath_) +
                      "/server.log");
            return false;
        }
    }
    if (!channel.WriteLine(control::kReloadRequest))
        return false;
    channel_ = std::move(channel);
    loop_.AddReader(channel_.Fd(), [this] { OnReadable(); });
    return true;
}

void ServerLink::OnReadable() {
    // The server answers after its restart, in one short line: it is all there once readable.
    std::string line;
    const bool answered = channel_.ReadLine(line, 1000);
    Close();
    if (answered && line == control::kReloadDone) {
        if (served_)
            served_();
        return;
    }
    // No acknowledgement: the session's wait runs out as it does on Windows.
    if (said_)
        said_(answered ? "lumavert-server: " + line
                       : "lumavert-server closed the reload channel without an answer");
}

} // namespace manager
