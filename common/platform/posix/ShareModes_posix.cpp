// In-process emulation of Win32 share modes, keyed by device and inode.
#include "common/platform/posix/ShareModes_posix.h"

#include <cstddef>
#include <functional>
#include <unordered_map>

namespace platform::posixfs {
namespace {

// The Win32 SHARE_ACCESS counters: how many opens read or write, and how many allow others to.
struct ShareCounts {
    std::uint32_t opens = 0;
    std::uint32_t readers = 0;
    std::uint32_t writers = 0;
    std::uint32_t sharedRead = 0;
    std::uint32_t sharedWrite = 0;
    std::uint32_t sharedDelete = 0;
};

struct KeyHash {
    std::size_t operator()(const ShareKey& key) const noexcept {
        return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(key.inode) * 31u +
                                          static_cast<std::uint64_t>(key.device));
    }
};

struct KeyEqual {
    bool operator()(const ShareKey& a, const ShareKey& b) const noexcept {
        return a.device == b.device && a.inode == b.inode;
    }
};

using ShareMap = std::unordered_map<ShareKey, ShareCounts, KeyHash, KeyEqual>;

std::mutex& TableMutex() {
    static std::mutex mutex;
    return mutex;
}

// Only touched with TableMutex() held.
ShareMap& Table() {
    static ShareMap table;
    return table;
}

} // namespace

ShareTableGuard::ShareTableGuard() : lock_(TableMutex()) {}

bool ShareTableGuard::Empty() const {
    return Table().empty();
}

bool ShareTableGuard::BlocksDelete(const ShareKey& key) const {
    const auto found = Table().find(key);
    return found != Table().end() && found->second.sharedDelete < found->second.opens;
}

bool ShareTableGuard::TryAdd(const ShareKey& key, unsigned access, unsigned share) {
    ShareCounts& counts = Table()[key];
    const bool conflicts = ((access & kShareRead) && counts.sharedRead < counts.opens) ||
                           ((access & kShareWrite) && counts.sharedWrite < counts.opens) ||
                           (counts.readers > 0 && !(share & kShareRead)) ||
                           (counts.writers > 0 && !(share & kShareWrite));
    if (conflicts) {
        if (counts.opens == 0)
            Table().erase(key);
        return false;
    }
    ++counts.opens;
    counts.readers += (access & kShareRead) ? 1 : 0;
    counts.writers += (access & kShareWrite) ? 1 : 0;
    counts.sharedRead += (share & kShareRead) ? 1 : 0;
    counts.sharedWrite += (share & kShareWrite) ? 1 : 0;
    counts.sharedDelete += (share & kShareDelete) ? 1 : 0;
    return true;
}

void ShareTableGuard::Remove(const ShareKey& key, unsigned access, unsigned share) {
    const auto found = Table().find(key);
    if (found == Table().end())
        return;
    ShareCounts& counts = found->second;
    counts.readers -= (access & kShareRead) ? 1 : 0;
    counts.writers -= (access & kShareWrite) ? 1 : 0;
    counts.sharedRead -= (share & kShareRead) ? 1 : 0;
    counts.sharedWrite -= (share & kShareWrite) ? 1 : 0;
    counts.sharedDelete -= (share & kShareDelete) ? 1 : 0;
    if (--counts.opens == 0)
        Table().erase(found);
}

} // namespace platform::posixfs
