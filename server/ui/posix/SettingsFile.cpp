// Reading and writing the Linux daemon's settings file.
#include "server/ui/posix/SettingsFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"

namespace posixui {
namespace {

std::string Trim(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    const std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

std::string SettingsFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "/tmp") + "/.config";
    }
    return base + "/lumavert/server.conf";
}

ServerSettings DefaultSettings() {
    ServerSettings settings;
    std::u16string documents;
    if (!platform::DocumentsFolder(false, documents) && !platform::CurrentDirectory(documents))
        documents = u".";
    settings.root = platform::Utf16ToUtf8(documents) + "/Lumavert";
    return settings;
}

bool LoadSettings(const std::string& path, ServerSettings& settings, std::string& error) {
    settings = DefaultSettings();
    std::ifstream in(path);
    if (!in) {
        if (errno != ENOENT) {
            error = "Can't read " + path + ": " + std::strerror(errno);
            return false;
        }
        return SaveSettings(path, settings, error);
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            error = path + ":" + std::to_string(number) + ": expected Key=Value";
            return false;
        }
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        if (key == "Root") {
            if (!value.empty())
                settings.root = value;
        } else if (key == "Host") {
            settings.host = value;
        } else if (key == "CodePage") {
            char* end = nullptr;
            const unsigned long codePage = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || codePage > 0xFFFFFFFFul) {
                error = "Invalid data type for 'CodePage'";
                return false;
            }
            settings.codePage = static_cast<std::uint32_t>(codePage);
        }
    }
    return true;
}

bool SaveSettings(const std::string& path, const ServerSettings& settings, std::string& error) {
    if (!MakeFolders(path)) {
        error = "Can't create the folder of " + path;
        return false;
    }
    // Write a new file and move it over the old one, so a crash never leaves half a file.
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "# Lumavert server settings. Send SIGHUP to the server after a change.\n"
            << "# Root: the folder exported over NFS.\n"
            << "Root=" << settings.root << "\n"
            << "# Host: allowed client addresses or names separated by spaces; empty: all.\n"
            << "Host=" << settings.host << "\n"
            << "# CodePage: Windows code page of file names on the wire (65001 = UTF-8).\n"
            << "CodePage=" << settings.codePage << "\n";
        out.flush();
        if (!out) {
            error = "Failed to set data for '" + path + "'";
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "Failed to set data for '" + path + "'";
        return false;
    }
    return true;
}

} // namespace posixui
