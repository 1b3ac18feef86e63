// Instance lock over a file opened without sharing; Windows closes it when the process ends.
#include "common/platform/InstanceLock.h"

#include <windows.h>

#include <string>

namespace platform {

InstanceLock::~InstanceLock() {
    if (handle_ != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool InstanceLock::Acquire(std::u16string_view path) {
    const std::wstring widePath(path.begin(), path.end());
    const HANDLE file = ::CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

} // namespace platform
