// The mount list and the allowed-host list.
#include "server/rpc/Mounts.h"

#include <algorithm>

#include "common/platform/CodePage.h"
#include "common/platform/Socket.h"

namespace server {

std::size_t TMounts::Add(TMountEntry entry) {
    ++entriesByClient_[entry.client];
    entries_.push_back(std::move(entry));
    return entries_.size() - 1;
}

void TMounts::Delete(std::size_t index) {
    const auto counted = entriesByClient_.find(entries_[index].client);
    if (counted != entriesByClient_.end() && --counted->second == 0)
        entriesByClient_.erase(counted);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TMounts::Clear() {
    entries_.clear();
    entriesByClient_.clear();
}

std::int64_t TMounts::Find(std::u16string_view path, std::uint32_t client) const {
    const std::u16string upperPath = platform::UpperCase(path);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].client == client && platform::UpperCase(entries_[i].path) == upperPath)
            return static_cast<std::int64_t>(i);
    }
    return -1;
}

bool TAllowedAddrs::Contains(std::uint32_t address) const {
    return std::find(addresses_.begin(), addresses_.end(), address) != addresses_.end();
}

} // namespace server
