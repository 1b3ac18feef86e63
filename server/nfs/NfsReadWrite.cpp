// NFS procedures READ, WRITE and COMMIT: file contents between the wire and the export. READ
// keeps the last file read open in the read slot; WRITE keeps each written file open in its
// entry until a stable write, COMMIT or the idle sweep closes it.
#include "server/nfs/NfsConstants.h"
#include "server/rpc/Daemon.h"
#include "server/rpc/RpcConstants.h"

namespace server {
namespace {

bool IsStable(std::uint32_t stableHow) {
    return (stableHow & 0xFF) != nfs::UNSTABLE;
}

// The file size that an attribute image reports (the open file's own, read with it).
std::uint64_t SizeOf(const nfs::Fattr3& attributes) {
    return rpc::LoadBigEndian64(attributes.data() + nfs::fattr::kSize);
}

// Bytes after the reply's first `used` bytes that a READ may still fill: the reply must stay
// within `limit` (one record or one datagram), and XDR pads the data to a multiple of four.
std::uint32_t RoomForData(std::uint32_t used, std::uint32_t limit) {
    if (used >= limit)
        return 0;
    return (limit - used) & ~std::uint32_t{3};
}

// Writes the success body of a READ, reading the data straight into the reply. When the read
// fails, `status` gets its error and the reply is rewound to where the status goes. False when
// the reply could not be written.
bool WriteReadData(rpc::XdrWriter& writer, rpc::XdrBuffer& reply, std::uint32_t replyLimit,
                   platform::File& file, std::uint64_t offset, std::uint32_t count,
                   std::uint64_t size, const nfs::Fattr3& attributes, std::uint32_t& status) {
    const std::uint32_t statusAt = writer.Length();
    if (!writer.WriteUInt32(nfs::NFS3_OK) || !nfs::WritePostOpAttributes(writer, attributes))
        return false;
    // count, eof and the data length are filled in once the read has told them.
    const std::uint32_t countAt = writer.Length();
    if (!writer.WriteUInt32(0) || !writer.WriteBool(false) || !writer.WriteUInt32(0))
        return false;
    // A count the reply cannot hold is answered short; the client asks again for the rest. At or
    // past the end nothing is read: count 0 and eof.
    std::uint64_t wanted = offset < size ? size - offset : 0;
    if (wanted > count)
        wanted = count;
    const std::uint32_t room = RoomForData(writer.Length(), replyLimit);
    if (wanted > room)
        wanted = room;
    const std::uint32_t dataAt = writer.Length();
    std::uint8_t* data = writer.Reserve(static_cast<std::uint32_t>(wanted));
    if (data == nullptr)
        return false;
    std::uint32_t got = 0;
    if (wanted != 0 && !file.ReadAt(offset, data, static_cast<std::uint32_t>(wanted), got)) {
        status = nfs::LastFileStatus();
        writer.Truncate(statusAt);
        return true;
    }
    // Shrinking to what came: re-pads the tail and cannot fail.
    writer.Truncate(dataAt);
    writer.Reserve(got);
    const bool eof = offset >= size || offset + got == size;
    rpc::StoreBigEndian32(reply.data + countAt, got);
    rpc::StoreBigEndian32(reply.data + countAt + 4, eof ? 1 : 0);
    rpc::StoreBigEndian32(reply.data + countAt + 8, got);
    return true;
}

} // namespace

bool TDaemon::NfsRead() {
    std::uint32_t id = 0;
    std::uint64_t offset = 0;
    std::uint32_t count = 0;
    if (!ReadHandle(id) || !reader_.ReadUInt64(offset) || !reader_.ReadUInt32(count))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TObjectHandle* entry = nullptr;
    std::uint32_t status = ResolveHandle(id, entry);
    // A file that WRITE keeps open is read through that very file: a client reading back what
    // it wrote unstably gets its data, not a sharing violation with the server's own handle.
    if (status == nfs::NFS3_OK && !entry->IsDirectory()) {
        platform::File& writeFile = static_cast<TFileHandle*>(entry)->FileHandle;
        if (writeFile.IsOpen())
            return ReadThroughWriteFile(*entry, writeFile, offset, count);
    }
    platform::File file;
    nfs::Fattr3 attributes{};
    std::uint64_t size = 0;
    if (status == nfs::NFS3_OK) {
        if (readSlotEntryId_ == entry->Id()) {
            file = std::move(readSlotFile_);
            readSlotEntryId_ = 0;
        } else {
            ReleaseReadSlot();
            // While the file sits in the slot nobody else may write it; it may be deleted or
            // moved, by the PC's user too: the server merely keeps it open.
            platform::OpenOptions options;
            options.access = platform::FileAccess::Read;
            options.share = platform::FileShare::Read;
            options.shareDelete = true;
            file = platform::File::Open(entry->GetPath(), options);
            if (!file.IsOpen())
                status = StaleIfGone(*entry, nfs::NFS3ERR_SERVERFAULT);
        }
    }
    if (status == nfs::NFS3_OK && !handles_->ReadAttributes(*entry, file, attributes)) {
        // A file that cannot report itself is given up, so the next READ opens it afresh.
        status = nfs::LastFileStatus();
        file.Close();
        status = StaleIfGone(*entry, status);
    }
    if (status == nfs::NFS3_OK)
        size = SizeOf(attributes);

    const bool replied =
        status != nfs::NFS3_OK ||
        WriteReadData(writer_, reply_, replyLimit_, file, offset, count, size, attributes, status);
    // The slot keeps the file whatever came of the size check and the read, except a list file:
    // held open, it would stand delete-pending when the next hand-off replaces it, and the new
    // list could not be made.
    if (file.IsOpen() && handles_->IsBelowListFolder(*entry))
        file.Close();
    if (file.IsOpen()) {
        readSlotFile_ = std::move(file);
        readSlotEntryId_ = entry->Id();
    }
    if (!replied)
        return false;
    if (status == nfs::NFS3_OK)
        return true;
    return writer_.WriteUInt32(status) && writer_.WriteBool(false);
}

bool TDaemon::ReadThroughWriteFile(const TObjectHandle& entry, platform::File& file,
                                   std::uint64_t offset, std::uint32_t count) {
    nfs::Fattr3 attributes{};
    std::uint64_t size = 0;
    std::uint32_t status = nfs::NFS3_OK;
    if (!handles_->ReadAttributes(entry, file, attributes))
        status = nfs::LastFileStatus();
    else
        size = SizeOf(attributes);
    if (status == nfs::NFS3_OK &&
        !WriteReadData(writer_, reply_, replyLimit_, file, offset, count, size, attributes, status))
        return false;
    if (status == nfs::NFS3_OK)
        return true;
    return writer_.WriteUInt32(status) && writer_.WriteBool(false);
}

bool TDaemon::NfsWrite() {
    std::uint32_t id = 0;
    std::uint64_t offset = 0;
    std::uint32_t count = 0;
    std::uint32_t stableHow = 0;
    std::uint32_t length = 0;
    const std::uint8_t* data = nullptr;
    // The data length decides how much is written; the count field is not used.
    if (!ReadHandle(id) || !reader_.ReadUInt64(offset) || !reader_.ReadUInt32(count) ||
        !reader_.ReadUInt32(stableHow) || !reader_.ReadUInt32(length) ||
        !reader_.ReadInPlace(data, length))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;
    // A stream of WRITEs keeps one header length: the next record is placed where its data will
    // begin on a page boundary.
    if (currentProtocol_ == rpc::kProtocolTcp) {
        const std::uintptr_t unshifted = reinterpret_cast<std::uintptr_t>(data) - recordStart_;
        writeDataShift_ =
            static_cast<std::uint32_t>((kPageSize - unshifted % kPageSize) % kPageSize);
    }

    TObjectHandle* entry = nullptr;
    std::uint32_t status = ResolveHandle(id, entry);
    nfs::Fattr3 before{};
    nfs::Fattr3 after{};
    std::uint32_t written = 0;
    // A directory has no write file of its own; opening it for writing fails anyway.
    TFileHandle* fileEntry =
        entry != nullptr && !entry->IsDirectory() ? static_cast<TFileHandle*>(entry) : nullptr;
    platform::File directoryFile;
    platform::File& file = fileEntry != nullptr ? fileEntry->FileHandle : directoryFile;
    if (status == nfs::NFS3_OK && !file.IsOpen()) {
        // The server's own read slot must not stand in the way of the server's own write.
        ReleaseReadSlot(entry->Id());
        platform::OpenOptions options;
        options.access = platform::FileAccess::ReadWrite;
        options.share = platform::FileShare::ReadWrite;
        options.shareDelete = true;
        file = platform::File::Open(entry->GetPath(), options);
        if (!file.IsOpen()) {
            status = StaleIfGone(*entry, nfs::LastFileStatus());
            // A dropped entry takes its write file with it: nothing below may touch either.
            if (status == nfs::NFS3ERR_STALE)
                entry = fileEntry = nullptr;
        }
    }
    // The before record holds the old size; a write beyond it leaves the gap reading as zeros
    // on both platforms, so nothing else needs it.
    if (status == nfs::NFS3_OK && !handles_->ReadAttributes(*entry, file, before))
        status = nfs::LastFileStatus();
    if (status == nfs::NFS3_OK && !file.WriteAt(offset, data, length, written))
        status = nfs::LastFileStatus();
    // Unstable data starts for the disk at once, so that the COMMIT after a long stream waits
    // only for its tail instead of for the whole file.
    if (status == nfs::NFS3_OK && !IsStable(stableHow))
        file.StartFlush(offset, written);
    if (status == nfs::NFS3_OK && !handles_->ReadAttributes(*entry, file, after))
        status = nfs::LastFileStatus();
    if (status == nfs::NFS3_OK && fileEntry != nullptr)
        fileEntry->LastUse = clock_->TickCountMs();
    if (IsStable(stableHow) && entry != nullptr) {
        if (status == nfs::NFS3_OK && !file.Flush())
            status = nfs::LastFileStatus();
        if (fileEntry != nullptr)
            handles_->CloseFile(*fileEntry);
    }
    // The verifier names the open write file, so a client sees it change when the file was
    // closed (and its unstable data with it) and opened again.
    const std::uint64_t verifier = fileEntry != nullptr ? fileEntry->FileHandle.Id() : 0;

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false) && writer_.WriteBool(false);
    return nfs::WriteWccData(writer_, before, after) && writer_.WriteUInt32(written) &&
           writer_.WriteUInt32(stableHow) && writer_.WriteUInt64(verifier);
}

bool TDaemon::NfsCommit() {
    std::uint32_t id = 0;
    std::uint64_t offset = 0;
    std::uint32_t count = 0;
    if (!ReadHandle(id) || !reader_.ReadUInt64(offset) || !reader_.ReadUInt32(count))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    TObjectHandle* entry = nullptr;
    std::uint32_t status = ResolveHandle(id, entry);
    nfs::Fattr3 before{};
    nfs::Fattr3 after{};
    std::uint64_t verifier = 0;
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, before))
        status = StaleIfGone(*entry, nfs::LastFileStatus());
    if (status == nfs::NFS3_OK && !entry->IsDirectory()) {
        auto& fileEntry = *static_cast<TFileHandle*>(entry);
        if (fileEntry.FileHandle.IsOpen()) {
            verifier = fileEntry.FileHandle.Id();
            if (!fileEntry.FileHandle.Flush())
                status = nfs::LastFileStatus();
            handles_->CloseFile(fileEntry);
        }
    }
    if (status == nfs::NFS3_OK && !handles_->GetAttributes(entry, after))
        status = nfs::LastFileStatus();

    if (!writer_.WriteUInt32(status))
        return false;
    if (status != nfs::NFS3_OK)
        return writer_.WriteBool(false) && writer_.WriteBool(false);
    return nfs::WriteWccData(writer_, before, after) && writer_.WriteUInt64(verifier);
}

} // namespace server
