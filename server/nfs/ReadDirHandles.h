// Directory readings: snapshots of a directory's search records that READDIR and READDIRPLUS
// walk with cookies. A reading's identity is the cookie verifier of its listings.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "common/platform/FileSystem.h"

namespace server {

class TDirHandle;

struct TReadDirReading {
    std::uint32_t directoryId = 0; // identity of the TDirHandle; compared, never followed
    std::uint32_t identity = 0;    // nonzero; low 32 bits of the cookie verifier
    std::vector<platform::FindRecord> files;
};

class TReadDirHandles {
public:
    explicit TReadDirHandles(std::uint32_t firstIdentity);

    // Takes a fresh snapshot of `directory` (searched at `directoryPath` + "*.*"), replacing the
    // snapshot of an earlier reading of the same entry. nullptr with the platform error when the
    // search cannot start.
    TReadDirReading* StartReading(std::uint32_t directoryId, std::u16string_view directoryPath);
    TReadDirReading* FindByIdentity(std::uint32_t identity);
    void Clear();

private:
    std::uint32_t nextIdentity_;
    std::unordered_map<std::uint32_t, std::unique_ptr<TReadDirReading>> byDirectory_;
    std::unordered_map<std::uint32_t, TReadDirReading*> byIdentity_;
};

} // namespace server
