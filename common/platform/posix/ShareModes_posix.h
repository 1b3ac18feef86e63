// In-process emulation of Win32 share modes: which files this process holds open, and how.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>

namespace platform::posixfs {

// Data access of one open and what it lets others do (Win32 FILE_SHARE_READ/WRITE/DELETE).
inline constexpr unsigned kShareRead = 1;
inline constexpr unsigned kShareWrite = 2;
inline constexpr unsigned kShareDelete = 4;

struct ShareKey {
    dev_t device = 0;
    ino_t inode = 0;
};

// Holds the table's lock for one check-then-act sequence, so that an open cannot slip in
// between a delete's check and its unlink.
class ShareTableGuard {
  public:
    ShareTableGuard();
    ShareTableGuard(const ShareTableGuard&) = delete;
    ShareTableGuard& operator=(const ShareTableGuard&) = delete;

    // True when the process holds no data open at all (the common case; saves a stat).
    bool Empty() const;
    // Whether an open of the file would refuse its deletion or renaming (one that does not
    // share delete).
    bool BlocksDelete(const ShareKey& key) const;
    // Records an open with `access` and `share` (kShare* bits) unless it conflicts with the
    // opens already recorded under Win32 rules; false on conflict.
    bool TryAdd(const ShareKey& key, unsigned access, unsigned share);
    void Remove(const ShareKey& key, unsigned access, unsigned share);

  private:
    std::unique_lock<std::mutex> lock_;
};

} // namespace platform::posixfs
