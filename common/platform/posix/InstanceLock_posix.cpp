// Instance lock over flock(2): released by the kernel when the process ends, however it ends.
#include "common/platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "common/platform/posix/FileSystem_posix.h"

namespace platform {

InstanceLock::~InstanceLock() {
    if (handle_ != -1)
        ::close(static_cast<int>(handle_));
}

bool InstanceLock::Acquire(std::u16string_view path) {
    const int fd = ::open(posixfs::NativePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

} // namespace platform
