// The settings store in the registry: HKEY_CURRENT_USER\SOFTWARE\Lumavert, Root and Host as
// strings read through the UTF-16 interface, CodePage as a 32-bit number.
#include "common/platform/Settings.h"

#include <windows.h>

#include <utility>

#include "common/control/SettingsNames.h"
#include "common/win32/RegistryKey.h"
#include "common/win32/Text.h"

namespace platform {

struct SettingsStore::State {
    win32::TRegistryKey key;
};

namespace {

using win32::AsWide;
using win32::TRegistryRead;

// Found: `value` was taken. Missing: nothing to take. Failed: `error` says why.
enum class Outcome { kFound, kMissing, kFailed };

Outcome Judge(TRegistryRead read, const char16_t* name, std::u16string& error) {
    switch (read) {
    case TRegistryRead::kFound:
        return Outcome::kFound;
    case TRegistryRead::kMissing:
        return Outcome::kMissing;
    case TRegistryRead::kWrongType:
        error = InvalidDataTypeText(name);
        return Outcome::kFailed;
    case TRegistryRead::kFailed:
        break;
    }
    error = GetDataFailedText(name);
    return Outcome::kFailed;
}

Outcome ReadString(const win32::TRegistryKey& key, const char16_t* name, std::u16string& value,
                   std::u16string& error) {
    std::wstring text;
    const Outcome outcome = Judge(key.ReadString(AsWide(name), text), name, error);
    if (outcome == Outcome::kFound)
        value = win32::ToU16(text);
    return outcome;
}

} // namespace

std::u16string SettingsLocation() {
    return control::kSettingsKey;
}

SettingsStore::SettingsStore() : SettingsStore(SettingsLocation()) {}

SettingsStore::SettingsStore(std::u16string location)
    : location_(std::move(location)), state_(std::make_unique<State>()) {}

SettingsStore::~SettingsStore() = default;
SettingsStore::SettingsStore(SettingsStore&&) noexcept = default;
SettingsStore& SettingsStore::operator=(SettingsStore&&) noexcept = default;

bool SettingsStore::Open(SettingsAccess access, std::u16string&) {
    // The registry gives no reason worth showing: a key that cannot be opened means defaults on
    // reading and nothing written on writing.
    if (access == SettingsAccess::kRead)
        return state_->key.Open(AsWide(location_.c_str()), KEY_READ);
    return state_->key.Create(AsWide(location_.c_str()), KEY_ALL_ACCESS);
}

bool SettingsStore::IsOpen() const {
    return state_->key.IsOpen();
}

void SettingsStore::Close() {
    state_->key.Close();
}

bool SettingsStore::Read(ServerSettings& settings, std::u16string& error) const {
    const win32::TRegistryKey& key = state_->key;
    std::u16string root;
    switch (ReadString(key, control::kRootValue, root, error)) {
    case Outcome::kFailed:
        return false;
    case Outcome::kFound:
        if (!root.empty())
            settings.root = std::move(root);
        break;
    case Outcome::kMissing:
        break;
    }

    if (ReadString(key, control::kHostValue, settings.host, error) == Outcome::kFailed)
        return false;

    std::uint32_t codePage = 0;
    switch (Judge(key.ReadNumber(AsWide(control::kCodePageValue), codePage),
                  control::kCodePageValue, error)) {
    case Outcome::kFailed:
        return false;
    case Outcome::kFound:
        settings.codePage = codePage;
        break;
    case Outcome::kMissing:
        break;
    }
    return true;
}

bool SettingsStore::WriteRoot(std::u16string_view root, std::u16string& error) {
    if (state_->key.WriteString(AsWide(control::kRootValue), AsWide(root)))
        return true;
    error = SetDataFailedText(control::kRootValue);
    return false;
}

bool SettingsStore::WriteHost(std::u16string_view host, std::u16string& error) {
    win32::TRegistryKey& key = state_->key;
    const wchar_t* name = AsWide(control::kHostValue);
    if (host.empty() ? key.DeleteValue(name) : key.WriteString(name, AsWide(host)))
        return true;
    error = SetDataFailedText(control::kHostValue);
    return false;
}

bool SettingsStore::WriteCodePage(std::uint32_t codePage, std::u16string& error) {
    win32::TRegistryKey& key = state_->key;
    const wchar_t* name = AsWide(control::kCodePageValue);
    if (codePage == 0 ? key.DeleteValue(name) : key.WriteNumber(name, codePage))
        return true;
    error = SetDataFailedText(control::kCodePageValue);
    return false;
}

} // namespace platform
