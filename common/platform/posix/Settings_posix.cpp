// The settings store as a small "Key=Value" file, $XDG_CONFIG_HOME/lumavert/server.conf (or
// ~/.config/lumavert/server.conf). The keys are the registry's value names; a missing file is
// made with the defaults written out, so the user finds every setting in it.
#include "common/platform/Settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <utility>

#include "common/control/SettingsNames.h"
#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"

namespace platform {

// The values as the file holds them (UTF-8 text), absent when the file has no line for them.
struct SettingsStore::State {
    bool open = false;
    std::optional<std::string> root;
    std::optional<std::string> host;
    std::optional<std::string> codePage;
};

namespace {

const std::string kRootKey = Utf16ToUtf8(control::kRootValue);
const std::string kHostKey = Utf16ToUtf8(control::kHostValue);
const std::string kCodePageKey = Utf16ToUtf8(control::kCodePageValue);

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
        const std::u16string part = Utf8ToUtf16(path.substr(0, slash));
        std::uint32_t attributes = 0;
        if (!GetPathAttributes(part, attributes) && !MakeDirectory(part))
            return false;
    }
    return true;
}

// The whole file, or false when it cannot be opened (with the platform's error left).
bool ReadWholeFile(const std::u16string& path, std::string& text) {
    OpenOptions options;
    options.access = FileAccess::Read;
    File file = File::Open(path, options);
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
    RemoveFile(path);
    OpenOptions options;
    options.access = FileAccess::Write;
    options.share = FileShare::None;
    options.disposition = FileDisposition::CreateNew;
    File file = File::Open(path, options);
    std::uint32_t written = 0;
    return file.IsOpen() &&
           file.WriteAt(0, text.data(), static_cast<std::uint32_t>(text.size()), written) &&
           written == text.size() && file.Flush();
}

bool Parse(const std::string& path, const std::string& text, SettingsStore::State& state,
           std::string& error) {
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
        std::string value = Trim(line.substr(equals + 1));
        // Unknown keys are ignored (and dropped by the next write).
        if (key == kRootKey)
            state.root = std::move(value);
        else if (key == kHostKey)
            state.host = std::move(value);
        else if (key == kCodePageKey)
            state.codePage = std::move(value);
    }
    return true;
}

// Writes a new file and moves it over the old one, so a crash never leaves half a file.
bool Save(const std::string& path, const SettingsStore::State& state, std::string& error) {
    if (!MakeFolders(path)) {
        error = "Can't create the folder of " + path;
        return false;
    }
    std::ostringstream out;
    out << "# Lumavert server settings. Send SIGHUP to the server after a change.\n"
        << "# Root: the folder exported over NFS.\n";
    if (state.root)
        out << kRootKey << "=" << *state.root << "\n";
    out << "# Host: allowed client addresses or names separated by spaces; empty: all.\n";
    if (state.host)
        out << kHostKey << "=" << *state.host << "\n";
    out << "# CodePage: Windows code page of file names on the wire (65001 = UTF-8).\n";
    if (state.codePage)
        out << kCodePageKey << "=" << *state.codePage << "\n";
    const std::u16string target = Utf8ToUtf16(path);
    const std::u16string temporary = target + u".new";
    if (!WriteNewFile(temporary, out.str()) || !ReplacePath(temporary, target)) {
        RemoveFile(temporary);
        error = Utf16ToUtf8(SetDataFailedText(target));
        return false;
    }
    return true;
}

// Saves `changed` and makes it the current state; nothing is written to a store not open.
bool Commit(const std::u16string& location, SettingsStore::State& current,
            SettingsStore::State changed, std::u16string& error) {
    std::string failure;
    if (!current.open) {
        error = SetDataFailedText(location);
        return false;
    }
    if (!Save(Utf16ToUtf8(location), changed, failure)) {
        error = Utf8ToUtf16(failure);
        return false;
    }
    current = std::move(changed);
    return true;
}

} // namespace

std::u16string SettingsLocation() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "/tmp") + "/.config";
    }
    return Utf8ToUtf16(base + "/lumavert/server.conf");
}

SettingsStore::SettingsStore() : SettingsStore(SettingsLocation()) {}

SettingsStore::SettingsStore(std::u16string location)
    : location_(std::move(location)), state_(std::make_unique<State>()) {}

SettingsStore::~SettingsStore() = default;
SettingsStore::SettingsStore(SettingsStore&&) noexcept = default;
SettingsStore& SettingsStore::operator=(SettingsStore&&) noexcept = default;

bool SettingsStore::Open(SettingsAccess access, std::u16string& error) {
    Close();
    const std::string path = Utf16ToUtf8(location_);
    std::string text;
    std::string failure;
    if (!ReadWholeFile(location_, text)) {
        const std::uint32_t code = LastFileError();
        if (code != kErrorFileNotFound && code != kErrorPathNotFound) {
            // The errno text, from a second try: the file layer keeps Win32 codes only.
            std::FILE* again = std::fopen(path.c_str(), "r");
            error = Utf8ToUtf16(
                "Can't read " + path + ": " +
                (again == nullptr ? std::strerror(errno) : "error " + std::to_string(code)));
            if (again != nullptr)
                std::fclose(again);
            return false;
        }
        if (access == SettingsAccess::kRead)
            return false;
        const ServerSettings defaults = DefaultServerSettings();
        State made;
        made.root = Utf16ToUtf8(defaults.root);
        made.host = Utf16ToUtf8(defaults.host);
        made.codePage = std::to_string(defaults.codePage);
        if (!Save(path, made, failure)) {
            error = Utf8ToUtf16(failure);
            return false;
        }
        *state_ = std::move(made);
    } else if (!Parse(path, text, *state_, failure)) {
        *state_ = State{};
        error = Utf8ToUtf16(failure);
        return false;
    }
    state_->open = true;
    return true;
}

bool SettingsStore::IsOpen() const {
    return state_->open;
}

void SettingsStore::Close() {
    *state_ = State{};
}

bool SettingsStore::Read(ServerSettings& settings, std::u16string& error) const {
    const State& state = *state_;
    if (state.root && !state.root->empty())
        settings.root = Utf8ToUtf16(*state.root);
    if (state.host)
        settings.host = Utf8ToUtf16(*state.host);
    if (state.codePage) {
        const std::string& value = *state.codePage;
        char* end = nullptr;
        const unsigned long codePage = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || codePage > 0xFFFFFFFFul) {
            error = InvalidDataTypeText(control::kCodePageValue);
            return false;
        }
        settings.codePage = static_cast<std::uint32_t>(codePage);
    }
    return true;
}

bool SettingsStore::WriteRoot(std::u16string_view root, std::u16string& error) {
    State changed = *state_;
    changed.root = Utf16ToUtf8(root);
    return Commit(location_, *state_, std::move(changed), error);
}

bool SettingsStore::WriteHost(std::u16string_view host, std::u16string& error) {
    State changed = *state_;
    // An empty line means every host, as the missing registry value does.
    changed.host = Utf16ToUtf8(host);
    return Commit(location_, *state_, std::move(changed), error);
}

bool SettingsStore::WriteCodePage(std::uint32_t codePage, std::u16string& error) {
    State changed = *state_;
    if (codePage == 0)
        changed.codePage.reset();
    else
        changed.codePage = std::to_string(codePage);
    return Commit(location_, *state_, std::move(changed), error);
}

} // namespace platform
