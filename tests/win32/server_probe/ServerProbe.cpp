// ServerProbe.exe: drives a running Server.exe from outside the way the manager and a developer's
// tool do (registry values, the control channel's messages, the settings form, the error box,
// the close request), one command per run, for the scenario scripts.
//
//   ServerProbe wait-app SECONDS          until the application window exists
//   ServerProbe gone-app SECONDS          until it no longer exists
//   ServerProbe reg-set-sz NAME VALUE | reg-set-dword NAME N | reg-delete NAME | reg-get NAME
//   ServerProbe reload SECONDS            broadcast "CMD To NFS Server", wait for the answer
//   ServerProbe debug WPARAM LPARAM       broadcast "DEBUG To NFS Server"
//   ServerProbe wait-form SECONDS shown|hidden
//   ServerProbe form-ok FOLDER SECONDS    type FOLDER into the root field and press "Ok"
//   ServerProbe form-codepages            print the code page list, one name a line
//   ServerProbe error-box SECONDS         print the error box's text and press its OK
//   ServerProbe close                     send WM_CLOSE to the application window
//   ServerProbe version FILE              print FileDescription and FileVersion of FILE
//   ServerProbe windows CLASS TITLE       print how many top-level windows have both
//
// Exit codes: 0 done, 2 usage, 3 timed out, 4 not found or refused.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/control/ControlNames.h"
#include "common/control/SettingsNames.h"
#include "common/win32/RegistryKey.h"
#include "common/win32/Text.h"
#include "server/ui/win32/ControlChannel.h"
#include "tests/win32/server_probe/ProbeSupport.h"

namespace {

using namespace probe;
using win32::AsWide;

HWND FindApp() {
    return FindWindowW(AsWide(control::kServerWindowClass), AsWide(control::kServerWindowTitle));
}

HWND FindForm() {
    return FindWindowW(serverui::kFormClass, serverui::kFormCaption);
}

int WaitApp(double seconds, bool present) {
    if (WaitFor(seconds, [&] { return (FindApp() != nullptr) == present; }))
        return 0;
    Print(present ? L"application window not found" : L"application window still there");
    return kExitTimeout;
}

int RegistryCommand(const std::wstring& command, const std::wstring& name,
                    const std::wstring& value) {
    // Reading never creates the key: whether the server created it is part of what is tested.
    const bool reading = command == L"reg-get";
    win32::TRegistryKey key;
    const wchar_t* path = AsWide(control::kSettingsKey);
    if (!(reading ? key.Open(path, KEY_READ) : key.Create(path, KEY_ALL_ACCESS))) {
        if (!reading)
            return kExitNotFound;
        Print(L"no key");
        return 0;
    }
    LSTATUS status = ERROR_SUCCESS;
    if (command == L"reg-set-sz") {
        status = RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    } else if (command == L"reg-set-dword") {
        const DWORD number = std::wcstoul(value.c_str(), nullptr, 10);
        status = RegSetValueExW(key.Get(), name.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&number), sizeof(number));
    } else if (command == L"reg-delete") {
        status = RegDeleteValueW(key.Get(), name.c_str());
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
    } else {
        DWORD type = 0;
        BYTE data[4096] = {};
        DWORD size = sizeof(data) - sizeof(wchar_t);
        status = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, data, &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            Print(L"missing");
            return 0;
        }
        if (status == ERROR_SUCCESS && type == REG_DWORD)
            Print(L"dword:" + std::to_wstring(*reinterpret_cast<const DWORD*>(data)));
        else if (status == ERROR_SUCCESS)
            Print(L"sz:" + std::wstring(reinterpret_cast<const wchar_t*>(data)));
    }
    return status == ERROR_SUCCESS ? 0 : kExitNotFound;
}

int Reload(double seconds) {
    const UINT command = RegisterWindowMessageW(AsWide(control::kCmdToNfsServer));
    const UINT ack = RegisterWindowMessageW(AsWide(control::kCmdToManagerAp));
    TListener listener;
    if (listener.Handle() == nullptr || !Broadcast(command, 0, 0))
        return kExitNotFound;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (GetTickCount64() < deadline) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == ack && message.wParam == 0 && message.lParam == 0) {
                Print(L"ack");
                return 0;
            }
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    Print(L"no ack");
    return kExitTimeout;
}

int WaitForm(double seconds, bool shown) {
    if (WaitFor(seconds, [&] {
            const HWND form = FindForm();
            return form != nullptr && (IsWindowVisible(form) != FALSE) == shown;
        }))
        return 0;
    Print(shown ? L"form not shown" : L"form not hidden");
    return kExitTimeout;
}

int FormOk(const std::wstring& folder, double seconds) {
    if (WaitForm(seconds, true) != 0)
        return kExitTimeout;
    const HWND form = FindForm();
    const HWND root = FindDescendant(form, serverui::kIdRoot);
    const HWND ok = FindDescendant(form, IDOK);
    if (root == nullptr || ok == nullptr) {
        Print(L"fields not found");
        return kExitNotFound;
    }
    SendMessageW(root, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    if (!WaitFor(2, [&] { return IsWindowEnabled(ok) != FALSE; })) {
        Print(L"Ok stays disabled");
        return kExitNotFound;
    }
    SendMessageW(ok, BM_CLICK, 0, 0);
    return WaitForm(seconds, false);
}

int FormCodePages() {
    const HWND form = FindForm();
    const HWND list = form != nullptr ? FindDescendant(form, serverui::kIdCodepages) : nullptr;
    if (list == nullptr)
        return kExitNotFound;
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t name[256] = {};
        if (SendMessageW(list, CB_GETLBTEXTLEN, i, 0) < 255)
            SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        Print(name);
    }
    const LRESULT selected = SendMessageW(list, CB_GETCURSEL, 0, 0);
    Print(L"selected:" + std::to_wstring(selected));
    return 0;
}

int Close() {
    const HWND app = FindApp();
    if (app == nullptr)
        return kExitNotFound;
    PostMessageW(app, WM_CLOSE, 0, 0);
    return 0;
}

int Version(const std::wstring& file) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    if (size == 0)
        return kExitNotFound;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data()))
        return kExitNotFound;
    for (const wchar_t* name :
         {L"FileDescription", L"FileVersion", L"ProductName", L"LegalCopyright"}) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (VerQueryValueW(data.data(), path.c_str(), &value, &length) && length > 0)
            Print(std::wstring(name) + L"=" + static_cast<const wchar_t*>(value));
    }
    return 0;
}

int CountWindows(const wchar_t* className, const wchar_t* title) {
    int count = 0;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, className, title)) != nullptr)
        ++count;
    Print(std::to_wstring(count));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return kExitUsage;
    const std::wstring command = argv[1];
    if (command == L"wait-app" && argc == 3)
        return WaitApp(Seconds(argv[2]), true);
    if (command == L"gone-app" && argc == 3)
        return WaitApp(Seconds(argv[2]), false);
    if ((command == L"reg-set-sz" || command == L"reg-set-dword") && argc == 4)
        return RegistryCommand(command, argv[2], argv[3]);
    if ((command == L"reg-delete" || command == L"reg-get") && argc == 3)
        return RegistryCommand(command, argv[2], L"");
    if (command == L"reload" && argc == 3)
        return Reload(Seconds(argv[2]));
    if (command == L"debug" && argc == 4) {
        const UINT debug = RegisterWindowMessageW(AsWide(control::kDebugToNfsServer));
        return Broadcast(debug, std::wcstoul(argv[2], nullptr, 10),
                         std::wcstol(argv[3], nullptr, 10))
                   ? 0
                   : kExitNotFound;
    }
    if (command == L"wait-form" && argc == 4)
        return WaitForm(Seconds(argv[2]), std::wstring(argv[3]) == L"shown");
    if (command == L"form-ok" && argc == 4)
        return FormOk(argv[2], Seconds(argv[3]));
    if (command == L"form-codepages" && argc == 2)
        return FormCodePages();
    if (command == L"error-box" && argc == 3)
        return ErrorBox(Seconds(argv[2]), AsWide(control::kServerWindowTitle));
    if (command == L"close" && argc == 2)
        return Close();
    if (command == L"version" && argc == 3)
        return Version(argv[2]);
    if (command == L"windows" && argc == 4)
        return CountWindows(argv[2], argv[3]);
    return kExitUsage;
}
