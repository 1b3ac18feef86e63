// The main dialog at its Win32 seam: started in this process with a stand-in server host and a
// stand-in taskbar; the hidden-window rule, the tray icon and its callback, the taskbar's free
// area, the error box count and the share settings.
#include <winsock2.h>
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/control/ControlNames.h"
#include "common/control/SettingsNames.h"
#include "common/win32/Text.h"
#include "manager/win32/KestroDlg.h"
#include "manager/win32/ManagerServices.h"
#include "manager/win32/Resource.h"
#include "tests/win32/ModalDriver.h"
#include "tests/win32/RegistryTest.h"
#include "tests/win32/TrayNotify.h"

namespace manager {
namespace {

using win32::AsWide;

std::vector<wintest::TTrayNotify> gNotifies;

LRESULT CALLBACK TaskbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    wintest::TTrayNotify request;
    if (!wintest::ReadTrayNotify(lParam, request))
        return FALSE;
    gNotifies.push_back(request);
    return TRUE;
}

// A stand-in taskbar of the given rectangle, removed with its class at the end.
class TFakeTaskbar {
  public:
    explicit TFakeTaskbar(const RECT& rect) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = TaskbarProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"Shell_TrayWnd";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    }
    ~TFakeTaskbar() {
        DestroyWindow(window_);
        UnregisterClassW(L"Shell_TrayWnd", GetModuleHandleW(nullptr));
    }
    HWND Handle() const { return window_; }

  private:
    HWND window_ = nullptr;
};

TEST(QueryTaskbarFreeArea, FromTheTaskbarWindowsRectangle) {
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    TaskbarFreeArea area;
    EXPECT_FALSE(QueryTaskbarFreeArea(area));
    EXPECT_EQ(area.edge, TaskbarEdge::Bottom);
    EXPECT_EQ(area.right, cx);
    EXPECT_EQ(area.bottom, cy);
    {
        TFakeTaskbar bottom(RECT{0, cy - 40, cx, cy});
        ASSERT_NE(bottom.Handle(), nullptr);
        ASSERT_TRUE(QueryTaskbarFreeArea(area));
        EXPECT_EQ(area.edge, TaskbarEdge::Bottom);
        EXPECT_EQ(area.bottom, cy - 40);
        EXPECT_EQ(area.right, cx);
    }
    {
        TFakeTaskbar right(RECT{cx - 60, 0, cx, cy});
        ASSERT_TRUE(QueryTaskbarFreeArea(area));
        EXPECT_EQ(area.edge, TaskbarEdge::Right);
        EXPECT_EQ(area.right, cx - 60);
        EXPECT_EQ(area.bottom, cy);
    }
}

// A server that starts at once and shows its window.
class TFakeServerHost : public ServerHost {
  public:
    bool ServerWindowExists() override { return started; }
    void PostCloseToServer() override {}
    void TerminateServerWindowOwner() override {}
    bool FileExists(const std::u16string& path) override {
        checked = path;
        return true;
    }
    bool StartProgramHidden(const std::u16string&) override {
        started = true;
        return true;
    }
    bool AwaitServerAnswer(unsigned) override { return true; }
    void ShowErrorBox(const std::u16string& text) override { boxes.push_back(text); }
    void QuitManager() override {}
    void Sleep(unsigned) override {}

    bool started = false;
    std::u16string checked;
    std::vector<std::u16string> boxes;
};

HWND FindMainDialog() {
    return FindWindowW(AsWide(control::kManagerWindowClass), AsWide(control::kManagerWindowTitle));
}

TEST(CKestroDlg, StartsHiddenWithItsTrayIconAndQuits) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    gNotifies.clear();
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    TFakeTaskbar taskbar(RECT{0, cy - 30, cx, cy});
    TFakeServerHost host;
    CKestroDlg dialog(&host);

    bool found = false, shownByOutsider = true, shownOnRequest = false, hiddenByClose = true,
         hiddenByEscape = true, topmost = false;
    std::wstring status;
    RECT popup{};
    std::size_t addsBeforeRestart = 0, addsAfterRestart = 0;
    wintest::TModalDriver driver([&](HWND) {
        const HWND main = FindMainDialog();
        if (main == nullptr)
            return false;
        found = true;
        topmost = (GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        ShowWindow(main, SW_SHOWNORMAL);
        shownByOutsider = IsWindowVisible(main) != FALSE;
        const ManagerMessageIds ids = RegisterManagerMessages();
        SendMessageW(main, ids.debugToManager, 0, 1);
        shownOnRequest = IsWindowVisible(main) != FALSE;
        SendMessageW(main, WM_CLOSE, 0, 0);
        hiddenByClose = IsWindowVisible(main) == FALSE;
        SendMessageW(main, ids.debugToManager, 0, 1);
        SendMessageW(main, WM_COMMAND, IDCANCEL, 0);
        hiddenByEscape = IsWindowVisible(main) == FALSE;

        // A left click on the icon shows the status popup at the free area's corner.
        EXPECT_EQ(SendMessageW(main, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONUP), 1);
        for (const HWND open : wintest::OpenDialogs()) {
            if (open == main)
                continue;
            status = win32::WindowText(GetDlgItem(open, IDC_STATUS_TEXT));
            GetWindowRect(open, &popup);
        }
        addsBeforeRestart = gNotifies.size();
        SendMessageW(main, ids.taskbarCreated, 0, 0);
        addsAfterRestart = gNotifies.size();
        SendMessageW(main, WM_COMMAND, IDM_QUIT, 0);
        return true;
    });
    EXPECT_EQ(dialog.DoModal(nullptr), IDOK);
    EXPECT_FALSE(driver.TimedOut());
    EXPECT_TRUE(found);
    EXPECT_TRUE(topmost);
    EXPECT_FALSE(shownByOutsider);
    EXPECT_TRUE(shownOnRequest);
    EXPECT_TRUE(hiddenByClose);
    EXPECT_TRUE(hiddenByEscape);
    EXPECT_EQ(status, L"Not Connected");
    EXPECT_EQ(popup.right, cx);
    EXPECT_EQ(popup.bottom, cy - 30);
    EXPECT_EQ(popup.right - popup.left, 369);
    EXPECT_EQ(popup.bottom - popup.top, 100);
    EXPECT_EQ(FindMainDialog(), nullptr);

    // The server was looked for beside the program, which is the module (not argv[0]).
    std::u16string self;
    ASSERT_TRUE(ModulePath(self));
    EXPECT_EQ(host.checked, FolderOf(self) + u"Server.exe");
    EXPECT_EQ(dialog.HelpPath(), FolderOf(self) + u"Lumavert Help.txt");
    EXPECT_TRUE(host.started);
    EXPECT_TRUE(host.boxes.empty());

    // NIM_ADD at start with id 150, callback 1026 and the tip; again after "TaskbarCreated";
    // NIM_DELETE when the dialog is destroyed.
    ASSERT_GE(gNotifies.size(), 3u);
    EXPECT_EQ(gNotifies[0].code, DWORD{NIM_ADD});
    EXPECT_EQ(gNotifies[0].id, 150u);
    EXPECT_EQ(gNotifies[0].callback, 1026u);
    EXPECT_EQ(gNotifies[0].tip, L"Lumavert");
    EXPECT_EQ(addsAfterRestart, addsBeforeRestart + 1);
    EXPECT_EQ(gNotifies[addsBeforeRestart].code, DWORD{NIM_ADD});
    EXPECT_EQ(gNotifies.back().code, DWORD{NIM_DELETE});
}

// A hidden window of our own to own the boxes.
class TOwner {
  public:
    TOwner() {
        window_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  nullptr, nullptr);
    }
    ~TOwner() { DestroyWindow(window_); }
    HWND Handle() const { return window_; }

  private:
    HWND window_;
};

// The open message box showing `text`.
HWND FindBox(const std::wstring& text) {
    for (const HWND box : wintest::OpenDialogs())
        if (wintest::ChildTexts(box).find(text) != std::wstring::npos)
            return box;
    return nullptr;
}

TEST(Win32Port, ErrorBoxesNestAndCount) {
    TOwner owner;
    Win32Port port(owner.Handle());
    int phase = 0;
    bool openInside = false, stillOpenAfterInner = false;
    wintest::TModalDriver driver([&](HWND) {
        if (phase == 0 && FindBox(L"outer") != nullptr) {
            phase = 1;
            openInside = port.IsErrorBoxOpen();
            // A timer inside the outer box's loop opens another box.
            port.RunErrorBox(u"inner");
            stillOpenAfterInner = port.IsErrorBoxOpen();
            PostMessageW(FindBox(L"outer"), WM_COMMAND, IDOK, 0);
            return true;
        }
        if (phase == 1) {
            if (const HWND inner = FindBox(L"inner")) {
                phase = 2;
                PostMessageW(inner, WM_COMMAND, IDOK, 0);
            }
        }
        return false;
    });
    EXPECT_FALSE(port.IsErrorBoxOpen());
    port.RunErrorBox(u"outer");
    EXPECT_FALSE(driver.TimedOut());
    EXPECT_EQ(phase, 2);
    EXPECT_TRUE(openInside);
    EXPECT_TRUE(stillOpenAfterInner);
    EXPECT_FALSE(port.IsErrorBoxOpen());
}

class ShareSettingsTest : public RegistryTest {
  protected:
    ShareSettingsTest() : RegistryTest(u"SOFTWARE\\LumavertShareSettingsTest") {}
};

TEST_F(ShareSettingsTest, RootWithItsTerminatorAndCodePage65001) {
    TOwner owner;
    Win32Port port(owner.Handle());
    port.SetSettingsLocation(Path());
    SetNumber(AsWide(control::kCodePageValue), 1252);
    const std::u16string root = u"Z:\\Films 100%s \u65E5\u672C";
    ASSERT_TRUE(port.StoreShareSettings(root));
    const auto [rootType, rootSize] = Query(AsWide(control::kRootValue));
    EXPECT_EQ(rootType, DWORD{REG_SZ});
    EXPECT_EQ(rootSize, (root.size() + 1) * 2);
    win32::TRegistryKey key;
    ASSERT_TRUE(key.Open(WidePath(), KEY_READ));
    std::wstring stored;
    std::uint32_t codePage = 0;
    ASSERT_EQ(key.ReadString(AsWide(control::kRootValue), stored), win32::TRegistryRead::kFound);
    EXPECT_EQ(win32::ToU16(stored), root);
    ASSERT_EQ(key.ReadNumber(AsWide(control::kCodePageValue), codePage),
              win32::TRegistryRead::kFound);
    EXPECT_EQ(codePage, 65001u);
    EXPECT_EQ(Query(AsWide(control::kHostValue)).first, 0u); // nothing else is written
}

} // namespace
} // namespace manager
