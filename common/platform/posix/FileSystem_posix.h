// Helpers shared by the POSIX file-system sources: path conversion, errno mapping, stat records.
#pragma once

#include "common/platform/FileSystem.h"

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::posixfs {

// UTF-8 path with every "\" turned into "/"; runs of "/" are left to the kernel.
std::string NativePath(std::u16string_view path);

// Win32 code for an errno value that needs no context. ENOENT gives kErrorFileNotFound here;
// callers that know the path use FailMissing / FailWithErrno to tell 2 from 3.
std::uint32_t ErrnoToFileError(int error);

// 2 when the folder holding `path` exists, 3 when it does not.
std::uint32_t MissingPathError(const std::string& path);

// Sets the Win32 code for `error` (ENOENT resolved against `path`) and returns false.
bool FailWithErrno(int error, const std::string& path);

// Sets `code` as the last error and returns false.
bool Fail(std::uint32_t code);

// FILETIME ticks <-> seconds and nanoseconds since 1970.
std::uint64_t ToFileTime(std::int64_t seconds, std::int64_t nanoseconds);
timespec FromFileTime(std::uint64_t ticks);

// Attribute bits for a mode: directory, read-only when the owner may not write, else normal.
std::uint32_t AttributesFromMode(mode_t mode);

// Fills `out` (and `identity` when given) for `name` relative to `dirFd` (AT_FDCWD for plain
// paths; "" with AT_EMPTY_PATH for an open descriptor), with the birth time when the file system
// keeps one. Leaves errno.
bool QueryRecord(int dirFd, const char* name, int flags, FileRecord& out,
                 FileIdentity* identity = nullptr);

} // namespace platform::posixfs
