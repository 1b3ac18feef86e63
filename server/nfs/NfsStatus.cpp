// The one place where Win32 error codes become NFS statuses.
#include "server/nfs/NfsConstants.h"

#include "common/platform/FileSystem.h"

namespace nfs {

std::uint32_t WinErrorToNfsStatus(std::uint32_t winError) {
    switch (winError) {
    case platform::kErrorFileNotFound:
        return NFS3ERR_NOENT;
    case platform::kErrorPathNotFound:
        return NFS3ERR_NOTDIR;
    case platform::kErrorAccessDenied:
        return NFS3ERR_ACCES;
    case platform::kErrorHandleDiskFull:
    case platform::kErrorDiskFull: // what Windows reports for a full volume
        return NFS3ERR_NOSPC;
    case platform::kErrorDirNotEmpty:
        return NFS3ERR_NOTEMPTY;
    default:
        return NFS3ERR_SERVERFAULT;
    }
}

std::uint32_t LastFileStatus() {
    return WinErrorToNfsStatus(platform::LastFileError());
}

} // namespace nfs
