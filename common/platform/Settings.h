// The server's settings store: Root, Host and CodePage in the registry key
// HKEY_CURRENT_USER\SOFTWARE\Lumavert on Windows, in $XDG_CONFIG_HOME/lumavert/server.conf
// ("Key=Value" lines) on POSIX. Server.exe and lumavert-server read and write it, the manager
// writes Root and CodePage. Failures come back as the texts the user sees.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

struct ServerSettings {
    std::u16string root; // the folder exported as "/"
    std::u16string host; // allowed hosts separated by single spaces; empty allows every host
    std::uint32_t codePage = 0;
};

// Documents + "Lumavert" (the current directory in place of a missing Documents folder).
std::u16string DefaultRoot();
// DefaultRoot, every host, the system's ANSI code page.
ServerSettings DefaultServerSettings();

// The user's store: the key path under HKEY_CURRENT_USER, or the settings file's path.
std::u16string SettingsLocation();

// The store's error texts, with the value name (or the file's path) put in by concatenation.
std::u16string InvalidDataTypeText(std::u16string_view name); // "Invalid data type for '...'"
std::u16string GetDataFailedText(std::u16string_view name);   // "Failed to get data for '...'"
std::u16string SetDataFailedText(std::u16string_view name);   // "Failed to set data for '...'"

enum class SettingsAccess {
    kRead,      // never creates the store
    kReadWrite, // creates it when missing (the settings file with the defaults written out)
};

class SettingsStore {
  public:
    // The user's store, or another one (tests): a key path or a file path like SettingsLocation.
    SettingsStore();
    explicit SettingsStore(std::u16string location);
    ~SettingsStore();
    SettingsStore(SettingsStore&&) noexcept;
    SettingsStore& operator=(SettingsStore&&) noexcept;
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::u16string& Location() const { return location_; }

    // What each platform keeps of an open store.
    struct State;

    // False when the store cannot be opened. `error` then says why (the settings file cannot be
    // read or made, or holds a line that is no "Key=Value"), or stays empty when the store is
    // simply missing or the system gives no reason (the registry never does): callers keep their
    // defaults silently in that case.
    bool Open(SettingsAccess access, std::u16string& error);
    bool IsOpen() const;
    void Close();

    // Replaces the fields whose values exist; an empty Root counts as missing. Stops at the first
    // value it cannot take, with InvalidDataTypeText or GetDataFailedText (or the file's own
    // complaint) in `error`.
    bool Read(ServerSettings& settings, std::u16string& error) const;

    // A failure gives SetDataFailedText with the value name (the settings file, rewritten whole
    // on every write, names its path). An empty host deletes Host; code page 0 deletes CodePage,
    // so the default comes back on the next read.
    bool WriteRoot(std::u16string_view root, std::u16string& error);
    bool WriteHost(std::u16string_view host, std::u16string& error);
    bool WriteCodePage(std::uint32_t codePage, std::u16string& error);

  private:
    std::u16string location_;
    std::unique_ptr<State> state_;
};

} // namespace platform
