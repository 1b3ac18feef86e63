// Reading and writing the Linux daemon's settings file.
#include "server/ui/posix/SettingsFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

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
        const std::u16string part = platform::Utf8ToUtf16(path.substr(0, slash));
        std::uint32_t attributes = 0;
        if (!platform::GetFileAttributes(part, attributes) && !platform::CreateDirectory(part))
            return false;
    }
    return true;
}

// The whole file, or false when it cannot be opened (with the platform's error left).
bool ReadWholeFile(const std::u16string& path, std::string& text) {
    platform::OpenOptions options;
    options.access = platform::FileAccess::Read;
    platform::File file = platform::File::Open(path, options);
    if (!file.IsOpen())
        return false;
    text.clear();
    char chunk[4096];
    std::uint32_t got = 0;
    while (file.ReadAt(text.size(), chunk, sizeof chunk, got) && got > 0)
        text.append(chunk, got);
    return true;
}

bool WriteNewFile(const std::u16string& path, const std::string& text) {
    platform::DeleteFile(path);
    platform::OpenOptions options;
    options.access = platform::FileAccess::Write;
    options.share = platform::FileShare::None;
    options.disposition = platform::FileDisposition::CreateNew;
    platform::File file = platform::File::Open(path, options);
    std::uint32_t written = 0;
    return file.IsOpen() &&
           file.WriteAt(0, text.data(), static_cast<std::uint32_t>(text.size()), written) &&
           written == text.size() && file.Flush();
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
    std::string text;
    if (!ReadWholeFile(platform::Utf8ToUtf16(path), text)) {
        const std::uint32_t code = platform::LastFileError();
        if (code != platform::kErrorFileNotFound && code != platform::kErrorPathNotFound) {
            // The errno text, from a second try: the file layer keeps Win32 codes only.
            std::FILE* again = std::fopen(path.c_str(), "r");
            error = "Can't read " + path + ": " +
                    (again == nullptr ? std::strerror(errno) : "error " + std::to_string(code));
            if (again != nullptr)
                std::fclose(again);
            return false;
        }
        return SaveSettings(path, settings, error);
    }
    std::istringstream in(text);
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
    std::ostringstream out;
    out << "# Lumavert server settings. Send SIGHUP to the server after a change.\n"
        << "# Root: the folder exported over NFS.\n"
        << "Root=" << settings.root << "\n"
        << "# Host: allowed client addresses or names separated by spaces; empty: all.\n"
        << "Host=" << settings.host << "\n"
        << "# CodePage: Windows code page of file names on the wire (65001 = UTF-8).\n"
        << "CodePage=" << settings.codePage << "\n";
    const std::u16string target = platform::Utf8ToUtf16(path);
    const std::u16string temporary = target + u".new";
    if (!WriteNewFile(temporary, out.str()) || !platform::ReplaceFile(temporary, target)) {
        platform::DeleteFile(temporary);
        error = "Failed to set data for '" + path + "'";
        return false;
    }
    return true;
}

} // namespace posixui
