// NFS procedures: Namespace changes and file-system information.
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {

bool TDaemon::NfsCreate() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsMkDir() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsRemove() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsRmDir() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsRename() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsFsStat() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsFsInfo() { return WriteAcceptStatus(rpc::kProcUnavail); }
bool TDaemon::NfsPathConf() { return WriteAcceptStatus(rpc::kProcUnavail); }

} // namespace server
