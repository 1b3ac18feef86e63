// Directory readings: snapshots of a directory's search records that READDIR and READDIRPLUS
// walk with cookies. A reading's identity is the cookie verifier of its listings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/platform/DirectoryWatch.h"
#include "common/platform/FileSystem.h"

namespace server {

class TDirHandle;

struct TReadDirReading {
    std::uint32_t directoryId = 0; // identity of the TDirHandle; compared, never followed
    std::uint32_t identity = 0;    // nonzero; low 32 bits of the cookie verifier
    std::vector<platform::FindRecord> files;
    // While the change watch key is set, a fresh search of `folder` would yield `files` again.
    std::uint32_t watchKey = 0;
    platform::FileIdentity folder;
    // Filled as listings go, emptied with `files`: each name in the daemon's code page, and the
    // handle-table identifier that the name had in directory `handlesDirectory` (0: not known,
    // kEscapesExport: listed bare), so that later pages and listings skip the name lookups.
    std::vector<std::string> wireNames;
    std::vector<std::uint64_t> handleIds;
    std::uint32_t handlesDirectory = 0;
    static constexpr std::uint64_t kEscapesExport = std::uint64_t{1} << 32;
};

class TReadDirHandles {
  public:
    explicit TReadDirHandles(std::uint32_t firstIdentity);

    // Takes a fresh snapshot of `directory` (searched at `directoryPath` + "*.*"), replacing the
    // snapshot of an earlier reading of the same entry. nullptr with the platform error when the
    // search cannot start. When the platform's change watch vouches that a new search would
    // yield the earlier snapshot unchanged, that snapshot is kept instead of searching again.
    TReadDirReading* StartReading(std::uint32_t directoryId, std::u16string_view directoryPath);
    TReadDirReading* FindByIdentity(std::uint32_t identity);
    void Clear();

  private:
    void ForgetChangedSnapshots();

    std::uint32_t nextIdentity_;
    platform::DirectoryWatch watch_;
    std::unordered_map<std::uint32_t, TReadDirReading*> byWatchKey_;
    std::vector<std::uint32_t> changedKeys_;
    std::unordered_map<std::uint32_t, std::unique_ptr<TReadDirReading>> byDirectory_;
    std::unordered_map<std::uint32_t, TReadDirReading*> byIdentity_;
};

} // namespace server
