// The handle table: creation of entries from names, paths of entries, identifiers, deletion.
#include "server/nfs/ObjectHandles.h"

#include <algorithm>

#include "common/platform/CodePage.h"

namespace server {
namespace {

constexpr std::u16string_view kListPrefix = u"/lst";

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

std::u16string WithBackslashes(std::u16string_view text) {
    std::u16string out(text);
    std::replace(out.begin(), out.end(), u'/', u'\\');
    return out;
}

// Calls `visit` with every component of a path ("." and ".." included, empty ones skipped)
// until it answers false; false when it did.
template <typename Visit> bool ForEachComponent(std::u16string_view path, Visit visit) {
    std::size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && IsSeparator(path[i]))
            ++i;
        std::size_t end = i;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        if (end > i && !visit(path.substr(i, end - i)))
            return false;
        i = end;
    }
    return true;
}

// Depth change of a relative name after "." and ".." are applied; false when it climbs above
// its starting point at any moment.
bool StaysBelow(std::u16string_view name, int startDepth) {
    int depth = startDepth;
    return ForEachComponent(name, [&depth](std::u16string_view part) {
        if (part == u"..")
            return --depth >= 0;
        if (part != u".")
            ++depth;
        return true;
    });
}

// Depth of an entry below its export base, counting the components of the names on its way.
int DepthBelowBase(const TObjectHandle* entry, std::u16string_view base) {
    if (entry == nullptr)
        return 0;
    std::u16string_view own = entry->Component();
    if (entry->Parent() == nullptr)
        own = own.substr(std::min(own.size(), base.size()));
    int depth = DepthBelowBase(entry->Parent(), base);
    ForEachComponent(own, [&depth](std::u16string_view part) {
        if (part == u"..")
            --depth;
        else if (part != u".")
            ++depth;
        return true;
    });
    return depth;
}

// A path spelled one way: single "\\" separators, no trailing one, "." and ".." applied, and
// upper case where the file system ignores case.
std::u16string NormalisedPath(std::u16string_view path, bool ignoreCase) {
    std::vector<std::u16string_view> parts;
    ForEachComponent(path, [&parts](std::u16string_view part) {
        if (part == u"..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (part != u".") {
            parts.push_back(part);
        }
        return true;
    });
    // A leading separator (a POSIX root, a UNC name) stays.
    std::u16string out = !path.empty() && IsSeparator(path[0]) ? u"\\" : u"";
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (k != 0)
            out += u'\\';
        out += parts[k];
    }
    return ignoreCase ? platform::UpperCase(out) : out;
}

bool IsAtOrBelow(std::u16string_view path, std::u16string_view top) {
    return path.substr(0, top.size()) == top &&
           (path.size() == top.size() || path[top.size()] == u'\\');
}

} // namespace

void TObjectHandle::AppendPath(std::u16string& path) const {
    if (parent_ != nullptr)
        path = parent_->GetPath();
    path += component_;
    if (IsDirectory())
        path += u'\\';
}

std::u16string TObjectHandle::GetPath() const {
    std::u16string path;
    AppendPath(path);
    return path;
}

std::u16string TDirHandle::GetPath() const {
    std::u16string path;
    AppendPath(path);
    path += u'\\';
    return path;
}

// The text of a name's index key: the name as it is, or upper-cased where the file system
// ignores case. An export path's "/lst" prefix selects the list folder only when written exactly
// so: "/LST" after "/lst" must find the root's folder LST, not the list folder.
std::u16string TObjectHandles::KeyText(const TDirHandle* parent, std::u16string_view name) const {
    if (parent != nullptr)
        return parent->IgnoresCase ? platform::UpperCase(name) : std::u16string(name);
    if (name.substr(0, kListPrefix.size()) == kListPrefix) {
        const std::u16string_view rest = name.substr(kListPrefix.size());
        return std::u16string(kListPrefix) +
               (listIgnoresCase_ ? platform::UpperCase(rest) : std::u16string(rest));
    }
    return rootIgnoresCase_ ? platform::UpperCase(name) : std::u16string(name);
}

bool TObjectHandles::IgnoresCase(const TObjectHandle& entry) const {
    if (entry.IsDirectory())
        return static_cast<const TDirHandle&>(entry).IgnoresCase;
    if (entry.Parent() != nullptr)
        return entry.Parent()->IgnoresCase;
    return &entry.ExportBase() == &listFolder_ ? listIgnoresCase_ : rootIgnoresCase_;
}

std::size_t TObjectHandles::NameKeyHash::operator()(const NameKey& key) const {
    return std::hash<std::u16string>()(key.upperName) ^ (std::hash<const void*>()(key.parent) * 31);
}

TObjectHandles::TObjectHandles(std::u16string_view root, std::u16string_view listFolder,
                               std::uint32_t firstId)
    : rootPath_(WithBackslashes(root)), listFolder_(WithBackslashes(listFolder)), nextId_(firstId) {
    if (!rootPath_.empty() && rootPath_.back() == u'\\')
        rootPath_.pop_back();
    if (!listFolder_.empty() && listFolder_.back() != u'\\')
        listFolder_ += u'\\';
    std::uint32_t attributes = 0;
    if (!platform::GetPathAttributes(rootPath_, attributes) ||
        (attributes & platform::kAttributeDirectory) == 0)
        errorText_ = "Can't open folder \"" + platform::Utf16ToUtf8(rootPath_) + "\"";
    rootIgnoresCase_ = platform::FolderIgnoresCase(rootPath_);
    listIgnoresCase_ = platform::FolderIgnoresCase(listFolder_);
    for (const std::u16string& folder : {rootPath_, listFolder_}) {
        std::u16string path = folder;
        for (;;) {
            while (!path.empty() && IsSeparator(path.back()))
                path.pop_back();
            platform::FileRecord record;
            platform::FileIdentity identity;
            // A file system without file indexes (0) cannot tell its folders apart this way.
            if (platform::GetPathInformation(path + u'\\', true, record, &identity) &&
                identity.index != 0)
                exportedFolders_.push_back(identity);
            const std::size_t separator = path.find_last_of(u"\\/");
            if (separator == std::u16string::npos || path.back() == u':')
                break;
            path.resize(separator);
        }
    }
}

TObjectHandles::~TObjectHandles() {
    Clear();
}

std::uint32_t TObjectHandles::NextId() {
    for (;;) {
        const std::uint32_t id = nextId_++;
        if (id != 0 && byId_.find(id) == byId_.end())
            return id;
    }
}

TObjectHandle* TObjectHandles::Append(std::unique_ptr<TObjectHandle> entry) {
    TObjectHandle* raw = entry.get();
    raw->id_ = NextId();
    raw->fileId_ = ++lastFileId_;
    raw->position_ = entries_.size();
    entries_.push_back(std::move(entry));
    byId_.emplace(raw->id_, raw);
    byName_.emplace(NameKey{raw->parent_, KeyText(raw->parent_, raw->name_)}, raw);
    if (raw->parent_ != nullptr)
        raw->parent_->children_.insert(raw);
    return raw;
}

std::int64_t TObjectHandles::FindHandle(TDirHandle* parent, std::u16string_view name) const {
    const auto it = byName_.find(NameKey{parent, KeyText(parent, name)});
    return it == byName_.end() ? -1 : static_cast<std::int64_t>(it->second->position_);
}

std::int64_t TObjectHandles::IndexOf(std::uint32_t id) const {
    const TObjectHandle* entry = Find(id);
    return entry == nullptr ? -1 : static_cast<std::int64_t>(entry->position_);
}

TObjectHandle* TObjectHandles::Find(std::uint32_t id) const {
    const auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
}

bool TObjectHandles::EscapesExport(const TDirHandle* parent, std::u16string_view name) const {
    if (parent == nullptr) {
        const bool inList = name.substr(0, kListPrefix.size()) == kListPrefix;
        return !StaysBelow(inList ? name.substr(kListPrefix.size()) : name, 0);
    }
    return !StaysBelow(name, DepthBelowBase(parent, parent->ExportBase()));
}

bool TObjectHandles::IsOneName(std::u16string_view name) {
    return !name.empty() &&
           name.find_first_of(std::u16string_view(u"\0/\\", 3)) == std::u16string_view::npos;
}

bool TObjectHandles::IsExportedFolder(std::u16string_view path) const {
    platform::FileRecord record;
    platform::FileIdentity identity;
    if (!platform::GetPathInformation(path, true, record, &identity) || identity.index == 0 ||
        (record.attributes & platform::kAttributeDirectory) == 0)
        return false;
    return std::find(exportedFolders_.begin(), exportedFolders_.end(), identity) !=
           exportedFolders_.end();
}

TObjectHandle* TObjectHandles::GetHandle(TDirHandle* parent, std::u16string_view name) {
    // Below a parent a name is one name; an export path (no parent) is a path.
    if (name.empty() || (parent != nullptr && !IsOneName(name)))
        return nullptr;
    const std::u16string* base = parent != nullptr ? &parent->ExportBase() : &rootPath_;
    std::u16string_view rest = name;
    if (parent == nullptr && name.substr(0, kListPrefix.size()) == kListPrefix) {
        base = &listFolder_;
        rest = name.substr(kListPrefix.size());
    }
    std::u16string piece =
        parent != nullptr ? WithBackslashes(name) : *base + WithBackslashes(rest);
    if (piece.empty())
        return nullptr;

    const std::int64_t found = FindHandle(parent, name);
    if (found >= 0)
        return entries_[static_cast<std::size_t>(found)].get();
    if (EscapesExport(parent, name))
        return nullptr;

    const std::u16string path = parent != nullptr ? parent->GetPath() + piece : piece;
    std::uint32_t attributes = 0;
    if (!platform::GetPathAttributes(path, attributes))
        return nullptr;
    if ((attributes & platform::kAttributeDirectory) != 0) {
        std::uint32_t bytesPerSector = 0;
        if (!platform::GetVolumeBytesPerSector(path, bytesPerSector) || bytesPerSector == 0)
            return nullptr;
        return Append(std::make_unique<TDirHandle>(parent, std::u16string(name), std::move(piece),
                                                   base, bytesPerSector,
                                                   platform::FolderIgnoresCase(path)));
    }
    return Append(
        std::make_unique<TFileHandle>(parent, std::u16string(name), std::move(piece), base));
}

void TObjectHandles::CollectSubtree(TObjectHandle* entry, std::vector<TObjectHandle*>& out) const {
    out.push_back(entry);
    if (!entry->IsDirectory())
        return;
    for (TObjectHandle* child : static_cast<TDirHandle*>(entry)->children_)
        CollectSubtree(child, out);
}

void TObjectHandles::DeleteHandle(std::size_t position) {
    if (position >= entries_.size())
        return;
    // Entries found through a deleted directory go with it: they could never reach it again.
    std::vector<TObjectHandle*> doomed;
    CollectSubtree(entries_[position].get(), doomed);
    std::size_t first = position;
    for (TObjectHandle* entry : doomed) {
        first = std::min(first, entry->position_);
        if (!entry->IsDirectory())
            CloseFile(*static_cast<TFileHandle*>(entry));
        byId_.erase(entry->id_);
        byName_.erase(NameKey{entry->parent_, KeyText(entry->parent_, entry->name_)});
        if (entry->parent_ != nullptr)
            entry->parent_->children_.erase(entry);
        entry->id_ = 0; // marks it for removal below
    }
    std::erase_if(entries_,
                  [](const std::unique_ptr<TObjectHandle>& entry) { return entry->id_ == 0; });
    for (std::size_t i = first; i < entries_.size(); ++i)
        entries_[i]->position_ = i;
}

bool TObjectHandles::ForgetIfGone(TObjectHandle& entry) {
    // Without a folder's closing separators, which a file at that path would refuse.
    std::u16string path = entry.GetPath();
    while (entry.IsDirectory() && !path.empty() && path.back() == u'\\')
        path.pop_back();
    std::uint32_t attributes = 0;
    if (platform::GetPathAttributes(path, attributes)) {
        if (((attributes & platform::kAttributeDirectory) != 0) == entry.IsDirectory())
            return false;
    } else {
        // Only a missing object (or folder on the way) is gone; access denied and the like
        // are the object's own answer.
        const std::uint32_t error = platform::LastFileError();
        if (error != platform::kErrorFileNotFound && error != platform::kErrorPathNotFound)
            return false;
    }
    DeleteHandle(entry.Position());
    return true;
}

void TObjectHandles::CloseFile(TFileHandle& entry) {
    if (!entry.FileHandle.IsOpen())
        return;
    entry.FileHandle.Close();
    entry.LastUse = 0;
}

void TObjectHandles::Clear() {
    for (auto& entry : entries_) {
        if (!entry->IsDirectory())
            CloseFile(*static_cast<TFileHandle*>(entry.get()));
    }
    byName_.clear();
    byId_.clear();
    entries_.clear();
}

bool TObjectHandles::CloseFilesAtOrBelow(std::u16string_view path, bool ignoreCase,
                                         std::uint32_t slotId) {
    const std::u16string top = NormalisedPath(path, ignoreCase);
    for (auto& entry : entries_) {
        if (entry->IsDirectory())
            continue;
        auto& file = *static_cast<TFileHandle*>(entry.get());
        if (file.FileHandle.IsOpen() &&
            IsAtOrBelow(NormalisedPath(file.GetPath(), ignoreCase), top))
            CloseFile(file);
    }
    const TObjectHandle* slot = slotId != 0 ? Find(slotId) : nullptr;
    return slot != nullptr && IsAtOrBelow(NormalisedPath(slot->GetPath(), ignoreCase), top);
}

bool TObjectHandles::IsBelowListFolder(const TObjectHandle& entry) const {
    if (listFolder_.empty())
        return false;
    return IsAtOrBelow(NormalisedPath(entry.GetPath(), listIgnoresCase_),
                       NormalisedPath(listFolder_, listIgnoresCase_));
}

void TObjectHandles::CloseIdleFiles(std::uint32_t nowMs, std::uint32_t idleMs) {
    for (auto& entry : entries_) {
        if (entry->IsDirectory())
            continue;
        auto& file = *static_cast<TFileHandle*>(entry.get());
        if (file.FileHandle.IsOpen() && nowMs - file.LastUse > idleMs)
            CloseFile(file);
    }
}

} // namespace server
