// The manager's popups and widgets, run modally with a thread timer playing the user: sizes,
// places and texts as the user sees them, the access code's limits, the device list's choice,
// the status popup's cases, the help window, the About box and the bitmap button's states.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/win32/Text.h"
#include "manager/core/Bytes.h"
#include "manager/core/HelpText.h"
#include "manager/win32/AboutDlg.h"
#include "manager/win32/ActiveCodeDlg.h"
#include "manager/win32/BmpBtn.h"
#include "manager/win32/HelpDlg.h"
#include "manager/win32/ManagerMessages.h"
#include "manager/win32/ManagerServices.h"
#include "manager/win32/Resource.h"
#include "manager/win32/TargetListDlg.h"
#include "manager/win32/TargetStatusDlg.h"
#include "tests/win32/ModalDriver.h"

namespace manager {
namespace {

using wintest::ClientRectOf;
using wintest::TModalDriver;

// A free area whose bottom-right corner is (1000, 700).
constexpr TaskbarFreeArea kArea{TaskbarEdge::Bottom, 0, 0, 1000, 700};

std::wstring Text(HWND window) {
    return win32::WindowText(window);
}

bool IsRect(const RECT& rect, int x, int y, int width, int height) {
    return rect.left == x && rect.top == y && rect.right - rect.left == width &&
           rect.bottom - rect.top == height;
}

std::string Describe(const RECT& rect) {
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
           std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top);
}

SessionDisplay Player() {
    SessionDisplay display;
    display.addressText = u"192.0.2.7";
    display.deviceName = u"Living Room";
    return display;
}

TEST(ActiveCodeDlg, LayoutTextsAndCorner) {
    std::string code;
    RECT window{}, close{}, ok{}, device{}, pin{}, deviceLabel{}, pinLabel{};
    std::wstring deviceText, labels, okText;
    LONG_PTR exStyle = 0, style = 0;
    UINT limit = 0;
    TModalDriver driver([&](HWND dialog) {
        if (dialog == nullptr)
            return false;
        GetWindowRect(dialog, &window);
        exStyle = GetWindowLongPtrW(dialog, GWL_EXSTYLE);
        style = GetWindowLongPtrW(dialog, GWL_STYLE);
        close = ClientRectOf(GetDlgItem(dialog, IDCANCEL));
        ok = ClientRectOf(GetDlgItem(dialog, IDOK));
        device = ClientRectOf(GetDlgItem(dialog, IDC_CODE_DEVICE));
        pin = ClientRectOf(GetDlgItem(dialog, IDC_PIN_CODE));
        deviceLabel = ClientRectOf(GetDlgItem(dialog, IDC_DEVICE_LABEL));
        pinLabel = ClientRectOf(GetDlgItem(dialog, IDC_PIN_LABEL));
        deviceText = Text(GetDlgItem(dialog, IDC_CODE_DEVICE));
        labels = Text(GetDlgItem(dialog, IDC_DEVICE_LABEL)) + L"|" +
                 Text(GetDlgItem(dialog, IDC_PIN_LABEL));
        okText = Text(GetDlgItem(dialog, IDOK)) + L"|" + Text(GetDlgItem(dialog, IDCANCEL));
        limit = static_cast<UINT>(SendDlgItemMessageW(dialog, IDC_PIN_CODE, EM_GETLIMITTEXT, 0, 0));
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    EXPECT_FALSE(RunAccessCodePrompt(nullptr, kArea, Player(), code));
    EXPECT_FALSE(driver.TimedOut());
    EXPECT_TRUE(IsRect(window, 631, 600, 369, 100)) << Describe(window);
    EXPECT_NE(exStyle & WS_EX_TOPMOST, 0);
    EXPECT_EQ(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME), 0);
    EXPECT_TRUE(IsRect(close, 340, 6, 13, 13)) << Describe(close);
    EXPECT_TRUE(IsRect(ok, 270, 60, 60, 20)) << Describe(ok);
    EXPECT_TRUE(IsRect(device, 100, 36, 230, 20)) << Describe(device);
    EXPECT_TRUE(IsRect(pin, 100, 60, 156, 20)) << Describe(pin);
    EXPECT_EQ(deviceLabel.left, 26);
    EXPECT_EQ(deviceLabel.top, 36);
    EXPECT_EQ(pinLabel.left, 26);
    EXPECT_EQ(pinLabel.top, 60);
    EXPECT_EQ(deviceText, L"Living Room [192.0.2.7]");
    EXPECT_EQ(labels, L"Device:|Pin Code:");
    EXPECT_EQ(okText, L"OK|");
    EXPECT_EQ(limit, 8u);
}

// Types `text` into the pin-code field key by key, then presses OK or the close box.
std::string Prompt(const std::wstring& text, int button, bool& confirmed,
                   std::string code = "before") {
    TModalDriver driver([&](HWND dialog) {
        if (dialog == nullptr)
            return false;
        const HWND field = GetDlgItem(dialog, IDC_PIN_CODE);
        for (const wchar_t c : text)
            SendMessageW(field, WM_CHAR, c, 0);
        PostMessageW(dialog, WM_COMMAND, button, 0);
        return true;
    });
    confirmed = RunAccessCodePrompt(nullptr, kArea, Player(), code);
    return code;
}

TEST(ActiveCodeDlg, CodeIsCutToEightAndTakenAsItIs) {
    bool confirmed = false;
    EXPECT_EQ(Prompt(L"1234567890", IDOK, confirmed), "12345678");
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(Prompt(L"12%4", IDOK, confirmed), "12%4");
    EXPECT_TRUE(confirmed);
    // Cancelling leaves the caller's buffer as it was.
    EXPECT_EQ(Prompt(L"99", IDCANCEL, confirmed, "keep"), "keep");
    EXPECT_FALSE(confirmed);
}

TargetTable Table(int free, int busySlot = -1) {
    TargetTable table;
    const int total = free + (busySlot >= 0 ? 1 : 0);
    for (int i = 0; i < total; ++i) {
        TargetEntry& entry = table.entries[static_cast<std::size_t>(i)];
        entry.ip = FromOctets({192, 0, 2, static_cast<std::uint8_t>(10 + i)});
        entry.deviceName = u"Player " + std::u16string(1, static_cast<char16_t>(u'A' + i));
        entry.connectInform = i == busySlot ? 1 : 0;
    }
    table.foundCount = total;
    table.validCount = free;
    return table;
}

struct ListSeen {
    RECT window{};
    RECT ok{};
    RECT list{};
    bool border = false;
    int count = 0;
    std::wstring label;
    std::wstring first;
};

// Runs the device list, records it, selects `position` (-1: nothing) and presses `button`.
ListSeen RunList(const TargetTable& table, int position, int button, bool& chosen, int& index) {
    ListSeen seen;
    TModalDriver driver([&](HWND dialog) {
        if (dialog == nullptr)
            return false;
        GetWindowRect(dialog, &seen.window);
        seen.ok = ClientRectOf(GetDlgItem(dialog, IDOK));
        const HWND list = GetDlgItem(dialog, IDC_TARGET_LIST);
        seen.list = ClientRectOf(list);
        seen.border = (GetWindowLongPtrW(list, GWL_STYLE) & WS_BORDER) != 0;
        seen.count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
        seen.label = Text(GetDlgItem(dialog, IDC_SELECT_LABEL));
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(position), 0);
        PostMessageW(dialog, WM_COMMAND, button, 0);
        return true;
    });
    TargetListDlg* open = nullptr;
    chosen = RunTargetList(nullptr, table, kArea, index, &open);
    EXPECT_EQ(open, nullptr);
    EXPECT_FALSE(driver.TimedOut());
    return seen;
}

TEST(TargetListDlg, ThreeFreeAndABusyOne) {
    bool chosen = false;
    int index = 0;
    // Slot 1 is busy: list positions 0, 1, 2 are slots 0, 2, 3.
    const ListSeen seen = RunList(Table(3, 1), 1, IDOK, chosen, index);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(index, 2);
    EXPECT_TRUE(IsRect(seen.window, 631, 700 - 156, 369, 156)) << Describe(seen.window);
    EXPECT_TRUE(IsRect(seen.ok, 80, 128, 207, 20)) << Describe(seen.ok);
    EXPECT_EQ(seen.list.right - seen.list.left, 325);
    EXPECT_EQ(seen.list.bottom - seen.list.top, 22 * 3 + 7);
    EXPECT_FALSE(seen.border);
    EXPECT_EQ(seen.count, 3);
    EXPECT_EQ(seen.label, L"Select Device:");
}

TEST(TargetListDlg, SevenScrollInABorderedList) {
    bool chosen = false;
    int index = 0;
    const ListSeen seen = RunList(Table(7), 6, IDOK, chosen, index);
    EXPECT_EQ(index, 6);
    EXPECT_TRUE(IsRect(seen.window, 631, 500, 369, 200)) << Describe(seen.window);
    EXPECT_TRUE(IsRect(seen.ok, 80, 172, 207, 20)) << Describe(seen.ok);
    EXPECT_EQ(seen.list.bottom - seen.list.top, 117);
    EXPECT_TRUE(seen.border);
}

TEST(TargetListDlg, EmptyGivesMinusOneAndCancelIsCancel) {
    bool chosen = false;
    int index = 0;
    const ListSeen seen = RunList(Table(0), -1, IDOK, chosen, index);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(seen.list.bottom - seen.list.top, 7);
    EXPECT_TRUE(IsRect(seen.window, 631, 610, 369, 90)) << Describe(seen.window);

    RunList(Table(2), 0, IDCANCEL, chosen, index);
    EXPECT_FALSE(chosen);
}

class StatusPopupTest : public testing::Test {
  protected:
    void SetUp() override {
        owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(owner_, nullptr);
        popup_ = std::make_unique<TargetStatusDlg>(owner_);
        ASSERT_TRUE(popup_->Create(owner_));
    }
    void TearDown() override {
        popup_.reset();
        DestroyWindow(owner_);
    }
    std::wstring Field(int id) const { return Text(GetDlgItem(popup_->Handle(), id)); }
    bool StopShown() const {
        return IsWindowVisible(GetDlgItem(popup_->Handle(), IDC_STOP_STREAMING)) != FALSE;
    }
    void Refresh(const SessionDisplay& display) {
        popup_->Refresh(display, kArea, [](std::uint32_t index, std::uint32_t type) {
            return std::optional<std::u16string>(u"Song " + std::u16string(1, u'0' + index) +
                                                 u" of " + std::u16string(1, u'0' + type) +
                                                 u".mp3\r\n");
        });
    }

    HWND owner_ = nullptr;
    std::unique_ptr<TargetStatusDlg> popup_;
};

TEST_F(StatusPopupTest, ThreeCasesAtTheCorner) {
    SessionDisplay display = Player();
    Refresh(display);
    EXPECT_EQ(Field(IDC_STATUS_DEVICE), L"");
    EXPECT_EQ(Field(IDC_STATUS_TEXT), L"Not Connected");
    EXPECT_FALSE(StopShown());
    RECT window{};
    GetWindowRect(popup_->Handle(), &window);
    EXPECT_TRUE(IsRect(window, 631, 600, 369, 100)) << Describe(window);
    EXPECT_NE(GetWindowLongPtrW(popup_->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_TRUE(popup_->IsVisible());

    display.connected = true;
    Refresh(display);
    EXPECT_EQ(Field(IDC_STATUS_DEVICE), L"Living Room [192.0.2.7]");
    EXPECT_EQ(Field(IDC_STATUS_TEXT), L"Connected");
    EXPECT_FALSE(StopShown());

    display.playing = true;
    display.fileIndex = 2;
    display.mediaType = 2;
    Refresh(display);
    EXPECT_EQ(Field(IDC_STATUS_TEXT), L"Song 2 of 2.mp3");
    EXPECT_TRUE(StopShown());
    const RECT stop = ClientRectOf(GetDlgItem(popup_->Handle(), IDC_STOP_STREAMING));
    EXPECT_TRUE(IsRect(stop, 80, 72, 207, 20)) << Describe(stop);
    EXPECT_EQ(Text(GetDlgItem(popup_->Handle(), IDC_STOP_STREAMING)), L"Stop Streaming");
}

TEST_F(StatusPopupTest, StopStreamingHidesAndTellsTheMainDialog) {
    SessionDisplay display = Player();
    display.connected = display.playing = true;
    display.fileIndex = 1;
    display.mediaType = 1;
    Refresh(display);
    SendMessageW(popup_->Handle(), WM_COMMAND, MAKEWPARAM(IDC_STOP_STREAMING, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(popup_->Handle(), IDC_STOP_STREAMING)));
    EXPECT_FALSE(popup_->IsVisible());
    MSG message{};
    EXPECT_TRUE(PeekMessageW(&message, owner_, WM_STOP_STREAMING, WM_STOP_STREAMING, PM_REMOVE));
    EXPECT_EQ(WM_STOP_STREAMING, static_cast<UINT>(WM_USER + 5));

    // The close box and WM_CLOSE only hide it.
    Refresh(display);
    SendMessageW(popup_->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(popup_->IsVisible());
    EXPECT_NE(popup_->Handle(), nullptr);
}

std::u16string TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return win32::ToU16(std::wstring(folder) + name);
}

void WriteBytes(const std::u16string& path, const std::string& bytes) {
    FILE* file = _wfopen(win32::AsWide(path.c_str()), L"wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// Runs the help window on `path`, returns the edit's text and records the window and the
// error boxes it asked for.
std::wstring RunHelp(const std::u16string& path, RECT& window, RECT& edit, std::u16string& error) {
    std::wstring text;
    TModalDriver driver([&](HWND dialog) {
        if (dialog == nullptr)
            return false;
        GetWindowRect(dialog, &window);
        const HWND field = GetDlgItem(dialog, IDC_HELP_TEXT);
        edit = ClientRectOf(field);
        text = Text(field);
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    HelpDlg dialog(path, [&](HWND, std::u16string_view shown) { error = shown; });
    dialog.DoModal(nullptr);
    return text;
}

TEST(HelpDlg, TextFillsTheCentredWindow) {
    const std::u16string path = TempPath(L"lumavert-help-test.txt");
    const std::string bytes = "\xFF\xFE" + std::string("H\0i\0\r\0\n\0!\0", 10);
    WriteBytes(path, bytes);
    RECT window{}, edit{};
    std::u16string error;
    const std::wstring text = RunHelp(path, window, edit, error);
    DeleteFileW(win32::AsWide(path.c_str()));
    EXPECT_EQ(text, win32::ToWide(AssembleHelpText(bytes)));
    EXPECT_EQ(text, L"Hi\n\r\n!\r\n");
    EXPECT_TRUE(error.empty());
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_TRUE(IsRect(window, (cx - 480) / 2, (cy - 480) / 2, 480, 480)) << Describe(window);
    EXPECT_EQ(edit.left, 0);
    EXPECT_EQ(edit.top, 0);
}

TEST(HelpDlg, EmptyFileGivesAnEmptyWindow) {
    const std::u16string path = TempPath(L"lumavert-help-empty.txt");
    WriteBytes(path, "");
    RECT window{}, edit{};
    std::u16string error;
    EXPECT_EQ(RunHelp(path, window, edit, error), L"");
    DeleteFileW(win32::AsWide(path.c_str()));
    EXPECT_TRUE(error.empty());
}

TEST(HelpDlg, MissingFileIsReportedAndTheWindowStaysEmpty) {
    const std::u16string path = TempPath(L"no-such-help-100%s.txt");
    RECT window{}, edit{};
    std::u16string error;
    EXPECT_EQ(RunHelp(path, window, edit, error), L"");
    EXPECT_EQ(error, u"Fail to Open File: " + path + u"\n");
}

TEST(CAboutDlg, VersionsOrUnknown) {
    std::u16string self;
    ASSERT_TRUE(ModulePath(self));
    std::wstring lines;
    TModalDriver driver([&](HWND dialog) {
        if (dialog == nullptr)
            return false;
        for (const int id : {IDC_AP_VERSION, IDC_AP_COPYRIGHT, IDC_SERVER_VERSION, IDC_DLL_VERSION})
            lines += Text(GetDlgItem(dialog, id)) + L"|";
        lines += Text(dialog);
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        return true;
    });
    // The test program carries Lumavert.rc's version record.
    CAboutDlg dialog(self, u"Z:\\nowhere\\Server.exe", u"Z:\\nowhere\\Tavomenu64.dll");
    dialog.DoModal(nullptr);
    EXPECT_EQ(lines, L"Lumavert AP Version 1.0.0.0|Copyright (C) 2026 Lumavert|"
                     L"Lumavert Server Version <unknown>|Lumavert DLL Version <unknown>|About");
}

TEST(GetFileVersionStrings, NoVersionResourceLeavesTheNoticeAlone) {
    const std::u16string path = TempPath(L"lumavert-no-version.txt");
    WriteBytes(path, "plain text");
    std::u16string version = u"old", legal = u"keep";
    GetFileVersionStrings(path, version, kVersionUnits, legal, kVersionUnits);
    DeleteFileW(win32::AsWide(path.c_str()));
    EXPECT_EQ(version, u"<unknown>");
    EXPECT_EQ(legal, u"keep");

    // Both strings are cut to their capacities.
    std::u16string self;
    ASSERT_TRUE(ModulePath(self));
    GetFileVersionStrings(self, version, 4, legal, 10);
    EXPECT_EQ(version, u"1.0");
    EXPECT_EQ(legal, u"Copyright");
}

// A solid 40 x 20 bitmap.
HBITMAP Solid(COLORREF colour) {
    const HDC screen = GetDC(nullptr);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, 40, 20);
    const HDC dc = CreateCompatibleDC(screen);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, 40, 20};
    const HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

class BmpBtnTest : public testing::Test {
  protected:
    static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED)
            ++clicks_;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    void SetUp() override {
        clicks_ = 0;
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ParentProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"BmpBtnTestParent";
        RegisterClassW(&windowClass);
        parent_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 100, 50,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
        button_ = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0,
                                  40, 20, parent_, reinterpret_cast<HMENU>(7), nullptr, nullptr);
        ASSERT_TRUE(control_.Attach(button_));
        control_.SetBitmaps(Solid(RGB(255, 0, 0)), Solid(RGB(0, 255, 0)), Solid(RGB(0, 0, 255)));
        memory_ = CreateCompatibleDC(nullptr);
        target_ = CreateCompatibleBitmap(GetDC(nullptr), 40, 20);
        old_ = SelectObject(memory_, target_);
    }
    void TearDown() override {
        SelectObject(memory_, old_);
        DeleteObject(target_);
        DeleteDC(memory_);
        control_.Detach();
        DestroyWindow(parent_);
    }
    // Draws the button with `state` and returns the colour of its top-left pixel.
    COLORREF Draw(UINT state) {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.hwndItem = button_;
        item.hDC = memory_;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = state;
        item.rcItem = RECT{0, 0, 40, 20};
        EXPECT_TRUE(control_.DrawItem(item));
        return GetPixel(memory_, 0, 0);
    }
    bool HasPixel(COLORREF colour) {
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 40; ++x)
                if (GetPixel(memory_, x, y) == colour)
                    return true;
        return false;
    }

    static int clicks_;
    HWND parent_ = nullptr;
    HWND button_ = nullptr;
    CBmpBtn control_;
    HDC memory_ = nullptr;
    HBITMAP target_ = nullptr;
    HGDIOBJ old_ = nullptr;
};
int BmpBtnTest::clicks_ = 0;

TEST_F(BmpBtnTest, BitmapByMouseAndPress) {
    EXPECT_EQ(GetWindowLongPtrW(button_, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_EQ(Draw(0), RGB(255, 0, 0));
    // Focus alone, or a press without the mouse over it: the normal bitmap.
    EXPECT_EQ(Draw(ODS_FOCUS), RGB(255, 0, 0));
    EXPECT_EQ(Draw(ODS_SELECTED), RGB(255, 0, 0));
    SendMessageW(button_, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(control_.IsHovered());
    EXPECT_EQ(Draw(0), RGB(0, 255, 0));
    EXPECT_EQ(Draw(ODS_SELECTED), RGB(0, 0, 255));
    SendMessageW(button_, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(control_.IsHovered());
    EXPECT_EQ(Draw(ODS_SELECTED | ODS_FOCUS), RGB(255, 0, 0));
}

TEST_F(BmpBtnTest, TextBlackOrGrayWhenDisabled) {
    control_.SetBitmaps(Solid(RGB(255, 255, 255)), Solid(RGB(255, 255, 255)),
                        Solid(RGB(255, 255, 255)));
    SetWindowTextW(button_, L"\u2588\u2588");
    Draw(0);
    EXPECT_TRUE(HasPixel(RGB(0, 0, 0)));
    Draw(ODS_DISABLED);
    EXPECT_TRUE(HasPixel(RGB(128, 128, 128)));
    EXPECT_FALSE(HasPixel(RGB(0, 0, 0)));
}

TEST_F(BmpBtnTest, DoubleClickIsTwoClicks) {
    SendMessageW(button_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(button_, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    SendMessageW(button_, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(button_, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(clicks_, 2);
}

} // namespace
} // namespace manager
