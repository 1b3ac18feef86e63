// NFS procedures that inspect objects: NULL, GETATTR, SETATTR, LOOKUP and ACCESS.
#include "common/platform/Clock.h"
#include "common/platform/FileSystem.h"
#include "server/nfs/NfsConstants.h"
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {
namespace {

// The status of the platform call that just failed; call before anything else touches the
// platform's error.
std::uint32_t MappedError() {
    return nfs::WinErrorToNfsStatus(platform::LastFileError());
}

constexpr std::uint32_t kTimeCreation = 0, kTimeAccess = 1, kTimeWrite = 2;

constexpr std::uint32_t kNanosecondsPerSecond = 1000000000;

// Replaces one of the file's three times: by the client's time (SET_TO_CLIENT_TIME, as touch -d
// and cp -p send it) or by the server's clock.
std::uint32_t SetTime(platform::File& file, int which, bool fromClient, rpc::NfsTime clientTime) {
    if (fromClient && clientTime.nanoseconds >= kNanosecondsPerSecond)
        return nfs::NFS3ERR_INVAL;
    std::uint64_t times[3] = {};
    if (!file.GetTimes(&times[kTimeCreation], &times[kTimeAccess], &times[kTimeWrite]))
        return MappedError();
    times[which] =
        fromClient ? rpc::NfsTimeToFileTime(clientTime) : platform::SystemTimeAsFileTime();
    if (!file.SetTimes(&times[kTimeCreation], &times[kTimeAccess], &times[kTimeWrite]))
        return MappedError();
    return nfs::NFS3_OK;
}

} // namespace

bool TDaemon::NfsNull() {
    return WriteAcceptStatus(rpc::kSuccess);
}

bool TDaemon::NfsGetAttr() {
    std::uint32_t id = 0;
    if (!ReadHandle(id))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TObjectHandle* entry = nullptr;
    rpc::Fattr3 attributes;
    std::uint32_t status = ResolveHandle(id, entry);
    // An object that cannot report itself is a server fault here, not the platform's error;
    // one that is gone is stale, as everywhere.
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, attributes))
        status = StaleIfGone(*entry, nfs::NFS3ERR_SERVERFAULT);
    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return true;
    return writer_.WriteBytes(attributes.data(), rpc::kFattrSize);
}

bool TDaemon::NfsSetAttr() {
    std::uint32_t id = 0;
    rpc::SetAttributes wanted;
    bool guarded = false;
    std::uint32_t guardSeconds = 0, guardNanoseconds = 0;
    if (!ReadHandle(id) || !reader_.ReadSetAttributes(wanted) || !reader_.ReadBool(guarded) ||
        (guarded && (!reader_.ReadUInt32(guardSeconds) || !reader_.ReadUInt32(guardNanoseconds))))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    // The guard is decoded only: NOT_SYNC is never answered.
    TObjectHandle* entry = nullptr;
    rpc::Fattr3 before, after;
    std::uint32_t status = ResolveHandle(id, entry);
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, before))
        status = StaleIfGone(*entry, MappedError());
    platform::File file;
    if (status == nfs::NFS3_OK) {
        // The server's own read slot must not stand in the way of the server's own change.
        ReleaseReadSlot(entry->Id());
        // Without the directory flag, so that a directory is refused with access denied.
        platform::OpenOptions options;
        options.access = platform::FileAccess::Write;
        options.share = platform::FileShare::ReadWrite;
        file = platform::File::Open(entry->GetPath(), options);
        if (!file.IsOpen())
            status = MappedError();
    }
    if (file.IsOpen()) {
        if (wanted.setMode || wanted.setUid || wanted.setGid)
            status = nfs::NFS3ERR_NOTSUPP;
        if (status == nfs::NFS3_OK && wanted.setSize) {
            if (!file.Seek(wanted.size) || !file.SetEndOfFile() ||
                !handles_->ReadAttributes(*entry, file, after))
                status = MappedError();
        }
        if (status == nfs::NFS3_OK && wanted.setAccessTime)
            status = SetTime(file, kTimeAccess, wanted.accessTimeFromClient, wanted.accessTime);
        if (status == nfs::NFS3_OK && wanted.setModifyTime)
            status = SetTime(file, kTimeWrite, wanted.modifyTimeFromClient, wanted.modifyTime);
        if (!handles_->ReadAttributes(*entry, file, after))
            status = MappedError();
        file.Close();
    }

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false) && writer_.WriteBool(false);
    return writer_.WriteWccData(before, after);
}

bool TDaemon::NfsLookup() {
    std::uint32_t id = 0;
    std::string name;
    if (!ReadHandle(id) || !ReadName(name))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TDirHandle* directory = nullptr;
    TObjectHandle* entry = nullptr;
    rpc::Fattr3 directoryAttributes, attributes;
    const std::u16string wideName = NameToWide(name);
    std::uint32_t status = ResolveDirectory(id, directory);
    if (status == nfs::NFS3_OK)
        status = NameStatus(*directory, wideName);
    if (status == nfs::NFS3_OK && directory->GetPath().size() + wideName.size() > nfs::kMaxPath)
        status = nfs::NFS3ERR_NAMETOOLONG;
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(directory, directoryAttributes))
        status = StaleIfGone(*directory, MappedError());
    if (status == nfs::NFS3_OK && (entry = handles_->GetHandle(directory, wideName)) == nullptr)
        status = nfs::NFS3ERR_NOENT;
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, attributes)) {
        status = MappedError();
        // The table's entry of a name whose object is gone (removed behind the server's back,
        // or replaced by one of the other kind) gives way to a fresh lookup.
        if (handles_->ForgetIfGone(*entry)) {
            ReleaseOrphanedReadSlot();
            entry = handles_->GetHandle(directory, wideName);
            if (entry == nullptr)
                status = nfs::NFS3ERR_NOENT;
            else if (!handles_->GetAttributes(entry, attributes))
                status = MappedError();
            else
                status = nfs::NFS3_OK;
        }
    }

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false);
    return WriteHandle(*entry) && writer_.WritePostOpAttributes(attributes) &&
           writer_.WritePostOpAttributes(directoryAttributes);
}

bool TDaemon::NfsAccess() {
    std::uint32_t id = 0, access = 0;
    if (!ReadHandle(id) || !reader_.ReadUInt32(access))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TObjectHandle* entry = nullptr;
    rpc::Fattr3 attributes;
    std::uint32_t status = ResolveHandle(id, entry);
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, attributes))
        status = StaleIfGone(*entry, MappedError());

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false);
    // Every access asked about is granted: the platform decides when the client acts.
    return writer_.WritePostOpAttributes(attributes) && writer_.WriteUInt32(access);
}

} // namespace server
