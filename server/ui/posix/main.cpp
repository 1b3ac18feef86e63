// lumavert-server: the NFS server daemon for Linux. Settings come from the settings file and
// the command line; SIGHUP reloads them and restarts the server, SIGINT/SIGTERM stop it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <pthread.h>
#include <string>

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"
#include "common/platform/InstanceLock.h"
#include "common/platform/ListFolder.h"
#include "common/platform/Settings.h"
#include "common/platform/Socket.h"
#include "server/rpc/Daemon.h"

namespace {

struct Options {
    std::optional<std::string> root;
    std::optional<std::string> host;
    std::optional<std::uint32_t> codePage;
    server::ServicePorts ports;
};

void PrintUsage() {
    std::fputs("usage: lumavert-server [--root DIR] [--codepage N] [--host \"H1 H2\"] "
               "[--ports PORTMAP,MOUNT,NFS]\n"
               "Settings are read from $XDG_CONFIG_HOME/lumavert/server.conf; options "
               "override them.\nSIGHUP reloads the settings, SIGINT or SIGTERM stop the "
               "server.\n",
               stderr);
}

bool ParsePorts(const char* text, server::ServicePorts& ports) {
    unsigned a = 0, b = 0, c = 0;
    char extra = 0;
    if (std::sscanf(text, "%u,%u,%u%c", &a, &b, &c, &extra) != 3 || a > 65535 || b > 65535 ||
        c > 65535)
        return false;
    ports = {static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b),
             static_cast<std::uint16_t>(c)};
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        if (std::strcmp(name, "--root") == 0) {
            options.root = value;
        } else if (std::strcmp(name, "--host") == 0) {
            options.host = value;
        } else if (std::strcmp(name, "--codepage") == 0) {
            char* end = nullptr;
            options.codePage = static_cast<std::uint32_t>(std::strtoul(value, &end, 10));
            if (*end != '\0')
                return false;
        } else if (std::strcmp(name, "--ports") != 0 || !ParsePorts(value, options.ports)) {
            return false;
        }
    }
    return true;
}

// One instance per user: an exclusive lock on a file beside the settings.
bool TakeInstanceLock(const std::string& settingsPath, platform::InstanceLock& lock) {
    const std::string lockPath = settingsPath.substr(0, settingsPath.rfind('/')) + "/server.lock";
    if (lock.Acquire(platform::Utf8ToUtf16(lockPath)))
        return true;
    std::fprintf(stderr,
                 "lumavert-server: another instance is already running for this user (lock "
                 "%s)\n",
                 lockPath.c_str());
    return false;
}

std::unique_ptr<server::TDaemon> StartServer(const platform::ServerSettings& settings,
                                             const std::u16string& listFolder,
                                             const server::ServicePorts& ports) {
    auto daemon =
        std::make_unique<server::TDaemon>(settings.root, settings.codePage, listFolder, ports);
    const std::string hosts = platform::Utf16ToUtf8(settings.host);
    std::size_t start = 0;
    while (start <= hosts.size()) {
        const std::size_t space = hosts.find(' ', start);
        const std::size_t end = space == std::string::npos ? hosts.size() : space;
        daemon->AddAllowedHost(std::string_view(hosts).substr(start, end - start));
        start = end + 1;
    }
    if (!daemon->Start()) {
        std::fprintf(stderr, "lumavert-server: %s\n", daemon->ErrorText().c_str());
        return nullptr;
    }
    const server::ServicePorts& bound = daemon->Ports();
    std::fprintf(stderr,
                 "lumavert-server: exporting %s as \"/\" and %s as \"/lst\" (code page %u, "
                 "%s); portmapper %u, mount %u, nfs %u over UDP and TCP\n",
                 platform::Utf16ToUtf8(settings.root).c_str(),
                 platform::Utf16ToUtf8(listFolder).c_str(), settings.codePage,
                 hosts.empty() ? "all hosts" : hosts.c_str(), bound.portmap, bound.mount,
                 bound.nfs);
    return daemon;
}

bool LoadEffectiveSettings(const Options& options, const std::string& path,
                           platform::ServerSettings& settings) {
    // A missing file is made with the defaults.
    settings = platform::DefaultServerSettings();
    platform::SettingsStore store(platform::Utf8ToUtf16(path));
    std::u16string error;
    if (!store.Open(platform::SettingsAccess::kReadWrite, error) || !store.Read(settings, error)) {
        std::fprintf(stderr, "lumavert-server: %s\n", platform::Utf16ToUtf8(error).c_str());
        return false;
    }
    if (options.root)
        settings.root = platform::Utf8ToUtf16(*options.root);
    if (options.host)
        settings.host = platform::Utf8ToUtf16(*options.host);
    if (options.codePage)
        settings.codePage = *options.codePage;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        PrintUsage();
        return 2;
    }
    const std::string settingsPath = platform::Utf16ToUtf8(platform::SettingsLocation());
    platform::ServerSettings settings;
    if (!LoadEffectiveSettings(options, settingsPath, settings))
        return 1;
    platform::InstanceLock lock;
    if (!TakeInstanceLock(settingsPath, lock))
        return 1;
    // The default root is made on first start, so that the server has something to export.
    if (!options.root && settings.root == platform::DefaultRoot())
        platform::CreateDirectory(settings.root);

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
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            continue;
        if (signal != SIGHUP)
            break;
        std::fputs("lumavert-server: reloading settings\n", stderr);
        daemon.reset(); // stops the thread and releases every socket before the new set-up
        if (LoadEffectiveSettings(options, settingsPath, settings))
            daemon = StartServer(settings, listFolder, options.ports);
        if (!daemon)
            std::fputs("lumavert-server: server stopped until the next SIGHUP\n", stderr);
    }
    daemon.reset();
    std::fputs("lumavert-server: stopped\n", stderr);
    return 0;
}
