// The list folder and the default root folder, from the platform's Documents folder.
#include "server/ui/win32/ServerFolders.h"

#include "server/ui/win32/WinText.h"
// After <windows.h> (through WinText.h), so that its CreateDirectory macro is undone.
#include "common/platform/FileSystem.h"

namespace serverui {

namespace {

constexpr wchar_t kSubfolder[] = L"\\Lumavert";

} // namespace

std::wstring ListFolder() {
    std::u16string documents;
    if (platform::DocumentsFolder(true, documents) && !documents.empty()) {
        const std::wstring folder = FromU16(documents) + kSubfolder;
        if (IsExistingFolder(folder) || platform::CreateDirectory(ToU16(folder)) ||
            IsExistingFolder(folder))
            return folder + L"\\";
    }
    std::u16string executableFolder;
    if (platform::ExecutableFolder(executableFolder))
        return FromU16(executableFolder);
    return L".\\";
}

std::wstring DefaultRoot() {
    std::u16string base;
    if (!platform::DocumentsFolder(false, base) || base.empty())
        platform::CurrentDirectory(base);
    return FromU16(base) + kSubfolder;
}

} // namespace serverui
