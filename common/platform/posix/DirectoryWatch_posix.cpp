// Folder change notification over inotify. A key stands for a set of kernel watches: the folder
// (its entries' changes), its parent (the ".." record) and each sub-folder (whose own time moves
// when its entries change, which the folder's watch does not report).
#include "common/platform/DirectoryWatch.h"

#include "common/platform/posix/FileSystem_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

// Everything that moves a time, size, attribute or name of an entry, or the folder itself.
// IN_CLOSE_WRITE catches files written through a memory mapping once they are closed.
constexpr std::uint32_t kFolderMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE |
                                      IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                      IN_MOVE_SELF | IN_MASK_ADD;
// The parent and the sub-folders: their own times move with their names, and with a time set
// on them (IN_MODIFY when only the last-write time is set, IN_ATTRIB when both are).
constexpr std::uint32_t kNeighbourMask = IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                         IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                         IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;

// File systems whose changes may come from another machine, unseen by inotify.
bool IsRemote(const struct statfs& fs) {
    switch (static_cast<std::uint32_t>(fs.f_type)) {
    case 0x6969u:     // NFS
    case 0x517Bu:     // SMB
    case 0xFF534D42u: // CIFS
    case 0xFE534D42u: // SMB2
    case 0x65735546u: // FUSE
    case 0x01021997u: // 9P
    case 0x00C36400u: // Ceph
    case 0x5346414Fu: // AFS
    case 0x73757245u: // Coda
    case 0x47504653u: // GPFS
    case 0x0BD00BD0u: // Lustre
        return true;
    default:
        return false;
    }
}

struct WatchState {
    int fd = -1;
    std::uint32_t nextKey = 1;
    std::unordered_map<int, std::vector<std::uint32_t>> keysByWatch;
    std::unordered_map<std::uint32_t, std::vector<int>> watchesByKey;
};

WatchState* StateOf(void* state) {
    return static_cast<WatchState*>(state);
}

// Adds a kernel watch to `key`; false when the kernel refuses (limit, vanished, not a folder).
bool AddWatch(WatchState& state, std::uint32_t key, const std::string& path, std::uint32_t mask) {
    const int wd = ::inotify_add_watch(state.fd, path.c_str(), mask);
    if (wd < 0)
        return false;
    std::vector<int>& watches = state.watchesByKey[key];
    if (std::find(watches.begin(), watches.end(), wd) != watches.end())
        return true;
    watches.push_back(wd);
    state.keysByWatch[wd].push_back(key);
    return true;
}

} // namespace

DirectoryWatch::~DirectoryWatch() {
    WatchState* state = StateOf(state_);
    if (state == nullptr)
        return;
    if (state->fd >= 0)
        ::close(state->fd);
    delete state;
}

DirectoryWatch::DirectoryWatch(DirectoryWatch&& other) noexcept : state_(other.state_) {
    other.state_ = nullptr;
}

DirectoryWatch& DirectoryWatch::operator=(DirectoryWatch&& other) noexcept {
    if (this != &other) {
        DirectoryWatch old(std::move(*this));
        state_ = other.state_;
        other.state_ = nullptr;
    }
    return *this;
}

std::uint32_t DirectoryWatch::Watch(std::u16string_view path) {
    if (state_ == nullptr) {
        auto* state = new (std::nothrow) WatchState;
        if (state == nullptr)
            return 0;
        state->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        state_ = state;
    }
    WatchState& state = *StateOf(state_);
    if (state.fd < 0)
        return 0;

    std::string folder = posixfs::NativePath(path);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return 0;
    struct statfs fs;
    if (::fstatfs(::dirfd(dir), &fs) != 0 || IsRemote(fs)) {
        ::closedir(dir);
        return 0;
    }
    std::uint32_t key = state.nextKey++;
    if (key == 0)
        key = state.nextKey++;
    bool ok = AddWatch(state, key, folder, kFolderMask) &&
              AddWatch(state, key, folder + "/..", kNeighbourMask);
    while (ok) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            ok = errno == 0;
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone already; its removal was seen by the folder's watch
            type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        }
        // A link's target can change anywhere, unseen by these watches.
        if (type == DT_LNK)
            ok = false;
        else if (type == DT_DIR)
            ok = AddWatch(state, key, folder + "/" + name, kNeighbourMask);
    }
    ::closedir(dir);
    if (!ok) {
        Unwatch(key);
        return 0;
    }
    return key;
}

void DirectoryWatch::Unwatch(std::uint32_t key) {
    WatchState* state = StateOf(state_);
    if (state == nullptr || key == 0)
        return;
    const auto found = state->watchesByKey.find(key);
    if (found == state->watchesByKey.end())
        return;
    for (const int wd : found->second) {
        const auto keys = state->keysByWatch.find(wd);
        if (keys == state->keysByWatch.end())
            continue; // the kernel dropped it already
        std::erase(keys->second, key);
        if (keys->second.empty()) {
            ::inotify_rm_watch(state->fd, wd);
            state->keysByWatch.erase(keys);
        }
    }
    state->watchesByKey.erase(found);
}

bool DirectoryWatch::TakeChanges(std::vector<std::uint32_t>& keys) {
    WatchState* state = StateOf(state_);
    if (state == nullptr || state->fd < 0)
        return true;
    bool complete = true;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(state->fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got < 0 && errno != EAGAIN)
                complete = false;
            break;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                complete = false;
                continue;
            }
            const auto found = state->keysByWatch.find(event->wd);
            if (found == state->keysByWatch.end())
                continue;
            keys.insert(keys.end(), found->second.begin(), found->second.end());
            if (event->mask & IN_IGNORED)
                state->keysByWatch.erase(found); // the kernel removed the watch
        }
    }
    return complete;
}

} // namespace platform
