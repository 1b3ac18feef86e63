// The 84-byte fattr3 image of an entry: fixed owner and mode bits, as ctime the later of the
// creation time and the object's own last write, and for a directory the newest last-write time
// among its entries as atime and mtime, kept per directory while the platform's change watch sees
// nothing move in it.
#include <algorithm>

#include "common/platform/FileSystem.h"
#include "server/nfs/NfsConstants.h"
#include "server/nfs/ObjectHandles.h"

namespace server {
namespace {

constexpr std::uint32_t kModeReadOnly = 0444;
constexpr std::uint32_t kModeReadWrite = 0666;

// Newest last-write time of the directory's entries ("." and ".." included); false when the
// directory cannot be searched.
bool NewestEntryTime(const std::u16string& directoryPath, std::uint64_t& newest) {
    platform::FindSearch search;
    platform::FindRecord record;
    if (!search.First(directoryPath + u"*.*", record))
        return false;
    std::int64_t best = 0;
    do {
        const auto time = static_cast<std::int64_t>(record.lastWriteTime);
        if (time > best)
            best = time;
    } while (search.Next(record));
    newest = static_cast<std::uint64_t>(best);
    return true;
}

// ctime has to move whenever the object changes: the Linux client keeps a folder's cached
// listing for as long as its ctime stays, so with the creation time alone names deleted on the
// PC were listed on and on. Taken before a folder's times are replaced by its entries' newest.
void KeepOwnChangeTime(platform::FileRecord& record) {
    record.creationTime = std::max(record.creationTime, record.lastWriteTime);
}

} // namespace

void TObjectHandles::FillAttributes(const TObjectHandle& entry, const platform::FileRecord& record,
                                    nfs::Fattr3& out) const {
    out.fill(0);
    const bool directory = (record.attributes & platform::kAttributeDirectory) != 0;
    const bool readOnly = (record.attributes & platform::kAttributeReadOnly) != 0;
    std::uint8_t* image = out.data();
    rpc::StoreBigEndian32(image + nfs::fattr::kType, directory ? nfs::NF3DIR : nfs::NF3REG);
    rpc::StoreBigEndian32(image + nfs::fattr::kMode, readOnly ? kModeReadOnly : kModeReadWrite);
    rpc::StoreBigEndian32(image + nfs::fattr::kNlink, 1);
    rpc::StoreBigEndian64(image + nfs::fattr::kSize, record.size);
    rpc::StoreBigEndian64(image + nfs::fattr::kUsed, record.size);
    rpc::StoreBigEndian64(image + nfs::fattr::kFileId, entry.FileId());
    if (directory)
        nfs::StoreNfsTime(image + nfs::fattr::kAtime,
                          nfs::FileTimeToNfsTime(record.lastAccessTime));
    nfs::StoreNfsTime(image + nfs::fattr::kMtime, nfs::FileTimeToNfsTime(record.lastWriteTime));
    nfs::StoreNfsTime(image + nfs::fattr::kCtime,
                      nfs::FileTimeToNfsTime(std::max(record.creationTime, record.lastWriteTime)));
}

bool TObjectHandles::ReadAttributes(const TObjectHandle& entry, const platform::File& file,
                                    nfs::Fattr3& out) const {
    platform::FileRecord record;
    if (!file.GetInformation(record))
        return false;
    KeepOwnChangeTime(record);
    if ((record.attributes & platform::kAttributeDirectory) != 0) {
        std::uint64_t newest = 0;
        if (NewestEntryTime(entry.GetPath(), newest)) {
            record.lastAccessTime = newest;
            record.lastWriteTime = newest;
        }
    }
    FillAttributes(entry, record, out);
    return true;
}

bool TObjectHandles::GetAttributes(const TObjectHandle* entry, nfs::Fattr3& out) const {
    if (entry == nullptr)
        return false;
    const std::u16string path = entry->GetPath();
    platform::FileRecord record;
    platform::FileIdentity identity;
    if (!platform::GetPathInformation(path, entry->IsDirectory(), record, &identity))
        return false;
    KeepOwnChangeTime(record);
    if ((record.attributes & platform::kAttributeDirectory) != 0) {
        std::uint64_t newest = 0;
        if (CachedNewestEntryTime(path, identity, newest)) {
            record.lastAccessTime = newest;
            record.lastWriteTime = newest;
        }
    }
    FillAttributes(*entry, record, out);
    return true;
}

bool TObjectHandles::CachedNewestEntryTime(const std::u16string& directoryPath,
                                           const platform::FileIdentity& identity,
                                           std::uint64_t& newest) const {
    ForgetChangedDirectories();
    const auto known = directoryTimes_.find(identity);
    if (known != directoryTimes_.end()) {
        newest = known->second.newest;
        return true;
    }
    // The watch starts before the search, so a change during the search is not missed.
    const std::uint32_t key = watch_.Watch(directoryPath);
    if (!NewestEntryTime(directoryPath, newest)) {
        watch_.Unwatch(key);
        return false;
    }
    if (key != 0) {
        directoryTimes_.emplace(identity, DirectoryTime{key, newest});
        timeOfKey_.emplace(key, identity);
    }
    return true;
}

void TObjectHandles::ForgetChangedDirectories() const {
    changedKeys_.clear();
    if (!watch_.TakeChanges(changedKeys_)) {
        for (const auto& [key, identity] : timeOfKey_)
            watch_.Unwatch(key);
        timeOfKey_.clear();
        directoryTimes_.clear();
        return;
    }
    for (const std::uint32_t key : changedKeys_) {
        const auto found = timeOfKey_.find(key);
        if (found == timeOfKey_.end())
            continue;
        directoryTimes_.erase(found->second);
        timeOfKey_.erase(found);
        watch_.Unwatch(key);
    }
}

} // namespace server
