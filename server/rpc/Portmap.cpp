// Portmapper version 2 with a fixed map: the three services of this server.
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {

bool TDaemon::PortmapNull() {
    return WriteAcceptStatus(rpc::kSuccess);
}

bool TDaemon::PortmapGetPort() {
    std::uint32_t program = 0, version = 0, protocol = 0, port = 0;
    if (!reader_.ReadUInt32(program) || !reader_.ReadUInt32(version) ||
        !reader_.ReadUInt32(protocol) || !reader_.ReadUInt32(port))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    // Chosen by program and version alone.
    std::uint32_t answer = 0;
    if (program == rpc::kPortmapProgram && version == rpc::kPortmapVersion)
        answer = ports_.portmap;
    else if (program == rpc::kMountProgram && version == rpc::kMountVersion)
        answer = ports_.mount;
    else if (program == rpc::kNfsProgram && version == rpc::kNfsVersion)
        answer = ports_.nfs;
    return WriteAcceptStatus(rpc::kSuccess) && writer_.WriteUInt32(answer);
}

bool TDaemon::PortmapDump() {
    struct Row {
        std::uint32_t program, version, protocol, port;
    };
    const Row rows[] = {
        {rpc::kPortmapProgram, rpc::kPortmapVersion, rpc::kProtocolTcp, ports_.portmap},
        {rpc::kPortmapProgram, rpc::kPortmapVersion, rpc::kProtocolUdp, ports_.portmap},
        {rpc::kMountProgram, rpc::kMountVersion, rpc::kProtocolTcp, ports_.mount},
        {rpc::kMountProgram, rpc::kMountVersion, rpc::kProtocolUdp, ports_.mount},
        {rpc::kNfsProgram, rpc::kNfsVersion, rpc::kProtocolTcp, ports_.nfs},
        {rpc::kNfsProgram, rpc::kNfsVersion, rpc::kProtocolUdp, ports_.nfs},
    };
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;
    for (const Row& row : rows) {
        if (!writer_.WriteBool(true) || !writer_.WriteUInt32(row.program) ||
            !writer_.WriteUInt32(row.version) || !writer_.WriteUInt32(row.protocol) ||
            !writer_.WriteUInt32(row.port))
            return false;
    }
    return writer_.WriteBool(false);
}

bool TDaemon::PortmapGetTime() {
    const nfs::NfsTime now = nfs::FileTimeToNfsTime(clock_->SystemTimeAsFileTime());
    return WriteAcceptStatus(rpc::kSuccess) && writer_.WriteUInt32(now.seconds);
}

} // namespace server
