// Registry access for the server's settings. Every text is read and written through the UTF-16
// interface, so a folder name outside the ANSI code page survives the round trip.
#include "server/ui/win32/SettingsStore.h"

#include <utility>

namespace serverui {

namespace {

// Error texts carry the value name by concatenation: names never pass through a format string.
std::wstring ValueError(const wchar_t* prefix, const wchar_t* name) {
    return std::wstring(prefix) + name + L"'";
}

std::wstring InvalidType(const wchar_t* name) {
    return ValueError(L"Invalid data type for '", name);
}
std::wstring GetFailed(const wchar_t* name) {
    return ValueError(L"Failed to get data for '", name);
}
std::wstring SetFailed(const wchar_t* name) {
    return ValueError(L"Failed to set data for '", name);
}

} // namespace

TRegistryKey& TRegistryKey::operator=(TRegistryKey&& other) noexcept {
    if (this != &other) {
        Close();
        key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
}

bool TRegistryKey::Open(const std::wstring& path, REGSAM access, bool create) {
    Close();
    HKEY key = nullptr;
    LSTATUS status;
    if (create) {
        status = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
    } else {
        status = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, access, &key);
    }
    if (status != ERROR_SUCCESS)
        return false;
    key_ = key;
    return true;
}

void TRegistryKey::Close() {
    if (key_ != nullptr)
        RegCloseKey(std::exchange(key_, nullptr));
}

bool TSettingsStore::OpenForReading() {
    return key_.Open(keyPath_, KEY_READ, false);
}

bool TSettingsStore::OpenForWriting() {
    return key_.Open(keyPath_, KEY_ALL_ACCESS, true);
}

bool TSettingsStore::Read(TServerSettings& settings, std::wstring& error) const {
    std::wstring root;
    switch (ReadString(L"Root", root, error)) {
    case ReadStatus::Failed:
        return false;
    case ReadStatus::Found:
        if (!root.empty())
            settings.root = std::move(root);
        break;
    case ReadStatus::Missing:
        break;
    }

    std::wstring host;
    switch (ReadString(L"Host", host, error)) {
    case ReadStatus::Failed:
        return false;
    case ReadStatus::Found:
        settings.host = std::move(host);
        break;
    case ReadStatus::Missing:
        break;
    }

    std::uint32_t codePage = 0;
    switch (ReadNumber(L"CodePage", codePage, error)) {
    case ReadStatus::Failed:
        return false;
    case ReadStatus::Found:
        settings.codePage = codePage;
        break;
    case ReadStatus::Missing:
        break;
    }
    return true;
}

TSettingsStore::ReadStatus TSettingsStore::ReadString(const wchar_t* name, std::wstring& value,
                                                      std::wstring& error) const {
    value.clear();
    if (!key_.IsOpen())
        return ReadStatus::Missing;
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key_.Get(), name, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return ReadStatus::Missing;
    if (status != ERROR_SUCCESS) {
        error = GetFailed(name);
        return ReadStatus::Failed;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        error = InvalidType(name);
        return ReadStatus::Failed;
    }
    // Room for a terminating zero that the writer may have left out; an odd byte is dropped.
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bufferSize = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    status = RegQueryValueExW(key_.Get(), name, nullptr, &type,
                              reinterpret_cast<BYTE*>(buffer.data()), &bufferSize);
    if (status != ERROR_SUCCESS) {
        error = GetFailed(name);
        return ReadStatus::Failed;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        error = InvalidType(name);
        return ReadStatus::Failed;
    }
    buffer.resize(bufferSize / sizeof(wchar_t));
    // The text ends at its first zero, whatever the stored size says.
    const std::size_t end = buffer.find(L'\0');
    if (end != std::wstring::npos)
        buffer.resize(end);
    value = std::move(buffer);
    return ReadStatus::Found;
}

TSettingsStore::ReadStatus TSettingsStore::ReadNumber(const wchar_t* name, std::uint32_t& value,
                                                      std::wstring& error) const {
    if (!key_.IsOpen())
        return ReadStatus::Missing;
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key_.Get(), name, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return ReadStatus::Missing;
    if (status != ERROR_SUCCESS) {
        error = GetFailed(name);
        return ReadStatus::Failed;
    }
    if (type != REG_DWORD) {
        error = InvalidType(name);
        return ReadStatus::Failed;
    }
    DWORD number = 0;
    size = sizeof(number);
    status =
        RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size);
    if (status != ERROR_SUCCESS || size != sizeof(number)) {
        error = GetFailed(name);
        return ReadStatus::Failed;
    }
    value = number;
    return ReadStatus::Found;
}

bool TSettingsStore::WriteString(const wchar_t* name, const std::wstring& value,
                                 std::wstring& error) {
    // The stored size includes the terminating zero.
    const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (!key_.IsOpen() ||
        RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       size) != ERROR_SUCCESS) {
        error = SetFailed(name);
        return false;
    }
    return true;
}

bool TSettingsStore::DeleteValue(const wchar_t* name, std::wstring& error) {
    if (!key_.IsOpen()) {
        error = SetFailed(name);
        return false;
    }
    const LSTATUS status = RegDeleteValueW(key_.Get(), name);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        error = SetFailed(name);
        return false;
    }
    return true;
}

bool TSettingsStore::WriteRoot(const std::wstring& root, std::wstring& error) {
    return WriteString(L"Root", root, error);
}

bool TSettingsStore::WriteHost(const std::wstring& host, std::wstring& error) {
    if (host.empty())
        return DeleteValue(L"Host", error);
    return WriteString(L"Host", host, error);
}

bool TSettingsStore::WriteCodePage(std::uint32_t codePage, std::wstring& error) {
    if (codePage == 0)
        return DeleteValue(L"CodePage", error);
    const DWORD number = codePage;
    if (!key_.IsOpen() ||
        RegSetValueExW(key_.Get(), L"CodePage", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&number), sizeof(number)) != ERROR_SUCCESS) {
        error = SetFailed(L"CodePage");
        return false;
    }
    return true;
}

} // namespace serverui
