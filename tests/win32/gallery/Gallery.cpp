// Gallery.exe: shows each of Lumavert.exe's windows with sample data, as a user sees them, and
// saves it from the screen as a BMP file (the README's screenshots, taken under Xvfb by
// gallery.sh). Usage:
//   Gallery OUT_DIR LUMAVERT.EXE SERVER.EXE TAVOMENU64.DLL
// Writes main-dialog.bmp, tray-menu.bmp, status-popup.bmp, access-code.bmp, device-list.bmp,
// about.bmp and help.bmp; exits 0 when all were saved.
#include <winsock2.h>
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/control/ControlNames.h"
#include "common/win32/Text.h"
#include "manager/core/Bytes.h"
#include "manager/win32/AboutDlg.h"
#include "manager/win32/ActiveCodeDlg.h"
#include "manager/win32/HelpDlg.h"
#include "manager/win32/KestroDlg.h"
#include "manager/win32/ManagerServices.h"
#include "manager/win32/Resource.h"
#include "manager/win32/TargetListDlg.h"
#include "manager/win32/TargetStatusDlg.h"
#include "tests/win32/ModalDriver.h"
#include "tests/win32/ScreenCapture.h"

namespace {

using namespace manager;

// Ticks of 20 ms before a window is taken: it has painted by then.
constexpr int kSettleTicks = 40;
// A margin of the desktop around each window.
constexpr int kMargin = 16;

std::wstring gOut;
int gSaved = 0;

bool Save(HWND window, const wchar_t* name) {
    RECT area{};
    GetWindowRect(window, &area);
    InflateRect(&area, kMargin, kMargin);
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&area, &area, &screen);
    const bool saved = wintest::SaveScreen(area, gOut + L"\\" + name);
    gSaved += saved ? 1 : 0;
    std::fwprintf(stdout, L"%ls %ls\n", name, saved ? L"saved" : L"FAILED");
    return saved;
}

// Runs `show` (a modal dialog); `prepare` gets the dialog once, then it is saved and closed.
void CaptureModal(const wchar_t* name, const std::function<void()>& show,
                  const std::function<void(HWND)>& prepare = {}, int closeCommand = IDCANCEL) {
    int ticks = 0;
    wintest::TModalDriver driver(
        [&](HWND dialog) {
            if (dialog == nullptr)
                return false;
            if (ticks++ == 0 && prepare)
                prepare(dialog);
            if (ticks < kSettleTicks)
                return false;
            Save(dialog, name);
            PostMessageW(dialog, WM_COMMAND, closeCommand, 0);
            return true;
        },
        kSettleTicks * 4);
    show();
}

void Pump(int milliseconds) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    while (GetTickCount64() < end) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
}

TargetTable SampleTable() {
    TargetTable table;
    const char16_t* names[] = {u"Living Room", u"Kitchen (busy)", u"Bedroom", u"Studio"};
    for (int i = 0; i < 4; ++i) {
        TargetEntry& entry = table.entries[static_cast<std::size_t>(i)];
        entry.ip = FromOctets({192, 0, 2, static_cast<std::uint8_t>(2 + i)});
        entry.deviceName = names[i];
        entry.connectInform = i == 1 ? 1 : 0;
    }
    table.foundCount = 4;
    table.validCount = 3;
    return table;
}

SessionDisplay SamplePlayer() {
    SessionDisplay display;
    display.addressText = u"192.0.2.2";
    display.deviceName = u"Living Room";
    display.connected = true;
    display.playing = true;
    display.fileIndex = 2;
    display.mediaType = 2;
    return display;
}

// A server that is there at once: the gallery shows the main dialog without Server.exe.
class ReadyServer : public ServerHost {
  public:
    bool ServerWindowExists() override { return true; }
    void PostCloseToServer() override {}
    void TerminateServerWindowOwner() override {}
    bool FileExists(const std::u16string&) override { return true; }
    bool StartProgramHidden(const std::u16string&) override { return true; }
    bool AwaitServerAnswer(unsigned) override { return true; }
    void ShowErrorBox(const std::u16string&) override {}
    void QuitManager() override {}
    void Sleep(unsigned) override {}
};

// The main dialog as "Debug To Manager AP" (0, 1) shows it, after a session's log lines.
void CaptureMainDialog() {
    ReadyServer host;
    CKestroDlg dialog(&host);
    int ticks = 0;
    wintest::TModalDriver driver(
        [&](HWND) {
            const HWND main = FindWindowW(win32::AsWide(control::kManagerWindowClass),
                                          win32::AsWide(control::kManagerWindowTitle));
            if (main == nullptr)
                return false;
            if (ticks++ == 0) {
                const char16_t* lines[] = {u"New share: Z:\\home\\demo\\Music",
                                           u"Set Server setting: start",
                                           u"Set to Server...",
                                           u"Set Server: OK!",
                                           u"REQ_ConnectKestro: subCmd=0",
                                           u"Connect OP Complete.",
                                           u"do REQ_AssignFileIndex.",
                                           u"do REQ_PlayCtrl(KEY_PLAY).",
                                           u"Play OP Complete.",
                                           u"Timer_0: complete=0x1,error=0x0"};
                for (const char16_t* line : lines)
                    dialog.Log(line);
                dialog.ShowTargetFields(FromOctets({192, 0, 2, 2}), u"62000", u"Living Room", u"0");
                SendMessageW(main, RegisterManagerMessages().debugToManager, 0, 1);
            }
            if (ticks < kSettleTicks)
                return false;
            Save(main, L"main-dialog.bmp");
            SendMessageW(main, WM_COMMAND, IDM_QUIT, 0);
            return true;
        },
        kSettleTicks * 4);
    dialog.DoModal(nullptr);
}

// The tray icon's menu as a right click opens it, relabelled as the main dialog does it.
LRESULT CALLBACK MenuOwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        KillTimer(window, 1);
        if (const HWND menu = FindWindowW(L"#32768", nullptr))
            Save(menu, L"tray-menu.bmp");
        EndMenu();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void CaptureTrayMenu() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = MenuOwnerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LumavertGalleryMenuOwner";
    RegisterClassW(&windowClass);
    const HWND owner = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1,
                                       nullptr, nullptr, windowClass.hInstance, nullptr);
    const HMENU menu = LoadMenuW(ResourceInstance(), MAKEINTRESOURCEW(IDR_TRAY_MENU));
    const HMENU popup = GetSubMenu(menu, 0);
    RelabelTrayMenu(popup);
    ShowWindow(owner, SW_SHOW);
    SetForegroundWindow(owner);
    SetTimer(owner, 1, kSettleTicks * 20, nullptr);
    TrackPopupMenu(popup, TPM_RIGHTALIGN | TPM_RIGHTBUTTON, GetSystemMetrics(SM_CXSCREEN) - 40,
                   GetSystemMetrics(SM_CYSCREEN) - 140, 0, owner, nullptr);
    DestroyMenu(menu);
    DestroyWindow(owner);
}

void CaptureStatusPopup() {
    const HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                       nullptr, nullptr);
    TargetStatusDlg popup(owner);
    popup.Create(owner);
    TaskbarFreeArea area;
    QueryTaskbarFreeArea(area);
    popup.Refresh(SamplePlayer(), area, [](std::uint32_t, std::uint32_t) {
        return std::optional<std::u16string>(u"02 - Harbour Lights.mp3\r\n");
    });
    Pump(kSettleTicks * 20);
    Save(popup.Handle(), L"status-popup.bmp");
    popup.Destroy();
    DestroyWindow(owner);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fputs("usage: Gallery OUT_DIR LUMAVERT.EXE SERVER.EXE TAVOMENU64.DLL\n", stderr);
        return 2;
    }
    gOut = argv[1];
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    TaskbarFreeArea area;
    QueryTaskbarFreeArea(area);

    CaptureMainDialog();
    CaptureTrayMenu();
    CaptureStatusPopup();
    CaptureModal(
        L"access-code.bmp",
        [&] {
            std::string code;
            RunAccessCodePrompt(nullptr, area, SamplePlayer(), code);
        },
        [](HWND dialog) { SetDlgItemTextW(dialog, IDC_PIN_CODE, L"1234"); });
    const TargetTable table = SampleTable();
    CaptureModal(L"device-list.bmp", [&] {
        int index = -1;
        RunTargetList(nullptr, table, area, index);
    });
    const std::u16string lumavert = win32::ToU16(argv[2]);
    CaptureModal(
        L"about.bmp",
        [&] {
            CAboutDlg dialog(lumavert, win32::ToU16(argv[3]), win32::ToU16(argv[4]));
            dialog.DoModal(nullptr);
        },
        {}, IDOK);
    CaptureModal(L"help.bmp", [&] {
        HelpDlg dialog(FolderOf(lumavert) + u"Lumavert Help.txt", ShowSystemErrorBox);
        dialog.DoModal(nullptr);
    });
    return gSaved == 7 ? 0 : 1;
}
