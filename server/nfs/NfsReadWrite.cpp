// NFS procedures: Reading and writing file contents.
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {

bool TDaemon::NfsRead() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsWrite() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsCommit() { return WriteAcceptStatus(rpc::kProcUnavail); }

} // namespace server
