// Folder change notification on Windows: not offered. Change notifications of last-write times
// arrive only when the cache writes to disk, so nothing computed from a search is kept.
#include "common/platform/DirectoryWatch.h"

namespace platform {

DirectoryWatch::~DirectoryWatch() = default;

DirectoryWatch::DirectoryWatch(DirectoryWatch&& other) noexcept : state_(other.state_) {
    other.state_ = nullptr;
}

DirectoryWatch& DirectoryWatch::operator=(DirectoryWatch&& other) noexcept {
    state_ = other.state_;
    other.state_ = nullptr;
    return *this;
}

std::uint32_t DirectoryWatch::Watch(std::u16string_view) {
    return 0;
}

void DirectoryWatch::Unwatch(std::uint32_t) {}

bool DirectoryWatch::TakeChanges(std::vector<std::uint32_t>&) {
    return true;
}

} // namespace platform
