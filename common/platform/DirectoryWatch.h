// Change notification for folders: lets a value computed from a folder's search records (such as
// its newest entry time) be kept until something that search would report changes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace platform {

// Move-only owner of the notification source; only the thread that uses it may call it.
class DirectoryWatch {
  public:
    DirectoryWatch() = default;
    ~DirectoryWatch();
    DirectoryWatch(DirectoryWatch&& other) noexcept;
    DirectoryWatch& operator=(DirectoryWatch&& other) noexcept;
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    // Starts watching what a search of the folder at `path` reports: the names of its entries and
    // their times, sizes and attributes, including "." and "..". Returns a new nonzero key, or 0
    // when that cannot be watched reliably (no notification on this platform or file system, a
    // symbolic link among the entries, a limit reached). Call it before the search, so that a
    // change during the search is reported.
    std::uint32_t Watch(std::u16string_view path);
    // Stops a key (0 is ignored).
    void Unwatch(std::uint32_t key);
    // Appends the keys that saw a change since the last call. False when changes may have been
    // lost: every key must then be taken as changed.
    bool TakeChanges(std::vector<std::uint32_t>& keys);

  private:
    void* state_ = nullptr; // platform bookkeeping
};

} // namespace platform
