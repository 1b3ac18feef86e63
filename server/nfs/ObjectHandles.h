// The table of every file-system object named to a client: 4-byte identifiers <-> entries
// <-> Windows paths. Lookups by identifier and by (parent, name) are hash lookups. Each entry
// gets its fileid when it is made and keeps it while it lives; no later entry gets it again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/platform/DirectoryWatch.h"
#include "common/platform/FileSystem.h"
#include "server/nfs/NfsXdr.h"

namespace server {

class TDirHandle;

class TObjectHandle {
  public:
    virtual ~TObjectHandle() = default;
    TObjectHandle(const TObjectHandle&) = delete;
    TObjectHandle& operator=(const TObjectHandle&) = delete;

    const std::u16string& GetName() const { return name_; }
    // Full Windows path: parent path + component, "\" appended for a directory (twice for a
    // directory entry itself), so every directory level shows a doubled separator.
    virtual std::u16string GetPath() const;
    virtual bool IsDirectory() const = 0;

    const std::u16string& Component() const { return component_; }
    TDirHandle* Parent() const { return parent_; }
    std::uint32_t Id() const { return id_; }
    // The fileid clients see: never 0, never changed, never given to another entry of the table.
    std::uint64_t FileId() const { return fileId_; }
    // Position in the table (what IndexOf answers); moves when earlier entries are deleted.
    std::size_t Position() const { return position_; }
    // The folder this entry's export starts at (the root folder or the list folder).
    const std::u16string& ExportBase() const { return *exportBase_; }

  protected:
    TObjectHandle(TDirHandle* parent, std::u16string name, std::u16string component,
                  const std::u16string* exportBase)
        : name_(std::move(name)), component_(std::move(component)), parent_(parent),
          exportBase_(exportBase) {}
    void AppendPath(std::u16string& path) const;

  private:
    friend class TObjectHandles;
    std::u16string name_;
    std::u16string component_;
    TDirHandle* parent_;
    const std::u16string* exportBase_;
    std::uint32_t id_ = 0;
    std::uint64_t fileId_ = 0;
    std::size_t position_ = 0;
};

class TFileHandle final : public TObjectHandle {
  public:
    TFileHandle(TDirHandle* parent, std::u16string name, std::u16string component,
                const std::u16string* exportBase)
        : TObjectHandle(parent, std::move(name), std::move(component), exportBase) {}
    bool IsDirectory() const override { return false; }

    // The file kept open by WRITE until a stable write, COMMIT or the idle sweep closes it.
    platform::File FileHandle;
    std::uint32_t LastUse = 0;
};

class TDirHandle final : public TObjectHandle {
  public:
    TDirHandle(TDirHandle* parent, std::u16string name, std::u16string component,
               const std::u16string* exportBase, std::uint32_t bytesPerSector, bool ignoresCase)
        : TObjectHandle(parent, std::move(name), std::move(component), exportBase),
          BytesPerSector(bytesPerSector), IgnoresCase(ignoresCase) {}
    bool IsDirectory() const override { return true; }
    std::u16string GetPath() const override;

    const std::uint32_t BytesPerSector;
    // Whether the file system takes the names in this folder ignoring case; the table then
    // matches them so too.
    const bool IgnoresCase;

  private:
    friend class TObjectHandles;
    std::unordered_set<TObjectHandle*> children_;
};

class TObjectHandles {
  public:
    // `root` and `listFolder` are UTF-16 folders; "/" becomes "\" and one trailing separator is
    // removed from the root. `firstId` seeds the identifiers (random per daemon, so handles of an
    // earlier daemon come back as stale). ErrorText() is set when the root is no folder.
    TObjectHandles(std::u16string_view root, std::u16string_view listFolder, std::uint32_t firstId);
    ~TObjectHandles();
    TObjectHandles(const TObjectHandles&) = delete;
    TObjectHandles& operator=(const TObjectHandles&) = delete;

    const std::string& ErrorText() const { return errorText_; }
    const std::u16string& RootPath() const { return rootPath_; }
    const std::u16string& ListFolder() const { return listFolder_; }

    // Finds the entry for (parent, name), or creates it when the object exists. A name without
    // parent is an export path ("/..." below the root, "/lst..." below the list folder).
    // nullptr when nothing is there, when the name leads outside the export, or when the
    // volume of a directory cannot be read.
    TObjectHandle* GetHandle(TDirHandle* parent, std::u16string_view name);
    // Position of the entry for (parent, name), or -1. Names compare as the file system holding
    // them does: ignoring case on Windows and on case-folding volumes, exactly elsewhere.
    std::int64_t FindHandle(TDirHandle* parent, std::u16string_view name) const;
    // Whether names in the entry's folder (a directory's own, a file's parent's) ignore case.
    bool IgnoresCase(const TObjectHandle& entry) const;
    // Position of the live entry with this identifier, or -1.
    std::int64_t IndexOf(std::uint32_t id) const;
    TObjectHandle* Find(std::uint32_t id) const;
    TObjectHandle* Items(std::size_t position) const { return entries_[position].get(); }
    std::size_t Count() const { return entries_.size(); }

    // Removes the entry (closing its write file) and every entry found through it.
    void DeleteHandle(std::size_t position);
    // True when the entry's object is gone from the disk: nothing is at its path any more, or an
    // object of the other kind (a file replaced by a folder of the same name, or the reverse).
    // The entry is then deleted with whatever was found through it, so that its handle answers
    // NFS3ERR_STALE and the name can be looked up afresh. Call it after an open or attribute
    // query of the entry failed; it makes its own platform calls.
    bool ForgetIfGone(TObjectHandle& entry);
    void CloseFile(TFileHandle& entry);
    void Clear();

    // Whether `name` looked up in `parent` (or, without parent, as an export path) resolves,
    // after "." and ".." and separators inside it, to a place outside its export.
    bool EscapesExport(const TDirHandle* parent, std::u16string_view name) const;
    // A name of one object in a folder: not empty, no zero character and no separator. The
    // paths are Win32-flavoured on both platforms, so "\" separates on Linux too.
    static bool IsOneName(std::u16string_view name);
    // Whether the folder at `path` is an exported folder (the root folder or the list folder)
    // or holds one, compared by the file system's identity of the folders (so that no spelling
    // of the path, in another case or through "." and "..", gets past).
    bool IsExportedFolder(std::u16string_view path) const;

    // Attributes of the entry's object (opened by path); false with the platform error set.
    bool GetAttributes(const TObjectHandle* entry, nfs::Fattr3& out) const;
    // Attributes from an open file of the entry.
    bool ReadAttributes(const TObjectHandle& entry, const platform::File& file,
                        nfs::Fattr3& out) const;
    // Attributes from values already known (a directory search record).
    void FillAttributes(const TObjectHandle& entry, const platform::FileRecord& record,
                        nfs::Fattr3& out) const;

    // Before a REMOVE, RMDIR or RENAME of the object at `path` (a folder's path and a name):
    // closes the write files of the entries whose objects lie at `path` or below it, so that
    // the server's own open files never stand in the way of the change (Windows refuses to move
    // a folder that holds an open file). True when the entry `slotId` lies there too.
    bool CloseFilesAtOrBelow(std::u16string_view path, bool ignoreCase, std::uint32_t slotId);
    // Whether `entry` lies below the list folder, by whichever export it was reached (the root
    // may hold the list folder). The extension replaces those files on every hand-off.
    bool IsBelowListFolder(const TObjectHandle& entry) const;

    // The idle sweep: closes write files whose last use is more than `idleMs` old.
    void CloseIdleFiles(std::uint32_t nowMs, std::uint32_t idleMs);

  private:
    struct NameKey {
        const TDirHandle* parent;
        std::u16string upperName;
        bool operator==(const NameKey&) const = default;
    };
    struct NameKeyHash {
        std::size_t operator()(const NameKey& key) const;
    };

    struct DirectoryTime {
        std::uint32_t key; // of the change watch
        std::uint64_t newest;
    };
    struct IdentityHash {
        std::size_t operator()(const platform::FileIdentity& identity) const {
            return std::hash<std::uint64_t>()(identity.index * 0x9E3779B97F4A7C15u ^
                                              identity.volume);
        }
    };

    // The newest entry time of the directory at the path (which names `identity`), from the
    // cache when the watch saw no change since it was searched.
    bool CachedNewestEntryTime(const std::u16string& directoryPath,
                               const platform::FileIdentity& identity, std::uint64_t& newest) const;
    void ForgetChangedDirectories() const;
    std::u16string KeyText(const TDirHandle* parent, std::u16string_view name) const;
    std::uint32_t NextId();
    TObjectHandle* Append(std::unique_ptr<TObjectHandle> entry);
    void CollectSubtree(TObjectHandle* entry, std::vector<TObjectHandle*>& out) const;

    std::u16string rootPath_;
    std::u16string listFolder_;
    bool rootIgnoresCase_ = true;
    bool listIgnoresCase_ = true;
    // The exported folders and the folders above them, as the file system identifies them.
    std::vector<platform::FileIdentity> exportedFolders_;
    std::string errorText_;
    std::vector<std::unique_ptr<TObjectHandle>> entries_;
    std::unordered_map<std::uint32_t, TObjectHandle*> byId_;
    std::unordered_map<NameKey, TObjectHandle*, NameKeyHash> byName_;
    std::uint32_t nextId_;
    // A count of the entries ever made, not the disk's file index: FAT and exFAT volumes (and
    // some network drives) renumber files as their folders change, Linux reuses inode numbers
    // at once, and folders mounted below the export would repeat numbers under the one fsid.
    // Only a number kept with the entry stays what the client saw for as long as its handle.
    std::uint64_t lastFileId_ = 0;
    // Directory times: a cache that never answers differently from a fresh search.
    mutable platform::DirectoryWatch watch_;
    mutable std::unordered_map<platform::FileIdentity, DirectoryTime, IdentityHash> directoryTimes_;
    mutable std::unordered_map<std::uint32_t, platform::FileIdentity> timeOfKey_;
    mutable std::vector<std::uint32_t> changedKeys_;
};

} // namespace server
