// Volume figures and well-known folders (documents, current, executable) on POSIX.
#include "common/platform/posix/FileSystem_posix.h"

#include "common/platform/CodePage.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {

using namespace posixfs;

namespace {

bool QueryVolume(std::u16string_view path, struct statvfs& out) {
    std::string native = NativePath(path);
    if (native.empty())
        native = ".";
    if (::statvfs(native.c_str(), &out) != 0)
        return FailWithErrno(errno, native);
    return true;
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr)
        return found->pw_dir;
    return {};
}

// The XDG_DOCUMENTS_DIR line of user-dirs.dirs: "$HOME/..." or an absolute path, in quotes.
std::string DocumentsFromUserDirs(const std::string& home) {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string config = (configHome != nullptr && configHome[0] == '/')
                                   ? std::string(configHome)
                                   : home + "/.config";
    std::FILE* file = std::fopen((config + "/user-dirs.dirs").c_str(), "re");
    if (file == nullptr)
        return {};
    std::string result;
    char line[4096];
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=\"";
    while (result.empty() && std::fgets(line, sizeof line, file) != nullptr) {
        std::string_view text(line);
        if (text.substr(0, kKey.size()) != kKey)
            continue;
        text.remove_prefix(kKey.size());
        const std::size_t quote = text.find('"');
        if (quote == std::string_view::npos)
            continue;
        text = text.substr(0, quote);
        if (text.substr(0, 5) == "$HOME")
            result = home + std::string(text.substr(5));
        else if (!text.empty() && text[0] == '/')
            result = std::string(text);
    }
    std::fclose(file);
    return result;
}

std::string DocumentsPath() {
    const char* fromEnvironment = std::getenv("XDG_DOCUMENTS_DIR");
    if (fromEnvironment != nullptr && fromEnvironment[0] == '/')
        return fromEnvironment;
    const std::string home = HomeFolder();
    if (home.empty())
        return {};
    std::string fromFile = DocumentsFromUserDirs(home);
    if (!fromFile.empty())
        return fromFile;
    return home + "/Documents";
}

// Creates `folder` and any missing folders above it, as CSIDL_FLAG_CREATE does.
bool MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return FailWithErrno(errno, part);
        if (slash == std::string::npos)
            break;
    }
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        return FailWithErrno(errno, folder);
    if (!S_ISDIR(st.st_mode))
        return Fail(kErrorAlreadyExists);
    return true;
}

} // namespace

bool GetVolumeBytesPerSector(std::u16string_view path, std::uint32_t& bytesPerSector) {
    struct statvfs volume;
    if (!QueryVolume(path, volume))
        return false;
    bytesPerSector = static_cast<std::uint32_t>(volume.f_frsize);
    return true;
}

bool GetVolumeFreeSpace(std::u16string_view path, std::uint64_t& totalBytes,
                        std::uint64_t& freeBytes, std::uint64_t& availableBytes) {
    struct statvfs volume;
    if (!QueryVolume(path, volume))
        return false;
    const std::uint64_t unit = volume.f_frsize;
    totalBytes = static_cast<std::uint64_t>(volume.f_blocks) * unit;
    freeBytes = static_cast<std::uint64_t>(volume.f_bfree) * unit;
    availableBytes = static_cast<std::uint64_t>(volume.f_bavail) * unit;
    return true;
}

bool FolderIgnoresCase(std::u16string_view path) {
    // Volume types whose names match ignoring case (magic numbers of <linux/magic.h>).
    constexpr long kMsdosMagic = 0x4d44;
    constexpr long kExfatMagic = 0x2011BAB0;
    std::string native = NativePath(path);
    if (native.empty())
        native = ".";
    struct statfs volume;
    if (::statfs(native.c_str(), &volume) != 0)
        return false;
    if (volume.f_type == kMsdosMagic || volume.f_type == kExfatMagic)
        return true;
#ifdef FS_CASEFOLD_FL
    // ext4 and f2fs fold case per folder, marked by an inode flag.
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    long flags = 0;
    const bool folded = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
    ::close(fd);
    return folded;
#else
    return false;
#endif
}

bool DocumentsFolder(bool create, std::u16string& out) {
    std::string folder = DocumentsPath();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty())
        return Fail(kErrorPathNotFound);
    if (create && !MakeFolders(folder))
        return false;
    out = Utf8ToUtf16(folder);
    return true;
}

bool CurrentDirectory(std::u16string& out) {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return Fail(ErrnoToFileError(errno));
        buffer.resize(buffer.size() * 2);
    }
    out = Utf8ToUtf16(buffer.data());
    return true;
}

bool ExecutableFolder(std::u16string& out) {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return Fail(ErrnoToFileError(errno));
        if (static_cast<std::size_t>(length) < buffer.size()) {
            const std::string_view path(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = path.rfind('/');
            if (slash == std::string_view::npos)
                return Fail(kErrorPathNotFound);
            out = Utf8ToUtf16(path.substr(0, slash + 1));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

char16_t NativeSeparator() {
    return u'/';
}

} // namespace platform
