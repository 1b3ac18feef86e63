// TRegistryKey: an open registry key with the typed reads and writes the programs need. Texts go
// through the UTF-16 functions only, so names outside the ANSI code page survive.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/win32/Handle.h"

namespace win32 {

enum class TRegistryRead {
    kFound,
    kMissing,   // no such value (or no key open)
    kWrongType, // the value exists with another type
    kFailed,    // the query itself failed
};

class TRegistryKey {
  public:
    TRegistryKey() = default;
    TRegistryKey(TRegistryKey&&) noexcept = default;
    TRegistryKey& operator=(TRegistryKey&&) noexcept = default;

    // Opens an existing key below `parent`.
    bool Open(const wchar_t* path, REGSAM access, HKEY parent = HKEY_CURRENT_USER);
    // Opens the key below `parent`, creating it (and the keys above it) when missing.
    bool Create(const wchar_t* path, REGSAM access, HKEY parent = HKEY_CURRENT_USER);
    bool IsOpen() const { return key_.IsValid(); }
    HKEY Get() const { return key_.Get(); }
    void Close() { key_.Reset(); }

    // REG_SZ or REG_EXPAND_SZ (taken as it is, not expanded), up to its first zero: a writer that
    // left out the terminator or stored something after it reads the same.
    TRegistryRead ReadString(const wchar_t* name, std::wstring& value) const;
    // REG_DWORD only.
    TRegistryRead ReadNumber(const wchar_t* name, std::uint32_t& value) const;

    // REG_SZ, stored with its terminating zero.
    bool WriteString(const wchar_t* name, std::wstring_view value);
    bool WriteNumber(const wchar_t* name, std::uint32_t value);
    // A value that is already gone counts as deleted.
    bool DeleteValue(const wchar_t* name);

  private:
    TKeyHandle key_;
};

} // namespace win32
