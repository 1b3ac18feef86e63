// The Linux daemon's settings: Root, Host and CodePage in a small "Key=Value" file.
#pragma once

#include <cstdint>
#include <string>

namespace posixui {

struct ServerSettings {
    std::string root;
    std::string host;
    std::uint32_t codePage = 65001;
};

// $XDG_CONFIG_HOME/lumavert/server.conf (or ~/.config/lumavert/server.conf).
std::string SettingsFilePath();

// The defaults: Root is the Documents folder + "/Lumavert", every host, UTF-8 names.
ServerSettings DefaultSettings();

// Reads the file; a missing file is created with the defaults. Unknown keys are ignored.
// False with `error` set when the file exists but cannot be read or holds a bad value.
bool LoadSettings(const std::string& path, ServerSettings& settings, std::string& error);
bool SaveSettings(const std::string& path, const ServerSettings& settings, std::string& error);

} // namespace posixui
