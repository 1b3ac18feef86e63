// Open files over POSIX descriptors with Win32 meaning: access checks, share modes, error codes.
#include "common/platform/posix/FileSystem_posix.h"

#include "common/platform/CodePage.h"
#include "common/platform/posix/ShareModes_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>

namespace platform {

namespace {

thread_local std::uint32_t tLastError = kErrorSuccess;

constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorFileTooLarge = 223;
constexpr std::uint32_t kErrorCantResolveFilename = 1921;

// Seconds from 1601-01-01 to 1970-01-01, and FILETIME ticks per second.
constexpr std::int64_t kEpochDifference = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;

// Linux moves at most this much in one read or write call.
constexpr std::uint32_t kMaxTransfer = 0x7ffff000;

// What an open File may do, kept in its state_ word: data access, attribute writes, its share
// mode, and whether it sits in the share table.
constexpr std::uintptr_t kStateRead = 0x1;
constexpr std::uintptr_t kStateWrite = 0x2;
constexpr std::uintptr_t kStateWriteAttributes = 0x4;
constexpr std::uintptr_t kStateShareRead = 0x8;
constexpr std::uintptr_t kStateShareWrite = 0x10;
constexpr std::uintptr_t kStateShared = 0x20;
constexpr std::uintptr_t kStatePathOnly = 0x40;
constexpr std::uintptr_t kStateShareDelete = 0x80;

std::atomic<std::uint32_t> gLastFileId{0};

std::uint32_t NextFileId() {
    std::uint32_t id = 0;
    while (id == 0)
        id = gLastFileId.fetch_add(1, std::memory_order_relaxed) + 1;
    return id;
}

unsigned DataAccess(std::uintptr_t state) {
    return ((state & kStateRead) ? posixfs::kShareRead : 0u) |
           ((state & kStateWrite) ? posixfs::kShareWrite : 0u);
}

unsigned ShareBits(std::uintptr_t state) {
    return ((state & kStateShareRead) ? posixfs::kShareRead : 0u) |
           ((state & kStateShareWrite) ? posixfs::kShareWrite : 0u) |
           ((state & kStateShareDelete) ? posixfs::kShareDelete : 0u);
}

std::uintptr_t StateFor(const OpenOptions& options) {
    std::uintptr_t state = 0;
    switch (options.access) {
    case FileAccess::Read:
        state = kStateRead;
        break;
    case FileAccess::Write:
        state = kStateWrite | kStateWriteAttributes;
        break;
    case FileAccess::ReadWrite:
        state = kStateRead | kStateWrite | kStateWriteAttributes;
        break;
    case FileAccess::Attributes:
        state = kStateWriteAttributes;
        break;
    }
    if (options.share == FileShare::Read || options.share == FileShare::ReadWrite)
        state |= kStateShareRead;
    if (options.share == FileShare::ReadWrite)
        state |= kStateShareWrite;
    if (options.shareDelete)
        state |= kStateShareDelete;
    return state;
}

// Attribute-only opens of existing objects use O_PATH where the system has it.
bool IsPathOnly(const OpenOptions& options) {
#ifdef O_PATH
    return options.access == FileAccess::Attributes &&
           options.disposition == FileDisposition::OpenExisting;
#else
    (void)options;
    return false;
#endif
}

int OpenFlags(const OpenOptions& options) {
    int flags = O_CLOEXEC | O_NOCTTY;
    const bool create = options.disposition == FileDisposition::CreateNew;
    if (create)
        flags |= O_CREAT | O_EXCL;
    switch (options.access) {
    case FileAccess::Read:
        return flags | O_RDONLY;
    case FileAccess::Write:
        return flags | O_WRONLY;
    case FileAccess::ReadWrite:
        return flags | O_RDWR;
    case FileAccess::Attributes:
        // O_PATH needs no read permission and never blocks on a FIFO, but cannot create.
#ifdef O_PATH
        if (IsPathOnly(options))
            return flags | O_PATH;
#endif
        return flags | O_RDONLY | O_NONBLOCK;
    }
    return flags | O_RDONLY;
}

} // namespace

std::uint32_t LastFileError() {
    return tLastError;
}

void SetLastFileError(std::uint32_t error) {
    tLastError = error;
}

namespace posixfs {

std::string NativePath(std::u16string_view path) {
    std::string native = Utf16ToUtf8(path);
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

std::uint32_t ErrnoToFileError(int error) {
    switch (error) {
    case 0:
        return kErrorSuccess;
    case ENOENT:
        return kErrorFileNotFound;
    case ENOTDIR:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
        return kErrorAccessDenied;
    case EROFS:
        return kErrorWriteProtect;
    case EMFILE:
    case ENFILE:
        return kErrorTooManyOpenFiles;
    case EEXIST:
        return kErrorFileExists;
    case ENOTEMPTY:
        return kErrorDirNotEmpty;
    case ENOSPC:
    case EDQUOT:
        return kErrorDiskFull;
    case ENAMETOOLONG:
        return kErrorFilenameExcedRange;
    case EBUSY:
    case ETXTBSY:
        return kErrorSharingViolation;
    case EXDEV:
        return kErrorNotSameDevice;
    case EINVAL:
        return kErrorInvalidParameter;
    case EBADF:
        return kErrorInvalidHandle;
    case ENOMEM:
        return kErrorNotEnoughMemory;
    case EFBIG:
        return kErrorFileTooLarge;
    case ELOOP:
        return kErrorCantResolveFilename;
    default:
        return kErrorGenFailure;
    }
}

std::uint32_t MissingPathError(const std::string& path) {
    if (path.empty())
        return kErrorPathNotFound;
    std::size_t end = path.size();
    while (end > 0 && path[end - 1] == '/')
        --end;
    if (end == 0)
        return kErrorFileNotFound; // the root itself
    const std::size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos)
        return kErrorFileNotFound; // relative to the current folder, which exists
    std::size_t parentEnd = slash;
    while (parentEnd > 0 && path[parentEnd - 1] == '/')
        --parentEnd;
    if (parentEnd == 0)
        return kErrorFileNotFound; // directly under the root
    struct stat parent;
    const std::string folder = path.substr(0, parentEnd);
    if (::stat(folder.c_str(), &parent) == 0 && S_ISDIR(parent.st_mode))
        return kErrorFileNotFound;
    return kErrorPathNotFound;
}

bool FailWithErrno(int error, const std::string& path) {
    SetLastFileError(error == ENOENT ? MissingPathError(path) : ErrnoToFileError(error));
    return false;
}

bool Fail(std::uint32_t code) {
    SetLastFileError(code);
    return false;
}

std::uint64_t ToFileTime(std::int64_t seconds, std::int64_t nanoseconds) {
    if (seconds < -kEpochDifference)
        return 0;
    return static_cast<std::uint64_t>(seconds + kEpochDifference) *
               static_cast<std::uint64_t>(kTicksPerSecond) +
           static_cast<std::uint64_t>(nanoseconds / 100);
}

timespec FromFileTime(std::uint64_t ticks) {
    timespec time{};
    time.tv_sec =
        static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochDifference);
    time.tv_nsec = static_cast<long>((ticks % kTicksPerSecond) * 100);
    return time;
}

std::uint32_t AttributesFromMode(mode_t mode) {
    std::uint32_t attributes = 0;
    if (S_ISDIR(mode))
        attributes |= kAttributeDirectory;
    if (!(mode & S_IWUSR))
        attributes |= kAttributeReadOnly;
    return attributes != 0 ? attributes : kAttributeNormal;
}

namespace {

void FillFromStat(const struct stat& st, FileRecord& out) {
    out.attributes = AttributesFromMode(st.st_mode);
    out.lastAccessTime = ToFileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    out.lastWriteTime = ToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    const std::uint64_t changeTime = ToFileTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    out.creationTime = std::min({out.lastAccessTime, out.lastWriteTime, changeTime});
    // Windows reports no size for folders.
    out.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
}

#ifdef STATX_BTIME
// Cleared once the kernel turns statx down (old kernels, some sandboxes); stat then serves.
std::atomic<bool> gStatxWorks{true};
#endif

} // namespace

bool QueryRecord(int dirFd, const char* name, int flags, FileRecord& out, FileIdentity* identity) {
#ifdef STATX_BTIME
    if (gStatxWorks.load(std::memory_order_relaxed)) {
        struct statx sx;
        if (::statx(dirFd, name, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME,
                    &sx) == 0) {
            out.attributes = AttributesFromMode(sx.stx_mode);
            out.lastAccessTime = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
            out.lastWriteTime = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
            if (sx.stx_mask & STATX_BTIME) {
                out.creationTime = ToFileTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
            } else {
                out.creationTime =
                    std::min({out.lastAccessTime, out.lastWriteTime,
                              ToFileTime(sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec)});
            }
            out.size = S_ISDIR(sx.stx_mode) ? 0 : static_cast<std::uint64_t>(sx.stx_size);
            if (identity != nullptr) {
                identity->volume = makedev(sx.stx_dev_major, sx.stx_dev_minor);
                identity->index = sx.stx_ino;
            }
            return true;
        }
        if (errno != ENOSYS && errno != EPERM)
            return false;
        gStatxWorks.store(false, std::memory_order_relaxed);
    }
#endif
    struct stat st;
    if (::fstatat(dirFd, name, &st, flags) != 0)
        return false;
    FillFromStat(st, out);
    if (identity != nullptr) {
        identity->volume = st.st_dev;
        identity->index = st.st_ino;
    }
    return true;
}

} // namespace posixfs

using namespace posixfs;

File::~File() {
    Close();
}

File::File(File&& other) noexcept : handle_(other.handle_), id_(other.id_), state_(other.state_) {
    other.handle_ = -1;
    other.id_ = 0;
    other.state_ = nullptr;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        id_ = other.id_;
        state_ = other.state_;
        other.handle_ = -1;
        other.id_ = 0;
        other.state_ = nullptr;
    }
    return *this;
}

File File::Open(std::u16string_view path, const OpenOptions& options) {
    File file;
    const std::string native = NativePath(path);
    const bool create = options.disposition == FileDisposition::CreateNew;
    const mode_t mode = (options.attributes & kAttributeReadOnly) ? 0444 : 0666;
    OpenOptions effective = options;
    int fd = -1;
    do {
        fd = ::open(native.c_str(), OpenFlags(effective), mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == EISDIR && options.directory) {
        // Backup semantics open folders whatever the access; a folder descriptor can still
        // have its times set, as a Windows folder handle opened for writing can.
        effective.access = FileAccess::Attributes;
        effective.disposition = FileDisposition::OpenExisting;
        fd = ::open(native.c_str(), OpenFlags(effective));
    }
    if (fd < 0) {
        const int error = errno;
        // CREATE_NEW of an existing file is ERROR_FILE_EXISTS, ENOENT is 2 or 3 by the parent.
        FailWithErrno(error, native);
        return file;
    }

    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        FailWithErrno(error, native);
        return file;
    }
    std::uintptr_t state = StateFor(effective);
    if (IsPathOnly(effective))
        state |= kStatePathOnly;
    const bool isDirectory = S_ISDIR(st.st_mode);
    if (isDirectory && !options.directory) {
        ::close(fd);
        Fail(kErrorAccessDenied);
        return file;
    }
    // Windows refuses write access to a read-only file even to administrators; root would not.
    if (!create && !isDirectory && (state & kStateWrite) && !(st.st_mode & S_IWUSR)) {
        ::close(fd);
        Fail(kErrorAccessDenied);
        return file;
    }
    if (!isDirectory && DataAccess(state) != 0) {
        ShareTableGuard table;
        if (!table.TryAdd({st.st_dev, st.st_ino}, DataAccess(state), ShareBits(state))) {
            ::close(fd);
            Fail(kErrorSharingViolation);
            return file;
        }
        state |= kStateShared;
    }
    file.handle_ = fd;
    file.id_ = NextFileId();
    file.state_ = reinterpret_cast<void*>(state);
    return file;
}

bool File::IsOpen() const {
    return handle_ >= 0;
}

namespace {

std::uintptr_t StateOf(void* state) {
    return reinterpret_cast<std::uintptr_t>(state);
}

// Checks that the file is open and that its access allows `needed`; sets the error if not.
bool Allows(std::intptr_t handle, void* state, std::uintptr_t needed) {
    if (handle < 0)
        return Fail(kErrorInvalidHandle);
    if ((StateOf(state) & needed) != needed)
        return Fail(kErrorAccessDenied);
    return true;
}

bool FailTransfer(int error) {
    return Fail(error == EISDIR ? kErrorAccessDenied : ErrnoToFileError(error));
}

// Runs `step(done, chunk)` until `count` bytes moved. A short read means the end of the file,
// so reads stop there without another call; writes retry and report the error that stops them.
template <typename Step>
bool Transfer(std::uint32_t count, std::uint32_t& done, bool isRead, Step step) {
    done = 0;
    while (done < count) {
        const std::uint32_t chunk = std::min(count - done, kMaxTransfer);
        const ssize_t moved = step(done, chunk);
        if (moved < 0) {
            if (errno == EINTR)
                continue;
            return FailTransfer(errno);
        }
        done += static_cast<std::uint32_t>(moved);
        if (moved == 0 || (isRead && static_cast<std::uint32_t>(moved) < chunk))
            break;
    }
    if (!isRead && done < count)
        return Fail(kErrorDiskFull);
    return true;
}

} // namespace

bool File::GetInformation(FileRecord& out) const {
    if (handle_ < 0)
        return Fail(kErrorInvalidHandle);
    if (!QueryRecord(static_cast<int>(handle_), "", AT_EMPTY_PATH, out))
        return Fail(ErrnoToFileError(errno));
    return true;
}

bool GetPathInformation(std::u16string_view path, bool directory, FileRecord& out,
                        FileIdentity* identity) {
    const std::string native = NativePath(path);
    // Links are followed, as opening the path would.
    if (!QueryRecord(AT_FDCWD, native.c_str(), 0, out, identity))
        return FailWithErrno(errno, native);
    if ((out.attributes & kAttributeDirectory) != 0 && !directory)
        return Fail(kErrorAccessDenied);
    return true;
}

bool File::GetSize(std::uint64_t& size) const {
    if (handle_ < 0)
        return Fail(kErrorInvalidHandle);
    struct stat st;
    if (::fstat(static_cast<int>(handle_), &st) != 0)
        return Fail(ErrnoToFileError(errno));
    size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool File::Seek(std::uint64_t position, std::uint64_t* newPosition) {
    if (handle_ < 0)
        return Fail(kErrorInvalidHandle);
    if (position > static_cast<std::uint64_t>(INT64_MAX))
        return Fail(kErrorNegativeSeek);
    const off_t reached =
        ::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET);
    if (reached < 0)
        return Fail(ErrnoToFileError(errno));
    if (newPosition != nullptr)
        *newPosition = static_cast<std::uint64_t>(reached);
    return true;
}

bool File::Read(void* buffer, std::uint32_t count, std::uint32_t& read) {
    read = 0;
    if (!Allows(handle_, state_, kStateRead))
        return false;
    const int fd = static_cast<int>(handle_);
    auto* bytes = static_cast<char*>(buffer);
    return Transfer(count, read, true, [&](std::uint32_t done, std::uint32_t chunk) {
        return ::read(fd, bytes + done, chunk);
    });
}

bool File::Write(const void* data, std::uint32_t count, std::uint32_t& written) {
    written = 0;
    if (!Allows(handle_, state_, kStateWrite))
        return false;
    const int fd = static_cast<int>(handle_);
    const auto* bytes = static_cast<const char*>(data);
    return Transfer(count, written, false, [&](std::uint32_t done, std::uint32_t chunk) {
        return ::write(fd, bytes + done, chunk);
    });
}

bool File::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& read) {
    read = 0;
    if (!Allows(handle_, state_, kStateRead))
        return false;
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - count)
        return Fail(kErrorInvalidParameter);
    const int fd = static_cast<int>(handle_);
    auto* bytes = static_cast<char*>(buffer);
    return Transfer(count, read, true, [&](std::uint32_t done, std::uint32_t chunk) {
        return ::pread(fd, bytes + done, chunk, static_cast<off_t>(offset + done));
    });
}

bool File::WriteAt(std::uint64_t offset, const void* data, std::uint32_t count,
                   std::uint32_t& written) {
    written = 0;
    if (!Allows(handle_, state_, kStateWrite))
        return false;
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - count)
        return Fail(kErrorInvalidParameter);
    const int fd = static_cast<int>(handle_);
    const auto* bytes = static_cast<const char*>(data);
    return Transfer(count, written, false, [&](std::uint32_t done, std::uint32_t chunk) {
        return ::pwrite(fd, bytes + done, chunk, static_cast<off_t>(offset + done));
    });
}

bool File::SetEndOfFile() {
    if (!Allows(handle_, state_, kStateWrite))
        return false;
    const int fd = static_cast<int>(handle_);
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    if (position < 0)
        return Fail(ErrnoToFileError(errno));
    int result = 0;
    do {
        result = ::ftruncate(fd, position);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return Fail(errno == EFBIG ? kErrorDiskFull : ErrnoToFileError(errno));
    return true;
}

bool File::GetTimes(std::uint64_t* creation, std::uint64_t* lastAccess,
                    std::uint64_t* lastWrite) const {
    FileRecord record;
    if (!GetInformation(record))
        return false;
    if (creation != nullptr)
        *creation = record.creationTime;
    if (lastAccess != nullptr)
        *lastAccess = record.lastAccessTime;
    if (lastWrite != nullptr)
        *lastWrite = record.lastWriteTime;
    return true;
}

bool File::SetTimes(const std::uint64_t* creation, const std::uint64_t* lastAccess,
                    const std::uint64_t* lastWrite) {
    // The creation time cannot be set on POSIX; like SetFileTime, zero means "leave as is".
    (void)creation;
    if (!Allows(handle_, state_, kStateWriteAttributes))
        return false;
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    if (lastAccess != nullptr && *lastAccess != 0)
        times[0] = FromFileTime(*lastAccess);
    if (lastWrite != nullptr && *lastWrite != 0)
        times[1] = FromFileTime(*lastWrite);
    if (times[0].tv_nsec == UTIME_OMIT && times[1].tv_nsec == UTIME_OMIT)
        return true;
    const int fd = static_cast<int>(handle_);
    if (!(StateOf(state_) & kStatePathOnly)) {
        if (::futimens(fd, times) != 0)
            return Fail(ErrnoToFileError(errno));
        return true;
    }
    // A path-only descriptor takes AT_EMPTY_PATH on recent kernels; older ones need /proc.
    if (::utimensat(fd, "", times, AT_EMPTY_PATH) == 0)
        return true;
    if (errno != EINVAL && errno != EBADF)
        return Fail(ErrnoToFileError(errno));
    char procPath[32];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    if (::utimensat(AT_FDCWD, procPath, times, 0) != 0)
        return Fail(ErrnoToFileError(errno));
    return true;
}

bool File::Flush() {
    if (!Allows(handle_, state_, kStateWrite))
        return false;
    // Data and the size that reaches it; the server's COMMIT needs no more than that.
    if (::fdatasync(static_cast<int>(handle_)) != 0)
        return Fail(ErrnoToFileError(errno));
    return true;
}

void File::StartFlush(std::uint64_t offset, std::uint64_t count) {
    if (handle_ < 0 || !(StateOf(state_) & kStateWrite) ||
        offset > static_cast<std::uint64_t>(INT64_MAX) - count)
        return;
    // Write-out begins now, while the caller goes on; Flush (fdatasync) still waits for all.
    ::sync_file_range(static_cast<int>(handle_), static_cast<off_t>(offset),
                      static_cast<off_t>(count), SYNC_FILE_RANGE_WRITE);
}

void File::Close() {
    if (handle_ < 0)
        return;
    const int fd = static_cast<int>(handle_);
    const std::uintptr_t state = StateOf(state_);
    if (state & kStateShared) {
        // The descriptor names the same inode as at open; fstat cannot fail on a valid one.
        struct stat st;
        if (::fstat(fd, &st) == 0) {
            ShareTableGuard table;
            table.Remove({st.st_dev, st.st_ino}, DataAccess(state), ShareBits(state));
        }
    }
    ::close(fd);
    handle_ = -1;
    id_ = 0;
    state_ = nullptr;
}

} // namespace platform
