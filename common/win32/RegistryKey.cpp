// Registry key access of the Win32 kit.
#include "common/win32/RegistryKey.h"

#include <utility>

namespace win32 {

namespace {

bool IsString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}
bool IsNumber(DWORD type) {
    return type == REG_DWORD;
}

// Asks for the value's type and size without its data; kFound when it exists with a type that
// `accepted` takes.
TRegistryRead Probe(HKEY key, const wchar_t* name, bool (*accepted)(DWORD), DWORD& size) {
    if (key == nullptr)
        return TRegistryRead::kMissing;
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return TRegistryRead::kMissing;
    if (status != ERROR_SUCCESS)
        return TRegistryRead::kFailed;
    return accepted(type) ? TRegistryRead::kFound : TRegistryRead::kWrongType;
}

} // namespace

bool TRegistryKey::Open(const wchar_t* path, REGSAM access, HKEY parent) {
    Close();
    return RegOpenKeyExW(parent, path, 0, access, key_.Put()) == ERROR_SUCCESS;
}

bool TRegistryKey::Create(const wchar_t* path, REGSAM access, HKEY parent) {
    Close();
    return RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                           key_.Put(), nullptr) == ERROR_SUCCESS;
}

TRegistryRead TRegistryKey::ReadString(const wchar_t* name, std::wstring& value) const {
    value.clear();
    DWORD size = 0;
    const TRegistryRead probed = Probe(key_.Get(), name, IsString, size);
    if (probed != TRegistryRead::kFound)
        return probed;
    // Room for a terminating zero that the writer may have left out; an odd byte is dropped.
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bufferSize = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExW(key_.Get(), name, nullptr, &type,
                                            reinterpret_cast<BYTE*>(buffer.data()), &bufferSize);
    if (status != ERROR_SUCCESS)
        return TRegistryRead::kFailed;
    // Changed between the two queries.
    if (!IsString(type))
        return TRegistryRead::kWrongType;
    buffer.resize(bufferSize / sizeof(wchar_t));
    const std::size_t end = buffer.find(L'\0');
    if (end != std::wstring::npos)
        buffer.resize(end);
    value = std::move(buffer);
    return TRegistryRead::kFound;
}

TRegistryRead TRegistryKey::ReadNumber(const wchar_t* name, std::uint32_t& value) const {
    DWORD size = 0;
    const TRegistryRead probed = Probe(key_.Get(), name, IsNumber, size);
    if (probed != TRegistryRead::kFound)
        return probed;
    DWORD number = 0;
    DWORD type = 0;
    size = sizeof(number);
    const LSTATUS status =
        RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size);
    if (status != ERROR_SUCCESS || size != sizeof(number))
        return TRegistryRead::kFailed;
    if (!IsNumber(type))
        return TRegistryRead::kWrongType;
    value = number;
    return TRegistryRead::kFound;
}

bool TRegistryKey::WriteString(const wchar_t* name, std::wstring_view value) {
    if (!IsOpen())
        return false;
    // The stored size includes the terminating zero.
    const std::wstring text(value);
    const DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          size) == ERROR_SUCCESS;
}

bool TRegistryKey::WriteNumber(const wchar_t* name, std::uint32_t value) {
    if (!IsOpen())
        return false;
    const DWORD number = value;
    return RegSetValueExW(key_.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof(number)) == ERROR_SUCCESS;
}

bool TRegistryKey::DeleteValue(const wchar_t* name) {
    if (!IsOpen())
        return false;
    const LSTATUS status = RegDeleteValueW(key_.Get(), name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

} // namespace win32
