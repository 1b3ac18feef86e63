// Directory readings: one snapshot per directory entry, replaced by every fresh listing.
#include "server/nfs/ReadDirHandles.h"

namespace server {

TReadDirHandles::TReadDirHandles(std::uint32_t firstIdentity) : nextIdentity_(firstIdentity) {}

TReadDirReading* TReadDirHandles::StartReading(std::uint32_t directoryId,
                                               std::u16string_view directoryPath) {
    platform::FindSearch search;
    platform::FindRecord record;
    std::u16string pattern(directoryPath);
    pattern += u"*.*";
    if (!search.First(pattern, record))
        return nullptr;

    auto& slot = byDirectory_[directoryId];
    if (!slot) {
        slot = std::make_unique<TReadDirReading>();
        slot->directoryId = directoryId;
        do {
            slot->identity = nextIdentity_++;
        } while (slot->identity == 0 || byIdentity_.count(slot->identity) != 0);
        byIdentity_.emplace(slot->identity, slot.get());
    }
    slot->files.clear();
    do {
        slot->files.push_back(record);
    } while (search.Next(record));
    return slot.get();
}

TReadDirReading* TReadDirHandles::FindByIdentity(std::uint32_t identity) {
    const auto it = byIdentity_.find(identity);
    return it == byIdentity_.end() ? nullptr : it->second;
}

void TReadDirHandles::Clear() {
    byIdentity_.clear();
    byDirectory_.clear();
}

} // namespace server
