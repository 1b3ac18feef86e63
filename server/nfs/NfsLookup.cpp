// NFS procedures: Lookup, attributes and access.
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {

bool TDaemon::NfsNull() { return WriteAcceptStatus(rpc::kSuccess); }
bool TDaemon::NfsGetAttr() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsSetAttr() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsLookup() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsAccess() { return WriteAcceptStatus(rpc::kProcUnavail); }

} // namespace server
