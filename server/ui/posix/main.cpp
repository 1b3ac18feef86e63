// lumavert-server: the NFS server daemon for Linux. Settings come from the settings file and
// the command line; SIGHUP or a request on the reload channel reloads them and restarts the
// server (the channel answers once the new server serves), SIGINT/SIGTERM stop it.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"
#include "common/platform/InstanceLock.h"
#include "common/platform/ListFolder.h"
#include "common/platform/Settings.h"
#include "common/platform/Socket.h"
#include "common/control/ReloadChannelNames.h"
#include "common/platform/posix/DebugOutput_posix.h"
#include "common/platform/posix/LocalSocket_posix.h"
#include "server/rpc/Daemon.h"
#include "server/ui/posix/Options.h"
#include "server/ui/posix/SettingsCheck.h"
#include "server/ui/posix/StartMessages.h"

namespace {

// The last complaint, for the reload channel's answer.
std::string gLastSaid;

void Say(const std::string& text) {
    gLastSaid = text;
    std::fputs(("lumavert-server: " + text + "\n").c_str(), stderr);
}

// The default root is made on the first start, with one small file in it, so that a newcomer
// has something to list and read at once. A folder that exists is never touched.
void MakeDefaultRoot(const std::string& root) {
    std::u16string documents;
    platform::DocumentsFolder(true, documents); // creates the Documents folder when missing
    std::uint32_t attributes = 0;
    if (platform::GetPathAttributes(platform::Utf8ToUtf16(root), attributes) ||
        !platform::MakeDirectory(platform::Utf8ToUtf16(root)))
        return;
    std::ofstream(root + "/Welcome.txt")
        << "lumavert-server exports this folder over NFS version 3 as \"/\" (and, as the list\n"
           "folder of the Explorer hand-off, as \"/lst\"). Put video, audio and picture files\n"
           "here to play them on a Kestro player, or try it from this machine with libnfs:\n\n"
           "    nfs-ls -R nfs://127.0.0.1/\n"
           "    nfs-cat nfs://127.0.0.1//Welcome.txt\n\n"
           "This file may be deleted.\n";
    Say("made " + root + " with a Welcome.txt in it");
}

// One instance per user: an exclusive lock on a file beside the settings.
bool TakeInstanceLock(const std::string& settingsPath, platform::InstanceLock& lock) {
    const std::string lockPath = settingsPath.substr(0, settingsPath.rfind('/')) + "/server.lock";
    if (lock.Acquire(platform::Utf8ToUtf16(lockPath)))
        return true;
    Say("another instance is already running for this user (lock " + lockPath + ")");
    return false;
}

bool LoadEffectiveSettings(const posixui::Options& options, const std::string& path,
                           posixui::ServerSettings& settings) {
    // A missing file is made with the defaults.
    platform::ServerSettings stored = platform::DefaultServerSettings();
    platform::SettingsStore store(platform::Utf8ToUtf16(path));
    std::u16string error;
    if (!store.Open(platform::SettingsAccess::kReadWrite, error) || !store.Read(stored, error)) {
        Say(platform::Utf16ToUtf8(error));
        return false;
    }
    settings.root = options.root ? *options.root : platform::Utf16ToUtf8(stored.root);
    settings.host = options.host ? *options.host : platform::Utf16ToUtf8(stored.host);
    settings.codePage = options.codePage ? *options.codePage : stored.codePage;
    return true;
}

std::unique_ptr<server::TDaemon> StartServer(const posixui::ServerSettings& settings,
                                             const std::u16string& listFolder,
                                             const server::ServicePorts& ports) {
    std::string error;
    if (!posixui::CheckSettings(settings, error)) {
        Say(error);
        return nullptr;
    }
    // Beside the system's rpcbind, MOUNT and NFS are registered with it, as Linux's own NFS
    // services do.
    auto daemon =
        std::make_unique<server::TDaemon>(platform::Utf8ToUtf16(settings.root), settings.codePage,
                                          listFolder, ports, 0, server::PortmapperTaken::Register);
    for (const std::string& host : posixui::SplitHosts(settings.host))
        daemon->AddAllowedHost(host);
    if (!daemon->Start()) {
        Say(posixui::StartFailureText(*daemon));
        return nullptr;
    }
    Say(posixui::RunningText(*daemon, settings, platform::Utf16ToUtf8(listFolder)));
    return daemon;
}

} // namespace

int main(int argc, char** argv) {
    const std::string settingsPath = platform::Utf16ToUtf8(platform::SettingsLocation());
    posixui::Options options;
    std::string error;
    if (!posixui::ParseOptions(argc, argv, options, error)) {
        Say(error);
        std::fputs("Try 'lumavert-server --help'.\n", stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(posixui::UsageText(settingsPath).c_str(), stdout);
        return 0;
    }
    platform::EnableDebugOutput(options.verbose);

    posixui::ServerSettings settings;
    if (!LoadEffectiveSettings(options, settingsPath, settings))
        return 1;
    Say("settings from " + settingsPath);
    platform::InstanceLock lock;
    if (!TakeInstanceLock(settingsPath, lock))
        return 1;
    if (!options.root && settings.root == platform::Utf16ToUtf8(platform::DefaultRoot()))
        MakeDefaultRoot(settings.root);

    platform::StartSocketLibrary();
    // Signals are taken by sigwait here, never by the server thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const std::u16string listFolder =
        platform::ListFolder(platform::ListFolderFallback::kExecutableFolder);
    std::unique_ptr<server::TDaemon> daemon = StartServer(settings, listFolder, options.ports);
    if (!daemon)
        return 1;
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    platform::LocalSocket channel =
        platform::LocalSocket::Listen(control::ReloadChannelPath(settingsPath), error);
    if (!channel.IsValid())
        Say(error + " (reload with SIGHUP only)");
    // Stops the old server (releasing every socket first) and starts the new one.
    const auto reload = [&] {
        Say("reloading settings");
        daemon.reset();
        if (LoadEffectiveSettings(options, settingsPath, settings))
            daemon = StartServer(settings, listFolder, options.ports);
        if (daemon)
            return true;
        const std::string reason = gLastSaid;
        Say("server stopped until the next reload");
        gLastSaid = reason;
        return false;
    };
    for (;;) {
        pollfd entries[2] = {{signalFd, POLLIN, 0}, {channel.Fd(), POLLIN, 0}};
        if (poll(entries, channel.Fd() < 0 ? 1 : 2, -1) <= 0)
            continue;
        if ((entries[1].revents & POLLIN) != 0) {
            platform::LocalSocket client = channel.Accept();
            std::string request;
            // A client that says nothing within a second must not hold the server.
            if (client.IsValid() && client.ReadLine(request, 1000)) {
                if (request != control::kReloadRequest) {
                    client.WriteLine(std::string(control::kReloadFailedPrefix) + "unknown request");
                } else {
                    gLastSaid.clear();
                    const bool serving = reload();
                    client.WriteLine(serving ? std::string(control::kReloadDone)
                                             : control::kReloadFailedPrefix + gLastSaid);
                }
            }
        }
        if ((entries[0].revents & POLLIN) == 0)
            continue;
        signalfd_siginfo info;
        if (read(signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            continue;
        if (info.ssi_signo != SIGHUP)
            break;
        reload();
    }
    daemon.reset();
    Say("stopped");
    return 0;
}
