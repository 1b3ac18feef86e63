// The server's three settings in the registry key HKCU\SOFTWARE\Lumavert: Root (string, read as
// UTF-16), Host (string) and CodePage (32-bit number).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace serverui {

inline constexpr wchar_t kSettingsKeyPath[] = L"SOFTWARE\\Lumavert";

struct TServerSettings {
    std::wstring root;
    std::wstring host; // allowed hosts separated by single spaces; empty allows every host
    std::uint32_t codePage = 0;
};

// Move-only owner of an open registry key.
class TRegistryKey {
  public:
    TRegistryKey() = default;
    ~TRegistryKey() { Close(); }
    TRegistryKey(TRegistryKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    TRegistryKey& operator=(TRegistryKey&& other) noexcept;
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;

    // Opens `path` under HKEY_CURRENT_USER; with `create` the key is made when missing.
    bool Open(const std::wstring& path, REGSAM access, bool create);
    bool IsOpen() const { return key_ != nullptr; }
    HKEY Get() const { return key_; }
    void Close();

  private:
    HKEY key_ = nullptr;
};

// Reads and writes the settings in one key. Failures come back as the texts the user sees.
class TSettingsStore {
  public:
    explicit TSettingsStore(std::wstring keyPath = kSettingsKeyPath)
        : keyPath_(std::move(keyPath)) {}

    // Read-only, never creating the key (at start).
    bool OpenForReading();
    // Full access, creating the key when missing (on "Ok" and on reload).
    bool OpenForWriting();
    void Close() { key_.Close(); }

    // Replaces the fields whose values exist: an empty Root counts as missing. Stops at the first
    // value of the wrong type or failed query, with "Invalid data type for 'Name'" or
    // "Failed to get data for 'Name'" in `error`.
    bool Read(TServerSettings& settings, std::wstring& error) const;

    // Each failure gives "Failed to set data for 'Name'".
    bool WriteRoot(const std::wstring& root, std::wstring& error);
    // An empty host list deletes the value.
    bool WriteHost(const std::wstring& host, std::wstring& error);
    // Code page 0 deletes the value.
    bool WriteCodePage(std::uint32_t codePage, std::wstring& error);

  private:
    enum class ReadStatus { Missing, Found, Failed };
    ReadStatus ReadString(const wchar_t* name, std::wstring& value, std::wstring& error) const;
    ReadStatus ReadNumber(const wchar_t* name, std::uint32_t& value, std::wstring& error) const;
    bool WriteString(const wchar_t* name, const std::wstring& value, std::wstring& error);
    bool DeleteValue(const wchar_t* name, std::wstring& error);

    std::wstring keyPath_;
    TRegistryKey key_;
};

} // namespace serverui
