// What both sides of SharedMemory share: ownership moves, and the destructor closes.
#include "common/platform/SharedMemory.h"

namespace platform {

SharedMemory::~SharedMemory() {
    Close();
}

SharedMemory::SharedMemory(SharedMemory&& other) noexcept {
    MoveFrom(other);
}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
    if (this != &other) {
        Close();
        MoveFrom(other);
    }
    return *this;
}

void SharedMemory::MoveFrom(SharedMemory& other) noexcept {
    handle_ = other.handle_;
    view_ = other.view_;
    viewSize_ = other.viewSize_;
    writable_ = other.writable_;
    state_ = other.state_;
    other.handle_ = kNoHandle;
    other.view_ = nullptr;
    other.viewSize_ = 0;
    other.writable_ = false;
    other.state_ = nullptr;
}

} // namespace platform
