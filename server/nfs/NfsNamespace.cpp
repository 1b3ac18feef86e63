// NFS procedures that change the name space (CREATE, MKDIR, REMOVE, RMDIR, RENAME) and describe
// the file system (FSSTAT, FSINFO, PATHCONF).
#include "common/platform/FileSystem.h"
#include "server/nfs/NfsConstants.h"
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {
namespace {

constexpr std::uint32_t kOwnerWrite = 0200;
// FSINFO: only "can set times"; no links, no symbolic links, not homogeneous.
constexpr std::uint32_t kFsfCanSetTime = 0x10;
constexpr std::uint32_t kDefaultBytesPerSector = 512;
constexpr std::uint32_t kNameMax = 260;

bool IsTooLong(const TDirHandle& directory, const std::u16string& name) {
    return directory.GetPath().size() + name.size() > nfs::kMaxPath;
}

// A regular file at `path`; a directory there does not count.
bool FileExistsAt(const std::u16string& path) {
    std::uint32_t attributes = 0;
    return platform::GetPathAttributes(path, attributes) &&
           (attributes & platform::kAttributeDirectory) == 0;
}

bool DirectoryExistsAt(const std::u16string& path) {
    std::uint32_t attributes = 0;
    return platform::GetPathAttributes(path, attributes) &&
           (attributes & platform::kAttributeDirectory) != 0;
}

// Takes the entry of a name that is gone from the disk out of the table, with whatever was
// found through it. Looked up without creating: the object no longer exists.
void ForgetName(TObjectHandles& handles, TDirHandle* directory, std::u16string_view name) {
    const std::int64_t position = handles.FindHandle(directory, name);
    if (position >= 0)
        handles.DeleteHandle(static_cast<std::size_t>(position));
}

// The checks and the removal shared by REMOVE and RMDIR, which differ only in `remove`, after
// the name's own checks and the directory's before attributes.
std::uint32_t RemoveName(TObjectHandles& handles, TDirHandle& directory, const std::u16string& name,
                         bool (*remove)(std::u16string_view), nfs::Fattr3& after) {
    if (IsTooLong(directory, name))
        return nfs::NFS3ERR_NAMETOOLONG;
    if (!remove(directory.GetPath() + name))
        return nfs::LastFileStatus();
    if (!handles.GetAttributes(&directory, after))
        return nfs::LastFileStatus();
    return nfs::NFS3_OK;
}

} // namespace

bool TDaemon::NfsCreate() {
    std::uint32_t id = 0, createMode = 0;
    std::string name;
    nfs::SetAttributes wanted;
    std::uint64_t verifier = 0;
    if (!ReadHandle(id) || !ReadName(name) || !reader_.ReadUInt32(createMode))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    const bool decoded = createMode == nfs::EXCLUSIVE
                             ? reader_.ReadUInt64(verifier)
                             : (createMode == nfs::UNCHECKED || createMode == nfs::GUARDED) &&
                                   nfs::ReadSetAttributes(reader_, wanted);
    if (!decoded)
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    // Every mode fails on an existing name: the verifier of EXCLUSIVE is never compared.
    TDirHandle* directory = nullptr;
    TObjectHandle* entry = nullptr;
    nfs::Fattr3 before, after, attributes;
    const std::u16string wideName = NameToWide(name);
    std::uint32_t status = ResolveDirectory(id, directory);
    if (status == nfs::NFS3_OK)
        status = NameStatus(*directory, wideName);
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(directory, before))
        status = StaleIfGone(*directory, nfs::LastFileStatus());
    if (status == nfs::NFS3_OK && IsTooLong(*directory, wideName))
        status = nfs::NFS3ERR_NAMETOOLONG;
    if (status == nfs::NFS3_OK && handles_->GetHandle(directory, wideName) != nullptr)
        status = nfs::NFS3ERR_EXIST;
    if (status == nfs::NFS3_OK) {
        platform::OpenOptions options;
        options.access = platform::FileAccess::Write;
        options.share = platform::FileShare::ReadWrite;
        options.disposition = platform::FileDisposition::CreateNew;
        const bool readOnly = wanted.setMode && (wanted.mode & kOwnerWrite) == 0;
        options.attributes = readOnly ? platform::kAttributeReadOnly : platform::kAttributeNormal;
        const platform::File file = platform::File::Open(directory->GetPath() + wideName, options);
        if (!file.IsOpen())
            status = nfs::LastFileStatus();
    }
    if (status == nfs::NFS3_OK) {
        entry = handles_->GetHandle(directory, wideName);
        if (!handles_->GetAttributes(directory, after) ||
            !handles_->GetAttributes(entry, attributes))
            status = nfs::LastFileStatus();
    }

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false) && writer_.WriteBool(false);
    return writer_.WriteBool(true) && WriteHandle(*entry) &&
           nfs::WritePostOpAttributes(writer_, attributes) &&
           nfs::WriteWccData(writer_, before, after);
}

bool TDaemon::NfsMkDir() {
    std::uint32_t id = 0;
    std::string name;
    nfs::SetAttributes unused;
    if (!ReadHandle(id) || !ReadName(name) || !nfs::ReadSetAttributes(reader_, unused))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TDirHandle* directory = nullptr;
    TObjectHandle* entry = nullptr;
    nfs::Fattr3 before, after, attributes;
    const std::u16string wideName = NameToWide(name);
    std::uint32_t status = ResolveDirectory(id, directory);
    if (status == nfs::NFS3_OK)
        status = NameStatus(*directory, wideName);
    if (status == nfs::NFS3_OK && IsTooLong(*directory, wideName))
        status = nfs::NFS3ERR_NAMETOOLONG;
    // A file of that name is left to the creation below, which fails as already existing.
    if (status == nfs::NFS3_OK && DirectoryExistsAt(directory->GetPath() + wideName))
        status = nfs::NFS3ERR_EXIST;
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(directory, before))
        status = StaleIfGone(*directory, nfs::LastFileStatus());
    if (status == nfs::NFS3_OK && !platform::MakeDirectory(directory->GetPath() + wideName))
        status = nfs::LastFileStatus();
    if (status == nfs::NFS3_OK) {
        entry = handles_->GetHandle(directory, wideName);
        if (!handles_->GetAttributes(directory, after) ||
            !handles_->GetAttributes(entry, attributes))
            status = nfs::LastFileStatus();
    }

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false) && writer_.WriteBool(false);
    return writer_.WriteBool(true) && WriteHandle(*entry) &&
           nfs::WritePostOpAttributes(writer_, attributes) &&
           nfs::WriteWccData(writer_, before, after);
}

bool TDaemon::NfsRemove() {
    return RemoveObject(&platform::RemoveFile);
}

bool TDaemon::NfsRmDir() {
    return RemoveObject(&platform::RemoveEmptyDirectory);
}

// REMOVE and RMDIR, which differ only in the platform call that removes the object.
bool TDaemon::RemoveObject(bool (*remove)(std::u16string_view)) {
    std::uint32_t id = 0;
    std::string name;
    if (!ReadHandle(id) || !ReadName(name))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TDirHandle* directory = nullptr;
    nfs::Fattr3 before, after;
    const std::u16string wideName = NameToWide(name);
    std::uint32_t status = ResolveDirectory(id, directory);
    if (status == nfs::NFS3_OK)
        status = ChangedNameStatus(*directory, wideName);
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(directory, before))
        status = StaleIfGone(*directory, nfs::LastFileStatus());
    if (status == nfs::NFS3_OK)
        ReleaseFilesAt(*directory, wideName);
    if (status == nfs::NFS3_OK)
        status = RemoveName(*handles_, *directory, wideName, remove, after);
    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false) && writer_.WriteBool(false);
    if (!nfs::WriteWccData(writer_, before, after))
        return false;
    ForgetName(*handles_, directory, wideName);
    ReleaseOrphanedReadSlot();
    return true;
}

bool TDaemon::NfsRename() {
    std::uint32_t fromId = 0, toId = 0;
    std::string fromName, toName;
    if (!ReadHandle(fromId) || !ReadName(fromName) || !ReadHandle(toId) || !ReadName(toName))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TDirHandle* fromDirectory = nullptr;
    TDirHandle* toDirectory = nullptr;
    nfs::Fattr3 fromBefore, fromAfter, toBefore, toAfter;
    const std::u16string wideFrom = NameToWide(fromName);
    const std::u16string wideTo = NameToWide(toName);
    std::uint32_t status = nfs::NFS3_OK;
    if (fromId == 0 || toId == 0)
        status = nfs::NFS3ERR_BADHANDLE;
    if (status == nfs::NFS3_OK)
        status = ResolveDirectory(fromId, fromDirectory);
    if (status == nfs::NFS3_OK)
        status = ResolveDirectory(toId, toDirectory);
    if (status == nfs::NFS3_OK)
        status = ChangedNameStatus(*fromDirectory, wideFrom);
    if (status == nfs::NFS3_OK)
        status = ChangedNameStatus(*toDirectory, wideTo);
    std::u16string toPath;
    if (status == nfs::NFS3_OK) {
        toPath = toDirectory->GetPath() + wideTo;
        // Existing files are never replaced.
        if (FileExistsAt(toPath))
            status = nfs::NFS3ERR_NOTDIR;
    }
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(fromDirectory, fromBefore))
        status = StaleIfGone(*fromDirectory, nfs::LastFileStatus());
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(toDirectory, toBefore))
        status = StaleIfGone(*toDirectory, nfs::LastFileStatus());
    if (status == nfs::NFS3_OK && toPath.size() > nfs::kMaxPath)
        status = nfs::NFS3ERR_NAMETOOLONG;
    if (status == nfs::NFS3_OK)
        ReleaseFilesAt(*fromDirectory, wideFrom);
    if (status == nfs::NFS3_OK && !platform::MovePath(fromDirectory->GetPath() + wideFrom, toPath))
        status = nfs::LastFileStatus();
    if (status == nfs::NFS3_OK && (!handles_->GetAttributes(fromDirectory, fromAfter) ||
                                   !handles_->GetAttributes(toDirectory, toAfter)))
        status = nfs::LastFileStatus();

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK) {
        return writer_.WriteBool(false) && writer_.WriteBool(false) && writer_.WriteBool(false) &&
               writer_.WriteBool(false);
    }
    if (!nfs::WriteWccData(writer_, fromBefore, fromAfter) ||
        !nfs::WriteWccData(writer_, toBefore, toAfter))
        return false;
    // The moved object gets a new entry only when a client looks up its new name.
    ForgetName(*handles_, fromDirectory, wideFrom);
    ReleaseOrphanedReadSlot();
    return true;
}

bool TDaemon::NfsFsStat() {
    std::uint32_t id = 0;
    if (!ReadHandle(id))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TObjectHandle* entry = nullptr;
    nfs::Fattr3 attributes;
    std::uint64_t totalBytes = 0, freeBytes = 0, availableBytes = 0;
    std::uint32_t status = ResolveHandle(id, entry);
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, attributes))
        status = StaleIfGone(*entry, nfs::LastFileStatus());
    if (status == nfs::NFS3_OK &&
        !platform::GetVolumeFreeSpace(entry->GetPath(), totalBytes, freeBytes, availableBytes))
        status = nfs::LastFileStatus();

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false);
    // File counts are not known: tfiles, ffiles and afiles are 0, as is invarsec.
    return nfs::WritePostOpAttributes(writer_, attributes) && writer_.WriteUInt64(totalBytes) &&
           writer_.WriteUInt64(freeBytes) && writer_.WriteUInt64(availableBytes) &&
           writer_.WriteUInt64(0) && writer_.WriteUInt64(0) && writer_.WriteUInt64(0) &&
           writer_.WriteUInt32(0);
}

bool TDaemon::NfsFsInfo() {
    std::uint32_t id = 0;
    if (!ReadHandle(id))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TObjectHandle* entry = nullptr;
    nfs::Fattr3 attributes;
    std::uint32_t status = ResolveHandle(id, entry);
    if (status == nfs::NFS3_OK && currentSocket_ != nullptr) {
        // The sizes are not announced; a socket that cannot report them is a server fault.
        int receiveSize = 0, sendSize = 0;
        if (!currentSocket_->GetReceiveBufferSize(receiveSize) ||
            !currentSocket_->GetSendBufferSize(sendSize))
            status = nfs::NFS3ERR_SERVERFAULT;
    }
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, attributes))
        status = StaleIfGone(*entry, nfs::LastFileStatus());

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false);
    // A file entry has no volume geometry of its own: its folder's, or the common sector size.
    const TDirHandle* directory =
        entry->IsDirectory() ? static_cast<const TDirHandle*>(entry) : entry->Parent();
    const std::uint32_t multiple =
        directory != nullptr ? directory->BytesPerSector : kDefaultBytesPerSector;
    // Sizes for the transport this client asks on: a datagram holds far less than a record.
    const bool datagram = currentProtocol_ == rpc::kProtocolUdp;
    const std::uint32_t readMax = datagram ? nfs::kDatagramTransferMax : nfs::kReadMax;
    const std::uint32_t writeMax = datagram ? nfs::kDatagramTransferMax : nfs::kWriteMax;
    const std::uint32_t dirPref = datagram ? nfs::kDatagramTransferMax : nfs::kDirPref;
    return nfs::WritePostOpAttributes(writer_, attributes) && writer_.WriteUInt32(readMax) &&
           writer_.WriteUInt32(readMax) && writer_.WriteUInt32(multiple) &&
           writer_.WriteUInt32(writeMax) && writer_.WriteUInt32(writeMax) &&
           writer_.WriteUInt32(multiple) && writer_.WriteUInt32(dirPref) &&
           writer_.WriteUInt64(~std::uint64_t{0}) && writer_.WriteUInt32(0) &&
           writer_.WriteUInt32(0) && writer_.WriteUInt32(kFsfCanSetTime);
}

bool TDaemon::NfsPathConf() {
    std::uint32_t id = 0;
    if (!ReadHandle(id))
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
    // linkmax 0: no hard links. Names keep their case; whether they match ignoring it is the
    // file system's to say (always on Windows).
    return nfs::WritePostOpAttributes(writer_, attributes) && writer_.WriteUInt32(0) &&
           writer_.WriteUInt32(kNameMax) && writer_.WriteBool(true) && writer_.WriteBool(true) &&
           writer_.WriteBool(handles_->IgnoresCase(*entry)) && writer_.WriteBool(true);
}

} // namespace server
