// Directory searches and name-space changes (delete, create, remove, move) with Win32 results.
#include "common/platform/posix/FileSystem_posix.h"

#include "common/platform/CodePage.h"
#include "common/platform/posix/ShareModes_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace platform {

using namespace posixfs;

namespace {

// Where a search stands: "." and ".." come first, as FindFirstFileW yields them for a folder.
enum class SearchStage { Dot, DotDot, Entries, Done };

struct SearchState {
    SearchStage stage = SearchStage::Done;
    std::string pattern; // empty: every name matches
};

bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string::npos;
}

bool MatchesAll(std::string_view pattern) {
    return pattern == "*" || pattern == "*.*";
}

// True when this process holds the regular file open without delete sharing; the caller holds
// `table`.
bool IsHeldOpen(const ShareTableGuard& table, const struct stat& st) {
    return S_ISREG(st.st_mode) && table.BlocksDelete({st.st_dev, st.st_ino});
}

} // namespace

FindSearch::~FindSearch() {
    Close();
}

FindSearch::FindSearch(FindSearch&& other) noexcept : handle_(other.handle_), state_(other.state_) {
    other.handle_ = -1;
    other.state_ = nullptr;
}

FindSearch& FindSearch::operator=(FindSearch&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        state_ = other.state_;
        other.handle_ = -1;
        other.state_ = nullptr;
    }
    return *this;
}

bool FindSearch::First(std::u16string_view pattern, FindRecord& out) {
    Close();
    const std::string native = NativePath(pattern);
    const std::size_t slash = native.rfind('/');
    const std::string_view name = slash == std::string::npos
                                      ? std::string_view(native)
                                      : std::string_view(native).substr(slash + 1);
    // Like FindFirstFileW, a pattern ending in a separator names nothing.
    if (name.empty())
        return Fail(kErrorFileNotFound);

    auto* state = new (std::nothrow) SearchState;
    if (state == nullptr)
        return Fail(kErrorNotEnoughMemory);
    state_ = state;

    if (!HasWildcard(name)) {
        // One named object: used to test whether a path exists.
        if (!QueryRecord(AT_FDCWD, native.c_str(), 0, out) &&
            !QueryRecord(AT_FDCWD, native.c_str(), AT_SYMLINK_NOFOLLOW, out)) {
            const int error = errno;
            Close();
            return FailWithErrno(error, native);
        }
        out.name = Utf8ToUtf16(name);
        return true;
    }

    std::size_t folderEnd = slash == std::string::npos ? 0 : slash;
    while (folderEnd > 0 && native[folderEnd - 1] == '/')
        --folderEnd;
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : folderEnd == 0           ? std::string("/")
                                                          : native.substr(0, folderEnd);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        const int error = errno;
        Close();
        // FindFirstFileW names a missing folder ERROR_PATH_NOT_FOUND, never 2.
        return Fail(error == ENOENT ? kErrorPathNotFound : ErrnoToFileError(error));
    }
    handle_ = reinterpret_cast<std::intptr_t>(dir);
    if (!MatchesAll(name))
        state->pattern = std::string(name);
    state->stage = SearchStage::Dot;
    if (Next(out))
        return true;
    const std::uint32_t error = LastFileError();
    Close();
    return Fail(error == kErrorNoMoreFiles ? kErrorFileNotFound : error);
}

bool FindSearch::Next(FindRecord& out) {
    auto* state = static_cast<SearchState*>(state_);
    if (state == nullptr)
        return Fail(kErrorInvalidHandle);
    DIR* dir = reinterpret_cast<DIR*>(handle_);
    const auto matches = [state](const char* name) {
        return state->pattern.empty() || ::fnmatch(state->pattern.c_str(), name, 0) == 0;
    };
    while (state->stage == SearchStage::Dot || state->stage == SearchStage::DotDot) {
        const char* name = state->stage == SearchStage::Dot ? "." : "..";
        state->stage =
            state->stage == SearchStage::Dot ? SearchStage::DotDot : SearchStage::Entries;
        if (matches(name) && QueryRecord(::dirfd(dir), name, 0, out)) {
            out.name = Utf8ToUtf16(name);
            return true;
        }
    }
    while (state->stage == SearchStage::Entries) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            if (errno != 0)
                return Fail(ErrnoToFileError(errno));
            state->stage = SearchStage::Done;
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || !matches(name))
            continue;
        // Links are followed, as the player sees their targets; a dangling one shows itself.
        // An entry removed since readdir saw it is skipped.
        if (!QueryRecord(::dirfd(dir), name, 0, out) &&
            !QueryRecord(::dirfd(dir), name, AT_SYMLINK_NOFOLLOW, out))
            continue;
        out.name = Utf8ToUtf16(name);
        return true;
    }
    return Fail(kErrorNoMoreFiles);
}

void FindSearch::Close() {
    if (handle_ != -1)
        ::closedir(reinterpret_cast<DIR*>(handle_));
    delete static_cast<SearchState*>(state_);
    handle_ = -1;
    state_ = nullptr;
}

bool GetPathAttributes(std::u16string_view path, std::uint32_t& attributes) {
    const std::string native = NativePath(path);
    struct stat st;
    if (::stat(native.c_str(), &st) != 0 && ::lstat(native.c_str(), &st) != 0)
        return FailWithErrno(errno, native);
    attributes = AttributesFromMode(st.st_mode);
    return true;
}

bool SetPathAttributes(std::u16string_view path, std::uint32_t attributes) {
    const std::string native = NativePath(path);
    struct stat st;
    if (::stat(native.c_str(), &st) != 0)
        return FailWithErrno(errno, native);
    const mode_t writable = S_IWUSR | S_IWGRP | S_IWOTH;
    const mode_t mode =
        (attributes & kAttributeReadOnly) != 0 ? st.st_mode & ~writable : st.st_mode | S_IWUSR;
    if ((mode & 07777) == (st.st_mode & 07777))
        return true;
    if (::chmod(native.c_str(), mode & 07777) != 0)
        return FailWithErrno(errno, native);
    return true;
}

bool RemoveFile(std::u16string_view path) {
    const std::string native = NativePath(path);
    ShareTableGuard table;
    struct stat st;
    if (::lstat(native.c_str(), &st) != 0)
        return FailWithErrno(errno, native);
    // DeleteFileW refuses folders and read-only files, and files held open without delete
    // sharing.
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)))
        return Fail(kErrorAccessDenied);
    if (IsHeldOpen(table, st))
        return Fail(kErrorSharingViolation);
    if (::unlink(native.c_str()) != 0)
        return FailWithErrno(errno, native);
    return true;
}

bool MakeDirectory(std::u16string_view path) {
    const std::string native = NativePath(path);
    if (::mkdir(native.c_str(), 0777) == 0)
        return true;
    if (errno == EEXIST)
        return Fail(kErrorAlreadyExists);
    // A missing parent is the only way mkdir meets ENOENT: 3.
    return FailWithErrno(errno, native);
}

bool RemoveEmptyDirectory(std::u16string_view path) {
    const std::string native = NativePath(path);
    if (::rmdir(native.c_str()) == 0)
        return true;
    const int error = errno;
    switch (error) {
    case ENOTEMPTY:
    case EEXIST:
        return Fail(kErrorDirNotEmpty);
    case ENOTDIR: {
        // Either the object itself is a file (ERROR_DIRECTORY) or a folder on the way is.
        struct stat st;
        if (::lstat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            return Fail(kErrorDirectory);
        return Fail(kErrorPathNotFound);
    }
    default:
        return FailWithErrno(error, native);
    }
}

namespace {

// rename that never replaces an existing target; -1 with errno as rename would set it.
int RenameNoReplace(const char* from, const char* to) {
#ifdef SYS_renameat2
    constexpr unsigned kRenameNoReplace = 1; // RENAME_NOREPLACE, fixed by the kernel ABI
    const long result = ::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kRenameNoReplace);
    if (result == 0 || (errno != EINVAL && errno != ENOSYS))
        return static_cast<int>(result);
#endif
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing target for
    // files; folders can only be checked first (a narrow race, unavoidable there).
    struct stat st;
    if (::lstat(from, &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode)) {
        if (::link(from, to) == 0)
            return ::unlink(from);
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
            return -1;
    }
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from, to);
}

} // namespace

bool MovePath(std::u16string_view from, std::u16string_view to) {
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    ShareTableGuard table;
    if (!table.Empty()) {
        struct stat st;
        if (::lstat(source.c_str(), &st) == 0 && IsHeldOpen(table, st))
            return Fail(kErrorSharingViolation);
    }
    if (RenameNoReplace(source.c_str(), target.c_str()) == 0)
        return true;
    const int error = errno;
    switch (error) {
    case EEXIST:
    case ENOTEMPTY:
        return Fail(kErrorAlreadyExists);
    case ENOENT: {
        // A missing source is 2 or 3 by its folder; otherwise the target's folder is missing.
        struct stat st;
        if (::lstat(source.c_str(), &st) != 0)
            return FailWithErrno(ENOENT, source);
        return Fail(kErrorPathNotFound);
    }
    default:
        return Fail(ErrnoToFileError(error));
    }
}

bool ReplacePath(std::u16string_view from, std::u16string_view to) {
    if (::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0)
        return true;
    return Fail(ErrnoToFileError(errno));
}

} // namespace platform
