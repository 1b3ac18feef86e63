// The manager's system services.
#include "manager/win32/ManagerServices.h"

#include <vector>

#include "common/control/ControlNames.h"
#include "common/text/Format.h"
#include "common/win32/Handle.h"
#include "common/win32/Text.h"

namespace manager {

namespace {

using win32::AsWide;

constexpr char16_t kUnknown[] = u"<unknown>";

void Assign(std::u16string& out, std::u16string text, std::size_t capacity) {
    text::CutToFit(text, capacity);
    out = std::move(text);
}

HWND FindServerWindow() {
    return FindWindowW(AsWide(control::kServerWindowClass), AsWide(control::kServerWindowTitle));
}

} // namespace

bool ModulePath(std::u16string& path) {
    wchar_t buffer[kPathUnits] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, kPathUnits);
    if (length == 0 || length >= kPathUnits)
        return false;
    path = win32::ToU16(std::wstring_view(buffer, length));
    return true;
}

std::u16string FolderOf(const std::u16string& path) {
    const std::size_t slash = path.rfind(u'\\');
    if (slash == std::u16string::npos)
        return {};
    return path.substr(0, slash + 1);
}

bool IsWow64Windows() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return false;
    using Function = UINT(WINAPI*)(LPWSTR, UINT);
    const auto function = reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetSystemWow64DirectoryW")));
    if (function == nullptr)
        return false;
    wchar_t buffer[kPathUnits] = {};
    if (function(buffer, kPathUnits) != 0)
        return true;
    return GetLastError() != ERROR_CALL_NOT_IMPLEMENTED;
}

void GetFileVersionStrings(const std::u16string& path, std::u16string& version,
                           std::size_t versionCapacity, std::u16string& legal,
                           std::size_t legalCapacity) {
    const std::wstring file = win32::ToWide(path);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(file.c_str(), 0, size, block.data())) {
        Assign(version, kUnknown, versionCapacity);
        return;
    }
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", &value, &length) &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        Assign(version,
               text::Format(u"%d.%d.%d.%d", static_cast<int>(HIWORD(fixed->dwFileVersionMS)),
                            static_cast<int>(LOWORD(fixed->dwFileVersionMS)),
                            static_cast<int>(HIWORD(fixed->dwFileVersionLS)),
                            static_cast<int>(LOWORD(fixed->dwFileVersionLS))),
               versionCapacity);
    } else {
        Assign(version, kUnknown, versionCapacity);
    }
    value = nullptr;
    length = 0;
    if (VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\LegalCopyright", &value,
                       &length) &&
        value != nullptr && length > 0) {
        const auto* units = static_cast<const wchar_t*>(value);
        std::wstring_view text(units, length);
        text = text.substr(0, text.find(L'\0'));
        Assign(legal, win32::ToU16(text), legalCapacity);
    } else {
        Assign(legal, kUnknown, legalCapacity);
    }
}

bool QueryTaskbarFreeArea(TaskbarFreeArea& area) {
    const int cx = GetSystemMetrics(SM_CXSCREEN);
    const int cy = GetSystemMetrics(SM_CYSCREEN);
    const HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
    RECT r{};
    if (taskbar == nullptr || !GetWindowRect(taskbar, &r)) {
        area = ComputeFreeArea(nullptr, cx, cy);
        return false;
    }
    const Rect tray{r.left, r.top, r.right, r.bottom};
    area = ComputeFreeArea(&tray, cx, cy);
    return true;
}

Win32ServerHost::Win32ServerHost(std::function<void(const std::u16string&)> showErrorBox,
                                 std::function<void()> quitManager)
    : showErrorBox_(std::move(showErrorBox)), quitManager_(std::move(quitManager)) {}

bool Win32ServerHost::ServerWindowExists() {
    return FindServerWindow() != nullptr;
}

void Win32ServerHost::PostCloseToServer() {
    if (const HWND window = FindServerWindow())
        PostMessageW(window, WM_CLOSE, 0, 0);
}

void Win32ServerHost::TerminateServerWindowOwner() {
    const HWND window = FindServerWindow();
    if (window == nullptr)
        return;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == 0 || processId == GetCurrentProcessId())
        return;
    win32::TKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (process)
        TerminateProcess(process.Get(), 0);
}

bool Win32ServerHost::FileExists(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(win32::ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32ServerHost::StartProgramHidden(const std::u16string& path) {
    const std::wstring program = win32::ToWide(path);
    wchar_t commandLine[1] = {L'\0'}; // the server is started with an empty command line
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    // The handles are not kept.
    win32::TKernelHandle thread(process.hThread);
    win32::TKernelHandle owner(process.hProcess);
    return true;
}

// Not SMTO_ABORTIFHUNG: a Server busy with its start for longer than the system's hung limit is
// just what this waits out. SMTO_BLOCK: messages sent to the manager meanwhile (a hand-off)
// wait as they do during the polls, instead of running inside this wait.
bool Win32ServerHost::AwaitServerAnswer(unsigned milliseconds) {
    const HWND window = FindServerWindow();
    DWORD_PTR result = 0;
    return window != nullptr &&
           SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, milliseconds, &result) != 0;
}

} // namespace manager
