// What every NFS procedure shares: the handle gate, name decoding and conversion.
#include "common/platform/CodePage.h"
#include "server/nfs/NfsConstants.h"
#include "server/rpc/Daemon.h"

namespace server {

bool TDaemon::ReadHandle(std::uint32_t& id) {
    std::uint32_t length = 0;
    std::uint8_t bytes[4];
    if (!reader_.ReadUInt32(length) || length != 4 || !reader_.ReadBytes(bytes, 4))
        return false;
    id = rpc::LoadBigEndian32(bytes);
    return true;
}

std::uint32_t TDaemon::ResolveHandle(std::uint32_t id, TObjectHandle*& entry) {
    entry = nullptr;
    if (id == 0)
        return nfs::NFS3ERR_BADHANDLE;
    entry = handles_->Find(id);
    return entry == nullptr ? nfs::NFS3ERR_STALE : nfs::NFS3_OK;
}

std::uint32_t TDaemon::ResolveDirectory(std::uint32_t id, TDirHandle*& directory) {
    directory = nullptr;
    TObjectHandle* entry = nullptr;
    const std::uint32_t status = ResolveHandle(id, entry);
    if (status != nfs::NFS3_OK)
        return status;
    if (!entry->IsDirectory())
        return nfs::NFS3ERR_NOTDIR;
    directory = static_cast<TDirHandle*>(entry);
    return nfs::NFS3_OK;
}

bool TDaemon::ReadName(std::string& name) {
    std::uint32_t length = 0;
    const std::uint8_t* bytes = nullptr;
    if (!reader_.ReadUInt32(length) || length == 0 || length >= nfs::kMaxNameBytes ||
        !reader_.ReadInPlace(bytes, length))
        return false;
    // Whole, zero bytes included: a name cut at its zero byte would name another object.
    name.assign(reinterpret_cast<const char*>(bytes), length);
    return true;
}

std::uint32_t TDaemon::NameStatus(const TDirHandle& directory, std::u16string_view name) const {
    if (!TObjectHandles::IsOneName(name) || handles_->EscapesExport(&directory, name))
        return nfs::NFS3ERR_ACCES;
    return nfs::NFS3_OK;
}

std::uint32_t TDaemon::ChangedNameStatus(const TDirHandle& directory,
                                         std::u16string_view name) const {
    const std::uint32_t status = NameStatus(directory, name);
    if (status != nfs::NFS3_OK)
        return status;
    // "." and ".." name the folder itself and its parent, never an entry of it; and an exported
    // folder stays where it is, whatever name reaches it.
    if (name == u"." || name == u"..")
        return nfs::NFS3ERR_ACCES;
    std::u16string path = directory.GetPath();
    path += name;
    return handles_->IsExportedFolder(path) ? nfs::NFS3ERR_ACCES : nfs::NFS3_OK;
}

std::u16string TDaemon::NameToWide(std::string_view bytes) const {
    std::u16string wide;
    if (!platform::MultiByteToUtf16(codePage_, bytes, wide))
        return {};
    return wide;
}

std::string TDaemon::NameToWire(std::u16string_view name) const {
    std::string bytes;
    if (!platform::Utf16ToMultiByte(codePage_, name, bytes))
        return {};
    if (bytes.size() >= nfs::kMaxNameBytes)
        bytes.resize(nfs::kMaxNameBytes - 1);
    return bytes;
}

bool TDaemon::WriteHandle(const TObjectHandle& entry) {
    std::uint8_t bytes[4];
    rpc::StoreBigEndian32(bytes, entry.Id());
    return writer_.WriteUInt32(4) && writer_.WriteBytes(bytes, 4);
}

void TDaemon::ReleaseReadSlot(std::uint32_t entryId) {
    if (entryId != 0 && entryId != readSlotEntryId_)
        return;
    readSlotFile_.Close();
    readSlotEntryId_ = 0;
}

void TDaemon::ReleaseOrphanedReadSlot() {
    if (readSlotEntryId_ != 0 && handles_->Find(readSlotEntryId_) == nullptr)
        ReleaseReadSlot();
}

void TDaemon::ReleaseFilesAt(const TDirHandle& directory, std::u16string_view name) {
    std::u16string path = directory.GetPath();
    path += name;
    if (handles_->CloseFilesAtOrBelow(path, directory.IgnoresCase, readSlotEntryId_))
        ReleaseReadSlot();
}

std::uint32_t TDaemon::StaleIfGone(TObjectHandle& entry, std::uint32_t otherwise) {
    if (!handles_->ForgetIfGone(entry))
        return otherwise;
    ReleaseOrphanedReadSlot();
    return nfs::NFS3ERR_STALE;
}

} // namespace server
