// StubServer.exe: stands in for Server.exe (copied under that name) in the manager's scenario.
// The manager starts it without arguments, so it takes its part from the environment:
//   LUMAVERT_STUB=normal        the hidden "TApplication" / "Lumavert Server" window; a close
//                               request ends the program (the default)
//   LUMAVERT_STUB=ignore-close  the same window, deaf to close requests
//   LUMAVERT_STUB=no-window     no window at all; ends after 30 s
//   LUMAVERT_STUB=slow-start    the window, then 8 s before it takes messages, as a Server whose
//                               first start is slow
// Every window acknowledges the reload broadcast at once, as the Server does after its reload.
// With LUMAVERT_STUB_LOG it appends "started <module path> [<command line>]" to that file.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/control/ControlNames.h"
#include "common/win32/Text.h"

namespace {

bool gIgnoreClose = false;
UINT gReload = 0;
UINT gAck = 0;

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

void LogStart() {
    const std::wstring log = Environment(L"LUMAVERT_STUB_LOG");
    if (log.empty())
        return;
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::wstring line =
        std::wstring(L"started ") + module + L" [" + GetCommandLineW() + L"]\n";
    FILE* file = _wfopen(log.c_str(), L"ab");
    if (file == nullptr)
        return;
    const std::string utf8 = win32::WideToAnsi(line);
    std::fwrite(utf8.data(), 1, utf8.size(), file);
    std::fclose(file);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE && gIgnoreClose)
        return 0;
    if (message == gReload && gReload != 0) {
        PostMessageW(HWND_BROADCAST, gAck, 0, 0);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    LogStart();
    const std::wstring mode = Environment(L"LUMAVERT_STUB");
    if (mode == L"no-window") {
        Sleep(30000);
        return 0;
    }
    gIgnoreClose = mode == L"ignore-close";
    gReload = RegisterWindowMessageW(win32::AsWide(control::kCmdToNfsServer));
    gAck = RegisterWindowMessageW(win32::AsWide(control::kCmdToManagerAp));
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = win32::AsWide(control::kServerWindowClass);
    RegisterClassW(&windowClass);
    if (CreateWindowExW(0, windowClass.lpszClassName, win32::AsWide(control::kServerWindowTitle),
                        WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr) == nullptr)
        return 1;
    if (mode == L"slow-start")
        Sleep(8000);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
