// ManagerProbe.exe: drives a running Lumavert.exe from outside, one command per run, for
// tests/scenarios/test_manager_exe.sh:
//
//   ManagerProbe taskbar LOG              own a stand-in taskbar along the screen's bottom and
//                                         append each icon request to LOG ("NIM n id callback
//                                         tip"); runs until ended
//   ManagerProbe screen                   print the screen's width and height
//   ManagerProbe wait-manager SECONDS     until the main dialog exists
//   ManagerProbe gone-manager SECONDS     until it no longer exists
//   ManagerProbe windows                  the manager's windows: "main=1 visible=0 shown=no
//                                         topmost=yes" (top-level "#32770"/"Lumavert", visible
//                                         top-level windows of its process, ...)
//   ManagerProbe show-outside             ShowWindow(SW_SHOW) on the main dialog from here
//   ManagerProbe send NAME WPARAM LPARAM  send the registered message NAME to the main dialog
//   ManagerProbe post ID WPARAM LPARAM    post message number ID to it
//   ManagerProbe popup SECONDS            the status popup: "rect L T R B", its two fields and
//                                         whether "Stop Streaming" is shown
//   ManagerProbe about SECONDS            the About box's four lines, then OK
//   ManagerProbe error-box SECONDS        the "ERROR" box's text, then OK
//   ManagerProbe log                      the lines of the main dialog's "Message Receive" box
//   ManagerProbe hand-off WPARAM [FOLDER] the extension's hand-off: the block holding FOLDER
//                                         (none without it) while "CMD DLL To Manager AP"
//                                         (WPARAM, 0) is sent to every window
//   ManagerProbe pin-code SECONDS CODE    the access-code prompt: print its device field, type
//                                         CODE and press OK ("-" presses the close box instead)
//   ManagerProbe device-list SECONDS N    the device list: print its number of entries, choose
//                                         entry N (from 0) and press OK ("-" closes it instead)
//   ManagerProbe watch-log SECONDS TEXT... empty the log box, then poll it every 5 ms; print
//                                         "TEXT MS" (MS since the Unix epoch) as each line first
//                                         appears (late while the manager's thread is busy)
//   ManagerProbe shot FILE [popup]        save the main dialog (or the visible popup) as a BMP
//   ManagerProbe server-pid               the process id owning Server's window, or "none"
//   ManagerProbe running NAME             "yes" when a process of that executable name runs
//   ManagerProbe health MS                the main dialog's answer to WM_NULL within MS and the
//                                         manager's process figures: "ping MS handles N private
//                                         KB working KB" ("ping hung" when it did not answer)
//   ManagerProbe launch-bare EXE DIR      start EXE with the bare command line "Lumavert.exe"
//                                         in DIR, as a command prompt does; wait for it and
//                                         exit with its exit code
//
// Exit codes: 0 done, 2 usage, 3 timed out, 4 not found or refused.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/control/ControlNames.h"
#include "common/handoff/HandOffNames.h"
#include "common/platform/SharedMemory.h"
#include "common/win32/Text.h"
#include "tests/win32/ScreenCapture.h"
#include "tests/win32/TrayNotify.h"
#include "tests/win32/server_probe/ProbeSupport.h"

namespace {

using namespace probe;
using win32::AsWide;

constexpr int kTaskbarHeight = 40;

HWND FindManager() {
    return FindWindowW(AsWide(control::kManagerWindowClass), AsWide(control::kManagerWindowTitle));
}

DWORD ProcessOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::wstring gTaskbarLog;

LRESULT CALLBACK TaskbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    wintest::TTrayNotify request;
    if (!wintest::ReadTrayNotify(lParam, request))
        return FALSE;
    const std::wstring line = L"NIM " + std::to_wstring(request.code) + L" " +
                              std::to_wstring(request.id) + L" " +
                              std::to_wstring(request.callback) + L" " + request.tip + L"\n";
    if (FILE* file = _wfopen(gTaskbarLog.c_str(), L"ab")) {
        const std::string text = win32::WideToAnsi(line);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    return TRUE;
}

int Taskbar(const std::wstring& log) {
    gTaskbarLog = log;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = TaskbarProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&windowClass);
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    if (CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, cy - kTaskbarHeight, cx,
                        kTaskbarHeight, nullptr, nullptr, windowClass.hInstance,
                        nullptr) == nullptr)
        return kExitNotFound;
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

int WaitManager(double seconds, bool present) {
    if (WaitFor(seconds, [&] { return (FindManager() != nullptr) == present; }))
        return 0;
    Print(present ? L"main dialog not found" : L"main dialog still there");
    return kExitTimeout;
}

int Windows() {
    const HWND main = FindManager();
    if (main == nullptr)
        return kExitNotFound;
    const DWORD process = ProcessOf(main);
    int mains = 0, visible = 0;
    for (const HWND window : TopLevelWindows()) {
        if (ProcessOf(window) != process)
            continue;
        if (ClassName(window) == L"#32770" && Text(window) == L"Lumavert")
            ++mains;
        if (IsWindowVisible(window))
            ++visible;
    }
    const bool topmost = (GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    Print(L"main=" + std::to_wstring(mains) + L" visible=" + std::to_wstring(visible) + L" shown=" +
          (IsWindowVisible(main) ? L"yes" : L"no") + L" topmost=" + (topmost ? L"yes" : L"no"));
    return 0;
}

// A visible top-level window of the manager's process other than the main dialog whose title
// is `title` (any title when null).
HWND FindPopup(const wchar_t* title) {
    const HWND main = FindManager();
    if (main == nullptr)
        return nullptr;
    const DWORD process = ProcessOf(main);
    for (const HWND window : TopLevelWindows()) {
        if (window == main || ProcessOf(window) != process || !IsWindowVisible(window) ||
            ClassName(window) != L"#32770")
            continue;
        if (title == nullptr || Text(window) == title)
            return window;
    }
    return nullptr;
}

int Popup(double seconds) {
    HWND popup = nullptr;
    if (!WaitFor(seconds, [&] { return (popup = FindPopup(nullptr)) != nullptr; })) {
        Print(L"no popup");
        return kExitTimeout;
    }
    RECT rect{};
    GetWindowRect(popup, &rect);
    Print(L"rect " + std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" " +
          std::to_wstring(rect.right) + L" " + std::to_wstring(rect.bottom));
    Print(L"device [" + ControlText(GetDlgItem(popup, 1024)) + L"]");
    Print(L"status [" + ControlText(GetDlgItem(popup, 1025)) + L"]");
    Print(std::wstring(L"stop ") + (IsWindowVisible(GetDlgItem(popup, 3)) ? L"shown" : L"hidden"));
    return 0;
}

int About(double seconds) {
    HWND about = nullptr;
    if (!WaitFor(seconds, [&] { return (about = FindPopup(L"About")) != nullptr; })) {
        Print(L"no About box");
        return kExitTimeout;
    }
    for (const int id : {1033, 1034, 1035, 1037})
        Print(ControlText(GetDlgItem(about, id)));
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    return 0;
}

int Log() {
    const HWND main = FindManager();
    const HWND log = main != nullptr ? GetDlgItem(main, 1010) : nullptr;
    if (log == nullptr)
        return kExitNotFound;
    const LRESULT count = SendMessageW(log, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t line[512] = {};
        if (SendMessageW(log, LB_GETTEXTLEN, i, 0) < 511)
            SendMessageW(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
        Print(line);
    }
    return 0;
}

int HandOff(WPARAM wParam, const wchar_t* folder) {
    platform::SharedMemory block;
    if (folder != nullptr) {
        bool existed = false;
        if (!block.Create(handoff::kHandOffBlockName, handoff::kHandOffBlockBytes, existed) ||
            !block.Map())
            return kExitNotFound;
        const std::wstring text(folder);
        std::memcpy(block.WritableView(), text.c_str(),
                    std::min(text.size(), handoff::kHandOffFolderUnits) * sizeof(wchar_t));
    }
    const UINT message = RegisterWindowMessageW(AsWide(handoff::kHandOffMessageName));
    return Broadcast(message, wParam, 0) ? 0 : kExitNotFound;
}

WPARAM Number(const wchar_t* text) {
    return static_cast<WPARAM>(std::wcstoll(text, nullptr, 0));
}

// Milliseconds since the Unix epoch: the same clock as the Linux side's.
long long EpochMs() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<long long>(ticks / 10000 - 11644473600000ULL);
}

int WatchLog(double seconds, std::vector<std::wstring> texts) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    if (const HWND main = FindManager())
        SendMessageW(GetDlgItem(main, 1010), LB_RESETCONTENT, 0, 0);
    while (!texts.empty() && static_cast<LONG>(end - GetTickCount()) > 0) {
        const HWND main = FindManager();
        const HWND log = main != nullptr ? GetDlgItem(main, 1010) : nullptr;
        const LRESULT count = log != nullptr ? SendMessageW(log, LB_GETCOUNT, 0, 0) : 0;
        const long long now = EpochMs();
        for (LRESULT i = 0; i < count && !texts.empty(); ++i) {
            wchar_t line[512] = {};
            if (SendMessageW(log, LB_GETTEXTLEN, i, 0) < 511)
                SendMessageW(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
            const auto found = std::find(texts.begin(), texts.end(), std::wstring(line));
            if (found != texts.end()) {
                Print(*found + L" " + std::to_wstring(now));
                texts.erase(found);
            }
        }
        Sleep(5);
    }
    return texts.empty() ? 0 : kExitTimeout;
}

// A visible popup of the manager holding the control `id`.
HWND WaitPopupWith(double seconds, int id) {
    HWND found = nullptr;
    WaitFor(seconds, [&] {
        const HWND popup = FindPopup(nullptr);
        if (popup != nullptr && GetDlgItem(popup, id) != nullptr)
            found = popup;
        return found != nullptr;
    });
    return found;
}

int PinCode(double seconds, const std::wstring& code) {
    constexpr int kPinCode = 1017, kCodeDevice = 1018;
    const HWND prompt = WaitPopupWith(seconds, kPinCode);
    if (prompt == nullptr) {
        Print(L"no prompt");
        return kExitTimeout;
    }
    Print(L"device [" + ControlText(GetDlgItem(prompt, kCodeDevice)) + L"]");
    if (code == L"-") {
        PostMessageW(prompt, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    SetWindowTextW(GetDlgItem(prompt, kPinCode), code.c_str());
    PostMessageW(prompt, WM_COMMAND, IDOK, 0);
    return 0;
}

int DeviceList(double seconds, const std::wstring& choice) {
    constexpr int kTargetList = 1022;
    const HWND dialog = WaitPopupWith(seconds, kTargetList);
    if (dialog == nullptr) {
        Print(L"no device list");
        return kExitTimeout;
    }
    const HWND list = GetDlgItem(dialog, kTargetList);
    Print(L"entries " + std::to_wstring(SendMessageW(list, LB_GETCOUNT, 0, 0)));
    if (choice == L"-") {
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    SendMessageW(list, LB_SETCURSEL, Number(choice.c_str()), 0);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return 0;
}

int Shot(const std::wstring& path, bool popup) {
    const HWND window = popup ? FindPopup(nullptr) : FindManager();
    RECT area{};
    if (window == nullptr || !GetWindowRect(window, &area))
        return kExitNotFound;
    return wintest::SaveScreen(area, path) ? 0 : kExitNotFound;
}

int ServerPid() {
    const HWND server =
        FindWindowW(AsWide(control::kServerWindowClass), AsWide(control::kServerWindowTitle));
    Print(server == nullptr ? L"none" : std::to_wstring(ProcessOf(server)));
    return 0;
}

int Running(const std::wstring& name) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return kExitNotFound;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        found = _wcsicmp(entry.szExeFile, name.c_str()) == 0;
    CloseHandle(snapshot);
    Print(found ? L"yes" : L"no");
    return 0;
}

int LaunchBare(const std::wstring& program, const std::wstring& folder) {
    wchar_t commandLine[] = L"Lumavert.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process))
        return kExitNotFound;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// Timed from here: a reply in MS means the manager's thread came round to its messages.
int Health(DWORD timeoutMs) {
    const HWND main = FindManager();
    if (main == nullptr)
        return kExitNotFound;
    LARGE_INTEGER frequency{}, before{}, after{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    DWORD_PTR result = 0;
    const bool answered =
        SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
    QueryPerformanceCounter(&after);
    const long long ms = (after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart;
    std::wstring line = answered ? L"ping " + std::to_wstring(ms) : std::wstring(L"ping hung");
    if (const HANDLE process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ProcessOf(main))) {
        DWORD handles = 0;
        if (GetProcessHandleCount(process, &handles))
            line += L" handles " + std::to_wstring(handles);
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof(memory);
        if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                 sizeof(memory)))
            line += L" private " + std::to_wstring(memory.PrivateUsage / 1024) + L" working " +
                    std::to_wstring(memory.WorkingSetSize / 1024);
        CloseHandle(process);
    }
    Print(line);
    return answered ? 0 : kExitTimeout;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return kExitUsage;
    const std::wstring command = argv[1];
    if (command == L"taskbar" && argc == 3)
        return Taskbar(argv[2]);
    if (command == L"screen" && argc == 2) {
        Print(std::to_wstring(GetSystemMetrics(SM_CXSCREEN)) + L" " +
              std::to_wstring(GetSystemMetrics(SM_CYSCREEN)));
        return 0;
    }
    if (command == L"wait-manager" && argc == 3)
        return WaitManager(Seconds(argv[2]), true);
    if (command == L"gone-manager" && argc == 3)
        return WaitManager(Seconds(argv[2]), false);
    if (command == L"windows" && argc == 2)
        return Windows();
    const HWND main = FindManager();
    if (command == L"show-outside" && argc == 2) {
        if (main == nullptr)
            return kExitNotFound;
        ShowWindow(main, SW_SHOW);
        return 0;
    }
    if (command == L"send" && argc == 5) {
        if (main == nullptr)
            return kExitNotFound;
        const UINT message = RegisterWindowMessageW(argv[2]);
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(main, message, Number(argv[3]),
                                   static_cast<LPARAM>(Number(argv[4])), SMTO_ABORTIFHUNG,
                                   kBroadcastTimeoutMs, &result) != 0
                   ? 0
                   : kExitNotFound;
    }
    if (command == L"post" && argc == 5) {
        if (main == nullptr)
            return kExitNotFound;
        return PostMessageW(main, static_cast<UINT>(Number(argv[2])), Number(argv[3]),
                            static_cast<LPARAM>(Number(argv[4])))
                   ? 0
                   : kExitNotFound;
    }
    if (command == L"popup" && argc == 3)
        return Popup(Seconds(argv[2]));
    if (command == L"about" && argc == 3)
        return About(Seconds(argv[2]));
    if (command == L"error-box" && argc == 3)
        return ErrorBox(Seconds(argv[2]), L"ERROR");
    if (command == L"log" && argc == 2)
        return Log();
    if (command == L"hand-off" && (argc == 3 || argc == 4))
        return HandOff(Number(argv[2]), argc == 4 ? argv[3] : nullptr);
    if (command == L"pin-code" && argc == 4)
        return PinCode(Seconds(argv[2]), argv[3]);
    if (command == L"device-list" && argc == 4)
        return DeviceList(Seconds(argv[2]), argv[3]);
    if (command == L"watch-log" && argc >= 4)
        return WatchLog(Seconds(argv[2]), std::vector<std::wstring>(argv + 3, argv + argc));
    if (command == L"shot" && (argc == 3 || argc == 4))
        return Shot(argv[2], argc == 4 && std::wstring(argv[3]) == L"popup");
    if (command == L"server-pid" && argc == 2)
        return ServerPid();
    if (command == L"running" && argc == 3)
        return Running(argv[2]);
    if (command == L"health" && argc == 3)
        return Health(static_cast<DWORD>(Number(argv[2])));
    if (command == L"launch-bare" && argc == 4)
        return LaunchBare(argv[2], argv[3]);
    return kExitUsage;
}
