// One running instance per lock file: an exclusive lock held for the life of the object.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock (or the file cannot be made).
    bool Acquire(std::u16string_view path);
    bool Held() const { return handle_ != -1; }

  private:
    std::intptr_t handle_ = -1;
};

} // namespace platform
