// The server slot and the settings it runs with: start, stop, reload from the registry and the
// settings written by "Ok", with set-up failures shown in the server's error box.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/ui/win32/SettingsStore.h"

namespace server {
class TDaemon;
}

namespace serverui {

// Defaults: Documents\Lumavert, every host, the system's ANSI code page.
TServerSettings DefaultSettings();

// The host list as the daemon takes it: split at every single space (empty pieces included).
std::vector<std::string> SplitHosts(std::wstring_view hostText);

// The error box text: a full stop is appended when the last character's code is above '.'.
std::wstring ErrorBoxText(std::wstring_view text);
// Modal box titled "Lumavert Server" with the stop icon and one OK button.
void ShowServerError(std::wstring_view text);

class TServerControl {
  public:
    explicit TServerControl(std::wstring listFolder, std::wstring keyPath = kSettingsKeyPath);
    ~TServerControl();
    TServerControl(const TServerControl&) = delete;
    TServerControl& operator=(const TServerControl&) = delete;

    const TServerSettings& Settings() const { return settings_; }
    const std::wstring& ListFolder() const { return listFolder_; }
    bool IsRunning() const { return daemon_ != nullptr; }

    // Defaults, then the registry opened read-only. False with `error` on a value of the wrong
    // type (the server is then not started by this pass).
    bool LoadAtStart(std::wstring& error);

    // Starts the daemon on the current settings unless one runs. A set-up failure leaves the slot
    // empty and comes back in `error`.
    bool StartServer(std::wstring& error);
    // Stops the daemon, waits for its thread and releases it.
    void StopServer();

    // Re-reads the registry (creating the key), always stops the daemon and starts it again on
    // what was read. A value of the wrong type leaves the server stopped. A key that cannot be
    // opened counts as no change.
    bool ReloadSettings(std::wstring& error);

    // "Ok": writes each setting that differs from the current one (Root only when it names an
    // existing folder; an empty Host and code page 0 delete their values), then restarts the
    // daemon. Nothing is written when the key cannot be opened.
    bool ApplySettings(const TServerSettings& edited, std::wstring& error);

  private:
    std::wstring listFolder_;
    std::wstring keyPath_;
    TServerSettings settings_;
    std::unique_ptr<server::TDaemon> daemon_;
};

} // namespace serverui
