// The mount list and the allowed-host list.
#include "server/rpc/Mounts.h"

#include <algorithm>

#include "common/platform/CodePage.h"
#include "common/platform/Socket.h"

namespace server {

std::size_t TMounts::Add(TMountEntry entry) {
    entries_.push_back(std::move(entry));
    return entries_.size() - 1;
}

void TMounts::Delete(std::size_t index) {
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::int64_t TMounts::Find(std::u16string_view path, std::uint32_t client) const {
    const std::u16string upperPath = platform::UpperCase(path);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].client == client && platform::UpperCase(entries_[i].path) == upperPath)
            return static_cast<std::int64_t>(i);
    }
    return -1;
}

bool TMounts::HasClient(std::uint32_t client) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [client](const TMountEntry& entry) { return entry.client == client; });
}

bool TAllowedAddrs::Contains(std::uint32_t address) const {
    return std::find(addresses_.begin(), addresses_.end(), address) != addresses_.end();
}

} // namespace server
