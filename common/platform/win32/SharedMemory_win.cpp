// Named shared memory as a paging-file backed file mapping.
#include <windows.h>

#include "common/platform/SharedMemory.h"

#include "common/win32/Text.h"

#include <string>

namespace platform {

namespace {

HANDLE AsHandle(std::uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

std::wstring WideName(std::u16string_view name) {
    return win32::ToWide(name);
}

} // namespace

bool SharedMemory::Create(std::u16string_view name, std::uint32_t size, bool& alreadyExisted) {
    Close();
    alreadyExisted = false;
    HANDLE handle = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT,
                                         0, size, WideName(name).c_str());
    if (handle == nullptr)
        return false;
    // Read right away: the caller logs this code after the "already existed" line.
    alreadyExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
    handle_ = reinterpret_cast<std::uintptr_t>(handle);
    writable_ = true;
    return true;
}

bool SharedMemory::OpenReadOnly(std::u16string_view name) {
    Close();
    HANDLE handle = ::OpenFileMappingW(FILE_MAP_READ, FALSE, WideName(name).c_str());
    if (handle == nullptr)
        return false;
    handle_ = reinterpret_cast<std::uintptr_t>(handle);
    writable_ = false;
    return true;
}

bool SharedMemory::Map() {
    if (!IsOpen()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    Unmap();
    void* view =
        ::MapViewOfFile(AsHandle(handle_), writable_ ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr)
        return false;
    // The section's own size is not available through Win32; the view's region is its pages.
    MEMORY_BASIC_INFORMATION region{};
    if (::VirtualQuery(view, &region, sizeof region) == 0) {
        const DWORD error = ::GetLastError();
        ::UnmapViewOfFile(view);
        ::SetLastError(error);
        return false;
    }
    view_ = view;
    viewSize_ = region.RegionSize;
    return true;
}

void SharedMemory::Unmap() {
    if (view_ != nullptr)
        ::UnmapViewOfFile(view_);
    view_ = nullptr;
    viewSize_ = 0;
}

void SharedMemory::Close() {
    Unmap();
    if (IsOpen())
        ::CloseHandle(AsHandle(handle_));
    handle_ = kNoHandle;
    writable_ = false;
}

} // namespace platform
