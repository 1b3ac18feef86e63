// Named shared memory as a POSIX shared-memory object (shm_open, mmap).
#include "common/platform/SharedMemory.h"

#include "common/platform/CodePage.h"
#include "common/platform/posix/FileSystem_posix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform {

using namespace posixfs;

namespace {

// shm_open wants one leading "/" and no other; Win32 names may not hold "\" either.
bool ObjectName(std::u16string_view name, std::string& out) {
    if (name.empty() || name.find(u'/') != std::u16string_view::npos ||
        name.find(u'\\') != std::u16string_view::npos)
        return Fail(kErrorInvalidName);
    out = "/" + Utf16ToUtf8(name);
    return true;
}

bool FailErrno(int error) {
    return Fail(ErrnoToFileError(error));
}

} // namespace

bool SharedMemory::Create(std::u16string_view name, std::uint32_t size, bool& alreadyExisted) {
    Close();
    alreadyExisted = false;
    std::string objectName;
    if (!ObjectName(name, objectName))
        return false;
    if (size == 0)
        return Fail(kErrorInvalidParameter);
    int fd = ::shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        fd = ::shm_open(objectName.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd < 0)
            return FailErrno(errno);
        alreadyExisted = true;
    } else if (fd < 0) {
        return FailErrno(errno);
    }
    if (!alreadyExisted) {
        if (::ftruncate(fd, size) != 0) {
            const int error = errno;
            ::close(fd);
            ::shm_unlink(objectName.c_str());
            return FailErrno(error);
        }
        state_ = new std::string(std::move(objectName));
    }
    handle_ = static_cast<std::uintptr_t>(fd);
    writable_ = true;
    SetLastFileError(alreadyExisted ? kErrorAlreadyExists : kErrorSuccess);
    return true;
}

bool SharedMemory::OpenReadOnly(std::u16string_view name) {
    Close();
    std::string objectName;
    if (!ObjectName(name, objectName))
        return false;
    const int fd = ::shm_open(objectName.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return FailErrno(errno);
    handle_ = static_cast<std::uintptr_t>(fd);
    writable_ = false;
    SetLastFileError(kErrorSuccess);
    return true;
}

bool SharedMemory::Map() {
    if (!IsOpen())
        return Fail(kErrorInvalidHandle);
    Unmap();
    const int fd = static_cast<int>(handle_);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return FailErrno(errno);
    // A block its creator has not sized yet cannot be mapped, as on Windows.
    if (st.st_size <= 0)
        return Fail(kErrorAccessDenied);
    const auto size = static_cast<std::size_t>(st.st_size);
    void* view =
        ::mmap(nullptr, size, writable_ ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED)
        return FailErrno(errno);
    view_ = view;
    viewSize_ = size;
    SetLastFileError(kErrorSuccess);
    return true;
}

void SharedMemory::Unmap() {
    if (view_ != nullptr)
        ::munmap(view_, viewSize_);
    view_ = nullptr;
    viewSize_ = 0;
}

void SharedMemory::Close() {
    Unmap();
    if (IsOpen())
        ::close(static_cast<int>(handle_));
    handle_ = kNoHandle;
    writable_ = false;
    if (state_ != nullptr) {
        auto* name = static_cast<std::string*>(state_);
        ::shm_unlink(name->c_str());
        delete name;
        state_ = nullptr;
    }
}

} // namespace platform
