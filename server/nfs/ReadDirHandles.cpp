// Directory readings: one snapshot per directory entry, replaced by every fresh listing (or kept,
// when the change watch vouches that a fresh search would find the same).
#include "server/nfs/ReadDirHandles.h"

namespace server {

TReadDirHandles::TReadDirHandles(std::uint32_t firstIdentity) : nextIdentity_(firstIdentity) {}

TReadDirReading* TReadDirHandles::StartReading(std::uint32_t directoryId,
                                               std::u16string_view directoryPath) {
    // The path must still lead to the folder the snapshot was taken of.
    ForgetChangedSnapshots();
    platform::FileRecord folderRecord;
    platform::FileIdentity folder;
    const bool known = platform::GetPathInformation(directoryPath, true, folderRecord, &folder);
    const auto existing = byDirectory_.find(directoryId);
    if (known && existing != byDirectory_.end() && existing->second->watchKey != 0 &&
        existing->second->folder == folder)
        return existing->second.get();

    // The watch starts before the search, so that a change during the search is not missed.
    const std::uint32_t key = known ? watch_.Watch(directoryPath) : 0;
    platform::FindSearch search;
    platform::FindRecord record;
    std::u16string pattern(directoryPath);
    pattern += u"*.*";
    if (!search.First(pattern, record)) {
        const std::uint32_t error = platform::LastFileError();
        watch_.Unwatch(key);
        platform::SetLastFileError(error);
        return nullptr;
    }

    auto& slot = byDirectory_[directoryId];
    if (!slot) {
        slot = std::make_unique<TReadDirReading>();
        slot->directoryId = directoryId;
        do {
            slot->identity = nextIdentity_++;
        } while (slot->identity == 0 || byIdentity_.count(slot->identity) != 0);
        byIdentity_.emplace(slot->identity, slot.get());
    }
    if (slot->watchKey != 0) {
        byWatchKey_.erase(slot->watchKey);
        watch_.Unwatch(slot->watchKey);
    }
    slot->files.clear();
    slot->wireNames.clear();
    slot->handleIds.clear();
    do {
        slot->files.push_back(record);
    } while (search.Next(record));
    slot->watchKey = key;
    slot->folder = folder;
    if (key != 0)
        byWatchKey_.emplace(key, slot.get());
    return slot.get();
}

void TReadDirHandles::ForgetChangedSnapshots() {
    changedKeys_.clear();
    if (!watch_.TakeChanges(changedKeys_)) {
        for (const auto& [key, reading] : byWatchKey_) {
            reading->watchKey = 0;
            watch_.Unwatch(key);
        }
        byWatchKey_.clear();
        return;
    }
    for (const std::uint32_t key : changedKeys_) {
        const auto found = byWatchKey_.find(key);
        if (found == byWatchKey_.end())
            continue;
        found->second->watchKey = 0;
        byWatchKey_.erase(found);
        watch_.Unwatch(key);
    }
}

TReadDirReading* TReadDirHandles::FindByIdentity(std::uint32_t identity) {
    const auto it = byIdentity_.find(identity);
    return it == byIdentity_.end() ? nullptr : it->second;
}

void TReadDirHandles::Clear() {
    for (const auto& [key, reading] : byWatchKey_)
        watch_.Unwatch(key);
    byWatchKey_.clear();
    byIdentity_.clear();
    byDirectory_.clear();
}

} // namespace server
