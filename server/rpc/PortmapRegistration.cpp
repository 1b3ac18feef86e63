// MOUNT and NFS registered with another portmapper that holds the portmapper port (on Linux the
// system's rpcbind), for as long as the daemon lives: clients then find this server through it.
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {

using platform::Socket;
using platform::SocketKind;

namespace {

constexpr std::uint32_t kPortmapSet = 1, kPortmapUnset = 2;

struct Service {
    std::uint32_t program, version;
};
constexpr Service kRegistered[] = {
    {rpc::kMountProgram, rpc::kMountVersion},
    {rpc::kNfsProgram, rpc::kNfsVersion},
};

} // namespace

void TDaemon::SetUpWithSystemPortmapper(const PortmapperProbe& probe) {
    // The map holds one port per program and version: taking over the registration of another
    // NFS server on other ports would cut its clients off, so that one wins.
    if (probe.nfs.port != 0 && probe.nfs.port != ports_.nfs) {
        conflict_ = probe.nfs;
        errorText_ = "A NFS server is still running on this machine";
        return;
    }
    if (probe.mount.port != 0 && probe.mount.port != ports_.mount) {
        conflict_ = probe.mount;
        errorText_ = "A Mount service is still running on this machine";
        return;
    }
    // Registered on these very ports: by a server that ended without unregistering (the binds
    // succeed and the registration is renewed), or by one still running (the binds fail).
    if (!SetUpService(mountTcp_, mountUdp_, ports_.mount) ||
        !SetUpService(nfsTcp_, nfsUdp_, ports_.nfs))
        return;
    conflict_ = {};
    if (!RegisterWithPortmapper()) {
        UnregisterFromPortmapper();
        errorText_ = "The portmapper on local TCP port " + std::to_string(ports_.portmap) +
                     " refused to register the Mount and NFS services";
    }
}

bool TDaemon::RegisterWithPortmapper() {
    Socket socket = Socket::Create(SocketKind::Tcp);
    if (!socket.IsValid() || !socket.Connect(LocalPortmapper()))
        return false;
    std::uint32_t xid = clock_->TickCountMs() & 0x7FFFFFFFu;
    for (const Service& service : kRegistered) {
        const std::uint16_t port = service.program == rpc::kNfsProgram ? ports_.nfs : ports_.mount;
        // As the system's own services do: whatever an earlier run left goes first.
        if (CallLocalPortmapper(socket, ++xid, kPortmapUnset,
                                {service.program, service.version, 0, 0}) != LocalCall::Answered)
            return false;
        for (std::uint32_t protocol : {rpc::kProtocolTcp, rpc::kProtocolUdp}) {
            bool done = false;
            if (CallLocalPortmapper(socket, ++xid, kPortmapSet,
                                    {service.program, service.version, protocol, port}) !=
                    LocalCall::Answered ||
                !reader_.ReadBool(done) || !done)
                return false;
        }
    }
    registered_ = true;
    socket.ShutdownBoth();
    return true;
}

void TDaemon::UnregisterFromPortmapper() {
    registered_ = false;
    Socket socket = Socket::Create(SocketKind::Tcp);
    if (!socket.IsValid() || !socket.Connect(LocalPortmapper()))
        return;
    std::uint32_t xid = clock_->TickCountMs() & 0x7FFFFFFFu;
    for (const Service& service : kRegistered)
        CallLocalPortmapper(socket, ++xid, kPortmapUnset, {service.program, service.version, 0, 0});
    socket.ShutdownBoth();
}

} // namespace server
