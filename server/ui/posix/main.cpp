// lumavert-server: runs the NFS server daemon in the foreground until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"
#include "common/platform/Socket.h"
#include "server/rpc/Daemon.h"

namespace {

volatile std::sig_atomic_t gStopRequested = 0;

void OnStopSignal(int) { gStopRequested = 1; }

struct Options {
    std::string root;
    std::string host;
    std::uint32_t codePage = platform::kCodePageUtf8;
    server::ServicePorts ports;
};

void PrintUsage() {
    std::fputs("usage: lumavert-server --root DIR [--codepage N] [--host \"H1 H2\"] "
               "[--ports PORTMAP,MOUNT,NFS]\n",
               stderr);
}

bool ParsePorts(const char* text, server::ServicePorts& ports) {
    unsigned a = 0, b = 0, c = 0;
    if (std::sscanf(text, "%u,%u,%u", &a, &b, &c) != 3 || a > 65535 || b > 65535 || c > 65535)
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
        if (std::strcmp(name, "--root") == 0)
            options.root = value;
        else if (std::strcmp(name, "--host") == 0)
            options.host = value;
        else if (std::strcmp(name, "--codepage") == 0)
            options.codePage = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 10));
        else if (std::strcmp(name, "--ports") == 0 && ParsePorts(value, options.ports))
            continue;
        else
            return false;
    }
    return !options.root.empty();
}

std::u16string ListFolder() {
    std::u16string documents;
    if (platform::DocumentsFolder(true, documents)) {
        std::u16string folder = documents + u"/Lumavert";
        std::uint32_t attributes = 0;
        if ((platform::GetFileAttributes(folder, attributes) ||
             platform::CreateDirectory(folder)) &&
            platform::GetFileAttributes(folder, attributes))
            return folder + u"/";
    }
    std::u16string executable;
    platform::ExecutableFolder(executable);
    return executable;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        PrintUsage();
        return 2;
    }
    platform::StartSocketLibrary();
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    server::TDaemon daemon(platform::Utf8ToUtf16(options.root), options.codePage, ListFolder(),
                           options.ports);
    std::size_t start = 0;
    while (start <= options.host.size()) {
        const std::size_t space = options.host.find(' ', start);
        const std::size_t end = space == std::string::npos ? options.host.size() : space;
        daemon.AddAllowedHost(std::string_view(options.host).substr(start, end - start));
        start = end + 1;
    }
    if (!daemon.Start()) {
        std::fprintf(stderr, "lumavert-server: %s\n", daemon.ErrorText().c_str());
        return 1;
    }
    const server::ServicePorts& ports = daemon.Ports();
    std::fprintf(stderr, "lumavert-server: exporting %s (portmapper %u, mount %u, nfs %u)\n",
                 options.root.c_str(), ports.portmap, ports.mount, ports.nfs);
    while (!gStopRequested)
        pause();
    daemon.Stop();
    return 0;
}
