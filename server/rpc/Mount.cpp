// MOUNT version 3: hands out the handle of a directory of the export and records who mounted;
// lists the two exports and the mounts for clients that ask before they mount.
#include <string>
#include <string_view>

#include "server/rpc/Daemon.h"
#include "server/rpc/DebugLog.h"
#include "server/rpc/RpcConstants.h"

namespace server {
namespace {

constexpr std::uint32_t kMaxDirPathBytes = 1024;  // longer is garbage
constexpr std::uint32_t kMaxMountPathBytes = 260; // longer is MNT3ERR_NAMETOOLONG

// What EXPORT lists: the export root and the list folder. Any folder below either may be
// mounted; clients ask for the list only to show it or to find nested exports.
constexpr std::string_view kExports[] = {"/", "/lst"};

bool WriteString(rpc::XdrWriter& writer, std::string_view text) {
    return writer.WriteUInt32(static_cast<std::uint32_t>(text.size())) &&
           writer.WriteBytes(text.data(), static_cast<std::uint32_t>(text.size()));
}

std::string DottedAddress(std::uint32_t networkOrder) {
    const std::uint32_t host = platform::NetworkToHost32(networkOrder);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
           std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF);
}

} // namespace

bool TDaemon::ReadDirPath(std::string& path) {
    std::uint32_t length = 0;
    const std::uint8_t* bytes = nullptr;
    if (!reader_.ReadUInt32(length) || length >= kMaxDirPathBytes ||
        !reader_.ReadInPlace(bytes, length))
        return false;
    // An empty path names the export root: libnfs sends one for a file directly in the root
    // (nfs://host/file).
    if (length == 0) {
        path = "/";
        return true;
    }
    path.assign(reinterpret_cast<const char*>(bytes), length);
    // The path ends at a zero byte, as a C string would.
    const std::size_t zero = path.find('\0');
    if (zero != std::string::npos)
        path.resize(zero);
    return true;
}

bool TDaemon::MountNull() {
    return WriteAcceptStatus(rpc::kSuccess);
}

bool TDaemon::MountMnt() {
    std::string path;
    if (!ReadDirPath(path))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;

    const std::u16string widePath = NameToWide(path);
    TObjectHandle* entry = nullptr;
    std::uint32_t status = rpc::kMnt3Ok;
    if (!IsHostAllowed(peer_.address))
        status = rpc::kMnt3ErrAcces;
    else if (path.size() > kMaxMountPathBytes)
        status = rpc::kMnt3ErrNameTooLong;
    else if (handles_->EscapesExport(nullptr, widePath))
        status = rpc::kMnt3ErrAcces;
    else if ((entry = handles_->GetHandle(nullptr, widePath)) == nullptr)
        status = rpc::kMnt3ErrNoEnt;
    else if (!entry->IsDirectory())
        status = rpc::kMnt3ErrNotDir;
    if (!writer_.WriteUInt32(status))
        return false;
    if (status != rpc::kMnt3Ok)
        return true;

    if (!WriteHandle(*entry) || !writer_.WriteUInt32(1) || !writer_.WriteUInt32(rpc::kAuthNone))
        return false;
    std::int64_t index = mounts_.Find(widePath, peer_.address);
    if (index < 0)
        index = static_cast<std::int64_t>(mounts_.Add({widePath, 0, peer_.address}));
    DebugLog("Path=" + path + ": hwd=" + std::to_string(entry->Id()),
             "Nount Index=" + std::to_string(index));
    ++mounts_.Get(static_cast<std::size_t>(index)).useCount;
    return true;
}

bool TDaemon::MountUmnt() {
    std::string path;
    if (!ReadDirPath(path))
        return WriteAcceptStatus(rpc::kGarbageArgs);
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;
    if (!HasMountedClient(peer_.address))
        return writer_.WriteUInt32(rpc::kMnt3ErrAcces);
    if (!writer_.WriteUInt32(rpc::kMnt3Ok))
        return false;
    const std::int64_t index = mounts_.Find(NameToWide(path), peer_.address);
    if (index >= 0) {
        TMountEntry& entry = mounts_.Get(static_cast<std::size_t>(index));
        if (entry.useCount < 2)
            mounts_.Delete(static_cast<std::size_t>(index));
        else
            --entry.useCount;
    }
    return true;
}

bool TDaemon::MountUmntAll() {
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;
    if (!HasMountedClient(peer_.address))
        return writer_.WriteUInt32(rpc::kMnt3ErrAcces);
    if (!writer_.WriteUInt32(rpc::kMnt3Ok))
        return false;
    for (std::size_t i = mounts_.Count(); i-- > 0;) {
        if (mounts_.Get(i).client == peer_.address)
            mounts_.Delete(i);
    }
    return true;
}

bool TDaemon::MountDump() {
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;
    for (std::size_t i = 0; i < mounts_.Count(); ++i) {
        const TMountEntry& entry = mounts_.Get(i);
        if (!writer_.WriteBool(true) || !WriteString(writer_, DottedAddress(entry.client)) ||
            !WriteString(writer_, NameToWire(entry.path)))
            return false;
    }
    return writer_.WriteBool(false);
}

bool TDaemon::MountExport() {
    if (!WriteAcceptStatus(rpc::kSuccess))
        return false;
    for (std::string_view path : kExports) {
        if (!writer_.WriteBool(true) || !WriteString(writer_, path))
            return false;
        for (const std::string& group : exportGroups_) {
            if (!writer_.WriteBool(true) || !WriteString(writer_, group))
                return false;
        }
        if (!writer_.WriteBool(false))
            return false;
    }
    return writer_.WriteBool(false);
}

} // namespace server
