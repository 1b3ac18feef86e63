// The server slot and the settings it runs with: start, stop, reload from the settings store and
// the settings written by "Ok", with set-up failures shown in the server's error box.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/Settings.h"

namespace server {
class TDaemon;
}

namespace serverui {

// The host list as the daemon takes it: split at every single space (empty pieces included).
std::vector<std::string> SplitHosts(std::u16string_view hostText);

// The error box text: a full stop is appended when the last character's code is above '.'.
std::u16string ErrorBoxText(std::u16string_view text);
// Modal box titled "Lumavert Server" with the stop icon and one OK button.
void ShowServerError(std::u16string_view text);

bool IsExistingFolder(const std::u16string& path);

class TServerControl {
  public:
    // `settingsLocation`: the store's key path (tests use their own).
    explicit TServerControl(std::u16string listFolder,
                            std::u16string settingsLocation = platform::SettingsLocation());
    ~TServerControl();
    TServerControl(const TServerControl&) = delete;
    TServerControl& operator=(const TServerControl&) = delete;

    const platform::ServerSettings& Settings() const { return settings_; }
    const std::u16string& ListFolder() const { return listFolder_; }
    bool IsRunning() const { return daemon_ != nullptr; }

    // Defaults, then the store opened read-only. False with `error` on a value of the wrong type
    // (the server is then not started by this pass).
    bool LoadAtStart(std::u16string& error);

    // Starts the daemon on the current settings unless one runs. A set-up failure leaves the slot
    // empty and comes back in `error`.
    bool StartServer(std::u16string& error);
    // Stops the daemon, waits for its thread and releases it.
    void StopServer();

    // Re-reads the store (creating the key), always stops the daemon and starts it again on what
    // was read. A value of the wrong type leaves the server stopped. A key that cannot be opened
    // counts as no change.
    bool ReloadSettings(std::u16string& error);

    // "Ok": writes each setting that differs from the current one (Root only when it names an
    // existing folder; an empty Host and code page 0 delete their values), then restarts the
    // daemon. Nothing is written when the key cannot be opened.
    bool ApplySettings(const platform::ServerSettings& edited, std::u16string& error);

  private:
    std::u16string listFolder_;
    std::u16string settingsLocation_;
    platform::ServerSettings settings_;
    std::unique_ptr<server::TDaemon> daemon_;
};

} // namespace serverui
