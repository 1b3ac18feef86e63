// The Win32 kit's tray icon against a stand-in taskbar: a window of the taskbar's class, to which
// Wine's shell hands every icon request (WM_COPYDATA, dwData = the NIM code; the record starts
// hWnd as 32 bits, uID, uFlags, uCallbackMessage, szTip[128]).
#include "common/win32/TrayIcon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win32/TrayNotify.h"

namespace {

std::vector<wintest::TTrayNotify> gRequests;

LRESULT CALLBACK TaskbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    wintest::TTrayNotify request;
    if (!wintest::ReadTrayNotify(lParam, request))
        return FALSE;
    gRequests.push_back(request);
    return TRUE;
}

class TrayIconTest : public testing::Test {
  protected:
    void SetUp() override {
        gRequests.clear();
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = TaskbarProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"Shell_TrayWnd";
        RegisterClassW(&windowClass);
        taskbar_ = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   windowClass.hInstance, nullptr);
        owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(taskbar_, nullptr);
        ASSERT_NE(owner_, nullptr);
    }
    void TearDown() override {
        DestroyWindow(owner_);
        DestroyWindow(taskbar_);
        // Other tests make stand-in taskbars of their own.
        UnregisterClassW(L"Shell_TrayWnd", GetModuleHandleW(nullptr));
    }

    HWND taskbar_ = nullptr;
    HWND owner_ = nullptr;
};

TEST_F(TrayIconTest, AddedAndRemovedOnceAndRestoredOnlyWhenShown) {
    {
        win32::TTrayIcon icon(owner_, 150, WM_USER + 2, nullptr, L"Lumavert",
                              win32::TTrayLayout::kCurrent);
        EXPECT_FALSE(icon.Restore()); // never shown: a new taskbar does not get it
        ASSERT_TRUE(icon.Add());
        EXPECT_TRUE(icon.Add());
        ASSERT_EQ(gRequests.size(), 1u);
        EXPECT_EQ(gRequests[0].code, DWORD{NIM_ADD});
        EXPECT_EQ(gRequests[0].id, 150u);
        EXPECT_EQ(gRequests[0].flags, UINT{NIF_MESSAGE | NIF_ICON | NIF_TIP});
        EXPECT_EQ(gRequests[0].callback, UINT{WM_USER + 2});
        EXPECT_EQ(gRequests[0].tip, L"Lumavert");

        EXPECT_TRUE(icon.Restore()); // the re-created taskbar gets it again
        icon.Remove();
        icon.Remove();
        EXPECT_FALSE(icon.IsShown());
        ASSERT_EQ(gRequests.size(), 3u);
        EXPECT_EQ(gRequests[1].code, DWORD{NIM_ADD});
        EXPECT_EQ(gRequests[2].code, DWORD{NIM_DELETE});
        ASSERT_TRUE(icon.Add());
    }
    // The owner removes a shown icon when it ends.
    ASSERT_EQ(gRequests.size(), 5u);
    EXPECT_EQ(gRequests[4].code, DWORD{NIM_DELETE});
}

TEST_F(TrayIconTest, TipsAreCutToTheLayoutAtAWholeCharacter) {
    // 62 units, then a surrogate pair that would end at unit 64 of the first layout's 64.
    const std::wstring tip = std::wstring(62, L'x') + L"\U0001F3AC" + std::wstring(100, L'y');
    win32::TTrayIcon first(owner_, 0, WM_USER + 1, nullptr, tip, win32::TTrayLayout::kVersion1);
    EXPECT_EQ(first.Data().cbSize, DWORD{NOTIFYICONDATAW_V1_SIZE});
    EXPECT_EQ(std::wstring(first.Data().szTip), std::wstring(62, L'x'));
    win32::TTrayIcon current(owner_, 0, WM_USER + 1, nullptr, tip, win32::TTrayLayout::kCurrent);
    EXPECT_EQ(std::wstring(current.Data().szTip), tip.substr(0, 127));
    EXPECT_EQ(current.Data().cbSize, DWORD{sizeof(NOTIFYICONDATAW)});
}

} // namespace
