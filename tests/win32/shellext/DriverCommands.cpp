// The driver's command modes for scripts, besides its tests:
//   --hand-off PATH...          Initialize, QueryContextMenu and InvokeCommand, as Explorer does
//   --show-menu OUT.bmp PATH... the handler's item in an Explorer-like menu, shown with
//                               TrackPopupMenu and saved from the screen while it is open
//   --create [SECONDS]          CoCreateInstance of the class as Explorer does, and the path
//                               of the DLL that answered; holds the handler SECONDS first
#include "tests/win32/shellext/DriverCommands.h"

#include "tests/win32/ScreenCapture.h"
#include "tests/win32/shellext/DriverSupport.h"

#include <cstdio>
#include <cwchar>

namespace driver {

namespace {

constexpr UINT kFirstId = 100;

int HandOff(const std::vector<std::wstring>& paths) {
    Handler handler;
    if (handler.menu == nullptr || handler.InitializeWith(paths) != S_OK)
        return 2;
    HMENU menu = ::CreatePopupMenu();
    handler.menu->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL);
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(0);
    const HRESULT result = handler.menu->InvokeCommand(&info);
    ::DestroyMenu(menu);
    return result == S_OK ? 0 : 3;
}

struct ShowState {
    std::wstring output;
    bool saved = false;
    int idleTicks = 0;
};

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<ShowState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_ENTERIDLE && wParam == MSGF_MENU && state != nullptr) {
        // Let the menu finish drawing, then take it and close it.
        if (++state->idleTicks == 1)
            ::SetTimer(window, 1, 1500, nullptr);
        return 0;
    }
    if (message == WM_TIMER && state != nullptr) {
        ::KillTimer(window, 1);
        HWND popup = ::FindWindowW(L"#32768", nullptr);
        RECT area{};
        if (popup != nullptr && ::GetWindowRect(popup, &area)) {
            // A margin of the desktop around the menu, as a user would see it.
            ::InflateRect(&area, 12, 12);
            state->saved = wintest::SaveScreen(area, state->output);
        }
        ::EndMenu();
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

int ShowMenu(const std::wstring& output, const std::vector<std::wstring>& paths) {
    Handler handler;
    if (handler.menu == nullptr || handler.InitializeWith(paths) != S_OK)
        return 2;
    // An Explorer-like menu of a media file; the handler's item goes at the top, where this
    // check-mark size still gets its picture.
    HMENU menu = ::CreatePopupMenu();
    const wchar_t* items[] = {
        L"&Open",      L"&Play", nullptr, L"Open wit&h",       nullptr,    L"Se&nd to", nullptr,
        L"Cu&t",       L"&Copy", nullptr, L"Create &shortcut", L"&Delete", L"Rena&me",  nullptr,
        L"P&roperties"};
    UINT id = 1;
    for (const wchar_t* item : items) {
        if (item == nullptr)
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        else
            ::AppendMenuW(menu, MF_STRING, id++, item);
    }
    ::SetMenuDefaultItem(menu, 0, TRUE);
    handler.menu->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL);
    ::InsertMenuW(menu, 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = OwnerProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TavomenuMenuOwner";
    ::RegisterClassW(&windowClass);
    HWND owner = ::CreateWindowExW(0, windowClass.lpszClassName, L"Explorer", WS_POPUP, 0, 0, 1, 1,
                                   nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowState state;
    state.output = output;
    ::SetWindowLongPtrW(owner, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    ::ShowWindow(owner, SW_SHOW);
    ::SetForegroundWindow(owner);
    ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, 40, 30, 0, owner,
                     nullptr);
    ::DestroyWindow(owner);
    ::DestroyMenu(menu);
    return state.saved ? 0 : 4;
}

int Create(DWORD holdMs) {
    IShellExtInit* init = nullptr;
    const HRESULT result = ::CoCreateInstance(kClassId, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IShellExtInit, reinterpret_cast<void**>(&init));
    if (FAILED(result) || init == nullptr) {
        std::printf("CoCreateInstance failed: 0x%08lx\n", static_cast<unsigned long>(result));
        return 2;
    }
    // The module that holds the object's code.
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         *reinterpret_cast<LPCWSTR*>(init), &module);
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    std::printf("%ls\n", path);
    std::fflush(stdout);
    ::Sleep(holdMs);
    init->Release();
    return module != nullptr ? 0 : 3;
}

} // namespace

bool RunCommand(int& exitCode) {
    // The wide command line: main's argv is in the ANSI code page.
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (argv == nullptr)
        return false;
    const std::wstring command = count >= 2 ? argv[1] : L"";
    std::vector<std::wstring> arguments(argv + (count >= 2 ? 2 : count), argv + count);
    ::LocalFree(argv);
    if (command == L"--hand-off") {
        exitCode = HandOff(arguments);
        return true;
    }
    if (command == L"--create") {
        exitCode =
            Create(arguments.empty() ? 0 : std::wcstoul(arguments[0].c_str(), nullptr, 10) * 1000);
        return true;
    }
    if (command == L"--show-menu" && !arguments.empty()) {
        const std::wstring output = arguments.front();
        arguments.erase(arguments.begin());
        exitCode = ShowMenu(output, arguments);
        return true;
    }
    return false;
}

} // namespace driver
