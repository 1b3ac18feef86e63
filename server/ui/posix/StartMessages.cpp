#include "server/ui/posix/StartMessages.h"

#include "common/platform/Socket.h"
#include "server/ui/posix/PortHolder.h"

namespace posixui {
namespace {

constexpr int kWsaEAcces = 10013;
constexpr int kWsaEAddrNotAvail = 10049;

std::string SocketErrorText(int error) {
    switch (error) {
    case kWsaEAcces:
        return "Permission denied";
    case platform::kWsaEAddrInUse:
        return "Address already in use";
    case kWsaEAddrNotAvail:
        return "Cannot assign requested address";
    default:
        return "socket error " + std::to_string(error);
    }
}

} // namespace

std::string StartFailureText(const server::TDaemon& daemon) {
    const server::PortConflict& conflict = daemon.Conflict();
    if (conflict.port == 0)
        return daemon.ErrorText();
    const std::string where =
        std::string(conflict.tcp ? "TCP" : "UDP") + " port " + std::to_string(conflict.port);
    const std::string ownPorts = "choose ports of its own with --ports PORTMAP,MOUNT,NFS";
    // Without root even a free port below 1024 fails, whatever set-up made of it afterwards.
    if (conflict.socketError == kWsaEAcces)
        return "Can't bind socket to local " + where +
               ": Permission denied (ports below 1024 need root); run it as root, or " + ownPorts;
    std::string text = daemon.ErrorText() + ": ";
    text += conflict.socketError == 0 ? "registered with the portmapper for " + where
                                      : SocketErrorText(conflict.socketError);
    const std::string holder = DescribePortHolder(conflict.port, conflict.tcp);
    if (!holder.empty())
        text += ", held by " + holder;
    return text + "; stop it, or " + ownPorts;
}

std::string RunningText(const server::TDaemon& daemon, const ServerSettings& settings,
                        const std::string& listFolder) {
    const server::ServicePorts& ports = daemon.Ports();
    std::string text = "exporting " + settings.root + " as \"/\" and " + listFolder +
                       " as \"/lst\" (code page " + std::to_string(settings.codePage) + ", " +
                       (settings.host.empty() ? "all hosts" : "hosts " + settings.host) +
                       "); mount " + std::to_string(ports.mount) + ", nfs " +
                       std::to_string(ports.nfs) + " over UDP and TCP, ";
    if (daemon.UsesSystemPortmapper())
        return text + "registered with the system's portmapper on port " +
               std::to_string(ports.portmap);
    return text + "portmapper " + std::to_string(ports.portmap);
}

} // namespace posixui
