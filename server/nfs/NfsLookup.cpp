// NFS procedures that inspect objects: NULL, GETATTR, SETATTR, LOOKUP and ACCESS.
#include "common/platform/FileSystem.h"
#include "server/nfs/NfsConstants.h"
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {
namespace {

constexpr std::uint32_t kTimeCreation = 0, kTimeAccess = 1, kTimeWrite = 2;

constexpr std::uint32_t kNanosecondsPerSecond = 1000000000;

// Replaces one of the file's three times: by the client's time (SET_TO_CLIENT_TIME, as touch -d
// and cp -p send it) or by the server's clock.
std::uint32_t SetTime(platform::File& file, int which, bool fromClient, nfs::NfsTime clientTime,
                      std::uint64_t serverTime) {
    if (fromClient && clientTime.nanoseconds >= kNanosecondsPerSecond)
        return nfs::NFS3ERR_INVAL;
    std::uint64_t times[3] = {};
    if (!file.GetTimes(&times[kTimeCreation], &times[kTimeAccess], &times[kTimeWrite]))
        return nfs::LastFileStatus();
    times[which] = fromClient ? nfs::NfsTimeToFileTime(clientTime) : serverTime;
    if (!file.SetTimes(&times[kTimeCreation], &times[kTimeAccess], &times[kTimeWrite]))
        return nfs::LastFileStatus();
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
    nfs::Fattr3 attributes;
    std::uint32_t status = ResolveHandle(id, entry);
    // An object that cannot report itself is a server fault here, not the platform's error;
    // one that is gone is stale, as everywhere.
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, attributes))
        status = StaleIfGone(*entry, nfs::NFS3ERR_SERVERFAULT);
    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return true;
    return writer_.WriteBytes(attributes.data(), nfs::kFattrSize);
}

bool TDaemon::NfsSetAttr() {
    std::uint32_t id = 0;
    nfs::SetAttributes wanted;
    bool guarded = false;
    std::uint32_t guardSeconds = 0, guardNanoseconds = 0;
    if (!ReadHandle(id) || !nfs::ReadSetAttributes(reader_, wanted) || !reader_.ReadBool(guarded) ||
        (guarded && (!reader_.ReadUInt32(guardSeconds) || !reader_.ReadUInt32(guardNanoseconds))))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    // The guard is decoded only: NOT_SYNC is never answered.
    TObjectHandle* entry = nullptr;
    nfs::Fattr3 before, after;
    std::uint32_t status = ResolveHandle(id, entry);
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, before))
        status = StaleIfGone(*entry, nfs::LastFileStatus());
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
            status = nfs::LastFileStatus();
    }
    if (file.IsOpen()) {
        if (wanted.setMode || wanted.setUid || wanted.setGid)
            status = nfs::NFS3ERR_NOTSUPP;
        if (status == nfs::NFS3_OK && wanted.setSize) {
            if (!file.Seek(wanted.size) || !file.SetEndOfFile() ||
                !handles_->ReadAttributes(*entry, file, after))
                status = nfs::LastFileStatus();
        }
        if (status == nfs::NFS3_OK && wanted.setAccessTime)
            status = SetTime(file, kTimeAccess, wanted.accessTimeFromClient, wanted.accessTime,
                             clock_->SystemTimeAsFileTime());
        if (status == nfs::NFS3_OK && wanted.setModifyTime)
            status = SetTime(file, kTimeWrite, wanted.modifyTimeFromClient, wanted.modifyTime,
                             clock_->SystemTimeAsFileTime());
        if (!handles_->ReadAttributes(*entry, file, after))
            status = nfs::LastFileStatus();
        file.Close();
    }

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false) && writer_.WriteBool(false);
    return nfs::WriteWccData(writer_, before, after);
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
    nfs::Fattr3 directoryAttributes, attributes;
    const std::u16string wideName = NameToWide(name);
    std::uint32_t status = ResolveDirectory(id, directory);
    if (status == nfs::NFS3_OK)
        status = NameStatus(*directory, wideName);
    if (status == nfs::NFS3_OK && directory->GetPath().size() + wideName.size() > nfs::kMaxPath)
        status = nfs::NFS3ERR_NAMETOOLONG;
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(directory, directoryAttributes))
        status = StaleIfGone(*directory, nfs::LastFileStatus());
    if (status == nfs::NFS3_OK && (entry = handles_->GetHandle(directory, wideName)) == nullptr)
        status = nfs::NFS3ERR_NOENT;
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, attributes)) {
        status = nfs::LastFileStatus();
        // The table's entry of a name whose object is gone (removed behind the server's back,
        // or replaced by one of the other kind) gives way to a fresh lookup.
        if (handles_->ForgetIfGone(*entry)) {
            ReleaseOrphanedReadSlot();
            entry = handles_->GetHandle(directory, wideName);
            if (entry == nullptr)
                status = nfs::NFS3ERR_NOENT;
            else if (!handles_->GetAttributes(entry, attributes))
                status = nfs::LastFileStatus();
            else
                status = nfs::NFS3_OK;
        }
    }

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false);
    return WriteHandle(*entry) && nfs::WritePostOpAttributes(writer_, attributes) &&
           nfs::WritePostOpAttributes(writer_, directoryAttributes);
}

bool TDaemon::NfsAccess() {
    std::uint32_t id = 0, access = 0;
    if (!ReadHandle(id) || !reader_.ReadUInt32(access))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TObjectHandle* entry = nullptr;
    nfs::Fattr3 attributes;
    std::uint32_t status = ResolveHandle(id, entry);
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, attributes))
        status = StaleIfGone(*entry, nfs::LastFileStatus());

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false);
    // Every access asked about is granted: the platform decides when the client acts.
    return nfs::WritePostOpAttributes(writer_, attributes) && writer_.WriteUInt32(access);
}

} // namespace server
