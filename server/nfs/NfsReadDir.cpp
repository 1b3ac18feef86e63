// NFS procedures READDIR and READDIRPLUS: listings served from a snapshot of the directory that
// a listing from cookie 0 (or with verifier 0) takes; cookies are positions in the snapshot.
#include <string>

#include "common/platform/CodePage.h"
#include "server/nfs/NfsConstants.h"
#include "server/rpc/Daemon.h"
#include "server/rpc/DebugLog.h"
#include "server/rpc/RpcConstants.h"

namespace server {
namespace {

// Bytes of a READDIR entry besides its name: value_follows, fileid, name length, cookie.
constexpr std::uint32_t kEntrySize = 24;
// A READDIRPLUS entry adds post_op_attr (4 + 84) and post_op_fh3 (4 + 4 + 4).
constexpr std::uint32_t kEntryPlusSize = 124;
// What follows the last entry: the end-of-list marker and eof.
constexpr std::uint32_t kListEndSize = 8;
// The fileid of a listed name that has no entry in the handle table.
constexpr std::uint64_t kNoFileId = ~std::uint64_t{0};

std::uint32_t Padded(std::size_t length) {
    return static_cast<std::uint32_t>((length + 3) & ~std::size_t{3});
}

// A client count beyond what the reply may hold (one record, one datagram) cannot be used
// whole; capping it keeps every write that the size checks admit within the reply.
std::uint32_t CapToReply(std::uint32_t count, std::uint32_t replyLimit) {
    return count < replyLimit ? count : replyLimit;
}

// After the directory's checks and attributes, the reading that the verifier names, or a fresh
// snapshot for verifier 0 and for cookie 0: a listing from the start is a new listing, whatever
// verifier the client kept (the Linux client sends its last one, and files deleted since would
// be listed again).
std::uint32_t OpenListing(TReadDirHandles& readings, TDirHandle& directory, std::uint64_t cookie,
                          std::uint64_t& verifier, TReadDirReading*& reading) {
    reading = nullptr;
    if (verifier == 0 || cookie == 0) {
        reading = readings.StartReading(directory.Id(), directory.GetPath());
        if (reading == nullptr)
            return nfs::LastFileStatus();
        verifier = reading->identity;
        return nfs::NFS3_OK;
    }
    // Any live reading will do, even one of another directory: the verifier alone decides.
    reading = readings.FindByIdentity(static_cast<std::uint32_t>(verifier));
    return reading == nullptr ? nfs::NFS3ERR_BAD_COOKIE : nfs::NFS3_OK;
}

// The entry GetHandle gives for the k-th name of the reading in `directory` (nullptr for a name
// that is listed bare), remembered in the reading: the table keeps one entry per (directory,
// name) until it is deleted, and identifiers are not reused, so a live remembered identifier is
// the entry GetHandle would find.
TObjectHandle* ListedEntry(TObjectHandles& handles, TReadDirReading& reading, std::size_t k,
                           TDirHandle* directory) {
    if (reading.handlesDirectory != directory->Id() ||
        reading.handleIds.size() != reading.files.size()) {
        reading.handleIds.assign(reading.files.size(), 0);
        reading.handlesDirectory = directory->Id();
    }
    std::uint64_t& known = reading.handleIds[k];
    if (known == TReadDirReading::kEscapesExport)
        return nullptr;
    if (known != 0) {
        if (TObjectHandle* entry = handles.Find(static_cast<std::uint32_t>(known)))
            return entry;
    }
    // Names that climb out of the export (".." at its root) are listed bare and never enter the
    // handle table.
    const std::u16string& name = reading.files[k].name;
    if (handles.EscapesExport(directory, name)) {
        known = TReadDirReading::kEscapesExport;
        return nullptr;
    }
    TObjectHandle* entry = handles.GetHandle(directory, name);
    known = entry != nullptr ? entry->Id() : 0;
    return entry;
}

} // namespace

// The entry of the k-th name of the reading, as ListedEntry finds it; a name whose file became a
// folder on disk, or the reverse, gets a fresh entry.
TObjectHandle* TDaemon::ListedObject(TReadDirReading& reading, std::size_t k,
                                     TDirHandle* directory) {
    TObjectHandle* entry = ListedEntry(*handles_, reading, k, directory);
    const bool recordIsFile = (reading.files[k].attributes & platform::kAttributeDirectory) == 0;
    if (entry == nullptr || entry->IsDirectory() != recordIsFile)
        return entry;
    if (!handles_->ForgetIfGone(*entry))
        return entry;
    ReleaseOrphanedReadSlot();
    return ListedEntry(*handles_, reading, k, directory);
}

// The status steps both listings share, up to the verifier of the success body. False when
// the reply could not be written; `reading` stays null when the failure body was written.
bool TDaemon::BeginListing(std::uint32_t id, std::uint64_t cookie, std::uint64_t& verifier,
                           TDirHandle*& directory, TReadDirReading*& reading) {
    directory = nullptr;
    reading = nullptr;
    // The socket's receive buffer size is not used; failing to read it means a broken socket.
    int receiveBuffer = 0;
    std::uint32_t status = nfs::NFS3_OK;
    if (currentSocket_ != nullptr && !currentSocket_->GetReceiveBufferSize(receiveBuffer))
        status = nfs::NFS3ERR_SERVERFAULT;
    if (status == nfs::NFS3_OK)
        status = ResolveDirectory(id, directory);
    nfs::Fattr3 attributes{};
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(directory, attributes))
        status = StaleIfGone(*directory, nfs::LastFileStatus());
    if (status == nfs::NFS3_OK)
        status = OpenListing(*readDirs_, *directory, cookie, verifier, reading);
    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK) {
        reading = nullptr;
        return writer_.WriteBool(false);
    }
    if (!nfs::WritePostOpAttributes(writer_, attributes) || !writer_.WriteUInt64(verifier)) {
        reading = nullptr;
        return false;
    }
    return true;
}

bool TDaemon::NfsReadDir() {
    std::uint32_t id = 0;
    std::uint64_t cookie = 0;
    std::uint64_t verifier = 0;
    std::uint32_t count = 0;
    if (!ReadHandle(id) || !reader_.ReadUInt64(cookie) || !reader_.ReadUInt64(verifier) ||
        !reader_.ReadUInt32(count))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TDirHandle* directory = nullptr;
    TReadDirReading* reading = nullptr;
    if (!BeginListing(id, cookie, verifier, directory, reading))
        return false;
    if (reading == nullptr)
        return true;

    // The reply so far counts against the client's count: headers, and the TCP record mark.
    const std::uint32_t limit = CapToReply(count, replyLimit_);
    const std::size_t total = reading->files.size();
    std::size_t k = cookie < total ? static_cast<std::size_t>(cookie) : total;
    if (reading->wireNames.size() != total)
        reading->wireNames.assign(total, std::string());
    for (; k < total; ++k) {
        std::string& name = reading->wireNames[k];
        if (name.empty())
            name = NameToWire(reading->files[k].name);
        const std::uint64_t size = kEntrySize + Padded(name.size());
        if (writer_.Length() + size + kListEndSize > limit)
            break;
        // The fileid is the one LOOKUP and GETATTR report, so the name enters the table here too.
        const TObjectHandle* entry = ListedObject(*reading, k, directory);
        const std::uint64_t fileId = entry != nullptr ? entry->FileId() : kNoFileId;
        const auto length = static_cast<std::uint32_t>(name.size());
        if (!writer_.WriteBool(true) || !writer_.WriteUInt64(fileId) ||
            !writer_.WriteUInt32(length) || !writer_.WriteBytes(name.data(), length) ||
            !writer_.WriteUInt64(k + 1))
            return false;
    }
    return writer_.WriteBool(false) && writer_.WriteBool(k == total);
}

bool TDaemon::NfsReadDirPlus() {
    std::uint32_t id = 0;
    std::uint64_t cookie = 0;
    std::uint64_t verifier = 0;
    std::uint32_t dirCount = 0;
    std::uint32_t maxCount = 0;
    const bool decoded = ReadHandle(id) && reader_.ReadUInt64(cookie) &&
                         reader_.ReadUInt64(verifier) && reader_.ReadUInt32(dirCount) &&
                         reader_.ReadUInt32(maxCount);

    // Written before any check; a handle that names no live entry shows an empty name and path.
    const TObjectHandle* named = handles_->Find(id);
    std::string line = "Readdir name=";
    if (named != nullptr)
        line += platform::Utf16ToUtf8(named->GetName());
    line += ", path=";
    if (named != nullptr)
        line += platform::Utf16ToUtf8(named->GetPath());
    line += ": hwd=";
    line += std::to_string(id);
    DebugLog(line, "");

    if (!decoded)
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TDirHandle* directory = nullptr;
    TReadDirReading* reading = nullptr;
    if (!BeginListing(id, cookie, verifier, directory, reading))
        return false;
    if (reading == nullptr)
        return true;

    const std::uint32_t limit = CapToReply(maxCount, replyLimit_);
    const std::size_t total = reading->files.size();
    std::size_t k = cookie < total ? static_cast<std::size_t>(cookie) : total;
    // dircount counts whole entries here, attributes and handles included, and must stay
    // strictly above what they add up to.
    std::uint64_t sum = 0;
    nfs::Fattr3 image{};
    if (reading->wireNames.size() != total)
        reading->wireNames.assign(total, std::string());
    for (; k < total; ++k) {
        const platform::FindRecord& record = reading->files[k];
        std::string& name = reading->wireNames[k];
        if (name.empty())
            name = NameToWire(record.name);
        const std::uint64_t size = kEntryPlusSize + Padded(name.size());
        if (sum + size + kListEndSize >= dirCount)
            break;
        if (writer_.Length() + size + kListEndSize > limit)
            break;
        TObjectHandle* entry = ListedObject(*reading, k, directory);
        const bool recordIsFile = (record.attributes & platform::kAttributeDirectory) == 0;
        bool haveAttributes = false;
        if (entry != nullptr) {
            // A file's search record holds what opening it would report; a directory's times
            // are its newest child's, which only a search of it tells.
            if (!entry->IsDirectory() && recordIsFile) {
                handles_->FillAttributes(*entry, record, image);
                haveAttributes = true;
            } else {
                haveAttributes = handles_->GetAttributes(entry, image);
            }
        }
        const auto length = static_cast<std::uint32_t>(name.size());
        const std::uint64_t fileId = entry != nullptr ? entry->FileId() : kNoFileId;
        if (!writer_.WriteBool(true) || !writer_.WriteUInt64(fileId) ||
            !writer_.WriteUInt32(length) || !writer_.WriteBytes(name.data(), length) ||
            !writer_.WriteUInt64(k + 1))
            return false;
        if (haveAttributes ? !nfs::WritePostOpAttributes(writer_, image)
                           : !writer_.WriteBool(false))
            return false;
        if (entry != nullptr ? !(writer_.WriteBool(true) && WriteHandle(*entry))
                             : !writer_.WriteBool(false))
            return false;
        sum += size;
    }
    return writer_.WriteBool(false) && writer_.WriteBool(k == total);
}

} // namespace server
