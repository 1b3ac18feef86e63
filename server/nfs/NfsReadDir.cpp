// NFS procedures: Directory listing from snapshots.
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {

bool TDaemon::NfsReadDir() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsReadDirPlus() { return WriteAcceptStatus(rpc::kProcUnavail); }

} // namespace server
