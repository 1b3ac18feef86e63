// The settings form: a tab control with the pages "Server", "Clients" and "Filenames", the
// buttons "Ok" and "Cancel", and the handlers of the control channel and the tray icon.
#include "server/ui/win32/SettingsForm.h"

#include <commctrl.h>
#include <uxtheme.h>

#include "common/control/ControlNames.h"
#include "common/win32/Text.h"
#include "server/ui/win32/IconMenu.h"
#include "server/ui/win32/ServerControl.h"

namespace serverui {

using win32::AsWide;
using win32::ToU16;
using win32::WindowText;

namespace {

constexpr int kClientWidth = 305;
constexpr int kClientHeight = 209;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

constexpr const wchar_t* kPageTitles[] = {L"Server", L"Clients", L"Filenames"};

// A page is an empty child dialog, so that the dialog manager paints it with the tab control's
// themed background and tabs through its controls.
struct PageTemplate {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    WORD title;
};

HFONT CreateMessageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        return nullptr;
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

} // namespace

TDSettings::TDSettings(HINSTANCE instance, HICON icon, TServerControl& control,
                       const TControlMessages& messages)
    : instance_(instance), icon_(icon), control_(control), messages_(messages) {}

TDSettings::~TDSettings() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

bool TDSettings::Create() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = icon_;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kFormClass;
    if (RegisterClassExW(&windowClass) == 0)
        return false;

    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    // No owner: an owned window may miss broadcasts, and the form must receive them.
    window_ = CreateWindowExW(kFormExStyle, kFormClass, kFormCaption, kFormStyle, x, y, width,
                              height, nullptr, nullptr, instance_, this);
    if (window_ == nullptr)
        return false;
    // The tip is the application title; the first layout is what every shell version accepts.
    tray_ = std::make_unique<win32::TTrayIcon>(window_, 0, kTrayCallbackMessage, icon_,
                                               AsWide(control::kServerWindowTitle),
                                               win32::TTrayLayout::kVersion1);
    return CreateControls();
}

HWND TDSettings::AddControl(HWND parent, const wchar_t* windowClass, const wchar_t* text,
                            DWORD style, int x, int y, int width, int height, int id,
                            DWORD exStyle) {
    HWND control = CreateWindowExW(
        exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (control != nullptr && font_.Get() != nullptr)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    return control;
}

HWND TDSettings::CreatePage(const RECT& area) {
    alignas(DWORD) PageTemplate pageTemplate{};
    pageTemplate.header.style = WS_CHILD | DS_CONTROL;
    HWND page = CreateDialogIndirectParamW(instance_, &pageTemplate.header, window_, PageProc, 0);
    if (page == nullptr)
        return nullptr;
    SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left,
                 area.bottom - area.top, SWP_NOACTIVATE);
    EnableThemeDialogTexture(page, ETDT_ENABLETAB);
    return page;
}

bool TDSettings::CreateControls() {
    font_ = win32::TFont(CreateMessageFont());

    const int tabsHeight = kClientHeight - 3 * kMargin - kButtonHeight;
    tabs_ = AddControl(window_, WC_TABCONTROLW, L"", WS_CLIPSIBLINGS | WS_TABSTOP, kMargin, kMargin,
                       kClientWidth - 2 * kMargin, tabsHeight, kIdTabs);
    if (tabs_ == nullptr)
        return false;
    for (int i = 0; i < 3; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(kPageTitles[i]);
        SendMessageW(tabs_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }

    // The pages cover the tab control's display area, in form coordinates.
    RECT area{};
    GetClientRect(tabs_, &area);
    SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    MapWindowPoints(tabs_, window_, reinterpret_cast<POINT*>(&area), 2);
    for (HWND& page : pages_) {
        page = CreatePage(area);
        if (page == nullptr)
            return false;
    }
    const int pageWidth = area.right - area.left;
    const int pageHeight = area.bottom - area.top;
    const int groupWidth = pageWidth - 12;
    const int noteWidth = pageWidth - 36;

    // "Server": the root folder.
    AddControl(pages_[0], L"BUTTON", L"Root Folder", BS_GROUPBOX, 6, 6, groupWidth, 64);
    AddControl(pages_[0], L"STATIC", L"File Path:", SS_LEFT, 18, 32, 54, 16);
    root_ = AddControl(pages_[0], L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, 74, 29, pageWidth - 88,
                       21, kIdRoot, WS_EX_CLIENTEDGE);

    // "Clients": the allowed hosts.
    AddControl(pages_[1], L"BUTTON", L"Incomming Connections", BS_GROUPBOX, 6, 6, groupWidth,
               pageHeight - 12);
    AddControl(pages_[1], L"STATIC", L"Allowed Host:", SS_LEFT, 18, 32, 76, 16);
    host_ = AddControl(pages_[1], L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, 96, 29,
                       pageWidth - 114, 21, kIdHost, WS_EX_CLIENTEDGE);
    AddControl(pages_[1], L"STATIC",
               L"While no host is defined, all hosts will be accepted. To define multiple host a "
               L"space is the separator.",
               SS_LEFT, 18, 62, noteWidth, pageHeight - 76);

    // "Filenames": the code page of names on the wire.
    AddControl(pages_[2], L"BUTTON", L"Encoding", BS_GROUPBOX, 6, 6, groupWidth, pageHeight - 12);
    AddControl(pages_[2], L"STATIC", L"Codepage:", SS_LEFT, 18, 32, 60, 16);
    codepages_ = AddControl(pages_[2], L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                            80, 28, pageWidth - 98, 240, kIdCodepages);
    AddControl(pages_[2], L"STATIC",
               L"Filenames will be encoded by this Codepage. Use the same codepage while "
               L"mounting.",
               SS_LEFT, 18, 62, noteWidth, pageHeight - 76);

    const int buttonTop = kClientHeight - kMargin - kButtonHeight;
    const int cancelLeft = kClientWidth - kMargin - kButtonWidth;
    ok_ = AddControl(window_, L"BUTTON", L"Ok", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_DISABLED,
                     cancelLeft - kMargin - kButtonWidth, buttonTop, kButtonWidth, kButtonHeight,
                     IDOK);
    cancel_ = AddControl(window_, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, cancelLeft,
                         buttonTop, kButtonWidth, kButtonHeight, IDCANCEL);
    // Below the pages, which were created after it.
    SetWindowPos(tabs_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SelectPage(0);
    return root_ != nullptr && host_ != nullptr && codepages_ != nullptr && ok_ != nullptr &&
           cancel_ != nullptr;
}

bool TDSettings::PreTranslateMessage(MSG& message) {
    return shown_ && IsDialogMessageW(window_, &message) != FALSE;
}

void TDSettings::SelectPage(int index) {
    SendMessageW(tabs_, TCM_SETCURSEL, index, 0);
    for (int i = 0; i < 3; ++i)
        ShowWindow(pages_[i], i == index ? SW_SHOW : SW_HIDE);
}

void TDSettings::UpdateOkButton() {
    EnableWindow(ok_, IsExistingFolder(ToU16(WindowText(root_))));
}

void TDSettings::ShowForm() {
    if (shown_) {
        SetForegroundWindow(window_);
        return;
    }
    shown_ = true;
    codePages_ = SystemCodePageList();
    SendMessageW(codepages_, CB_RESETCONTENT, 0, 0);
    int selected = -1;
    const platform::ServerSettings& settings = control_.Settings();
    for (const TCodePageEntry& entry : codePages_) {
        const LRESULT index =
            SendMessageW(codepages_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.name.c_str()));
        if (entry.number == settings.codePage && selected < 0)
            selected = static_cast<int>(index);
    }
    SelectPage(0);
    SetWindowTextW(root_, AsWide(settings.root.c_str()));
    SetWindowTextW(host_, AsWide(settings.host.c_str()));
    SendMessageW(codepages_, CB_SETCURSEL, selected, 0);
    // Filling the fields enabled it; it waits for the user's first change.
    EnableWindow(ok_, FALSE);
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    SetFocus(root_);
    // As when tabbing into a dialog's edit: the whole path selected, ready to be replaced.
    SendMessageW(root_, EM_SETSEL, 0, -1);
}

void TDSettings::HideForm() {
    ShowWindow(window_, SW_HIDE);
    shown_ = false;
    codePages_.clear();
    SendMessageW(codepages_, CB_RESETCONTENT, 0, 0);
}

void TDSettings::OnOk() {
    if (!IsWindowEnabled(ok_))
        return;
    platform::ServerSettings edited = control_.Settings();
    edited.root = ToU16(WindowText(root_));
    edited.host = ToU16(WindowText(host_));
    if (const TCodePageEntry* entry = FindByName(codePages_, WindowText(codepages_)))
        edited.codePage = entry->number;
    std::u16string error;
    if (!control_.ApplySettings(edited, error)) {
        ShowServerError(error);
        return;
    }
    EnableWindow(ok_, FALSE);
    HideForm();
}

void TDSettings::OnReload() {
    std::u16string error;
    const bool started = control_.ReloadSettings(error);
    const platform::ServerSettings& settings = control_.Settings();
    if (ToU16(WindowText(root_)) != settings.root)
        SetWindowTextW(root_, AsWide(settings.root.c_str()));
    if (ToU16(WindowText(host_)) != settings.host)
        SetWindowTextW(host_, AsWide(settings.host.c_str()));
    if (!started) {
        // The manager gets no acknowledgement: the server is not running its settings.
        ShowServerError(error);
        return;
    }
    EnableWindow(ok_, FALSE);
    HideForm();
    PostMessageW(HWND_BROADCAST, messages_.ack, 0, 0);
}

void TDSettings::OnDebugMessage(WPARAM wParam, LPARAM lParam) {
    if (wParam != 0)
        return;
    if (lParam == 1) {
        tray_->Add();
        ShowForm();
    } else if (lParam == 0) {
        tray_->Remove();
        HideForm();
    }
}

bool TDSettings::OnTrayCallback(LPARAM lParam) {
    if (lParam != WM_RBUTTONUP)
        return true;
    POINT cursor{};
    if (!GetCursorPos(&cursor))
        return false;
    SetForegroundWindow(window_);
    switch (PopupIconMenu(window_, cursor, !shown_)) {
    case kCommandSettings:
        ShowForm();
        break;
    case kCommandQuit:
        PostQuitMessage(0);
        break;
    default:
        break;
    }
    return true;
}

LRESULT CALLBACK TDSettings::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<TDSettings*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr || form->window_ == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    return form->HandleMessage(message, wParam, lParam);
}

INT_PTR CALLBACK TDSettings::PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    // The controls' notifications go to their page; the form handles them.
    if (message == WM_COMMAND) {
        SendMessageW(GetParent(page), WM_COMMAND, wParam, lParam);
        return TRUE;
    }
    return FALSE;
}

LRESULT TDSettings::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // Registered messages have no fixed numbers, so they are checked before the switch.
    if (message == messages_.debug && message != 0) {
        OnDebugMessage(wParam, lParam);
        return DefWindowProcW(window_, message, wParam, lParam);
    }
    if (message == messages_.command && message != 0) {
        // The manager sends this synchronously; the reload waits for the server thread, so it
        // runs later from the form's own queue.
        PostMessageW(window_, kReloadMessage, 0, 0);
        return 0;
    }
    switch (message) {
    case kReloadMessage:
        OnReload();
        return 0;
    case kTrayCallbackMessage:
        if (OnTrayCallback(lParam))
            return 0;
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOk();
            return 0;
        case IDCANCEL:
            HideForm();
            return 0;
        case kIdRoot:
        case kIdHost:
            if (HIWORD(wParam) == EN_CHANGE)
                UpdateOkButton();
            return 0;
        case kIdCodepages:
            if (HIWORD(wParam) == CBN_SELCHANGE)
                UpdateOkButton();
            return 0;
        default:
            break;
        }
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) {
            SelectPage(static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)));
            return 0;
        }
        break;
    }
    case DM_GETDEFID:
        return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_CLOSE:
        // No close box; Alt+F4 cancels like the button instead of ending the server.
        HideForm();
        return 0;
    case WM_DESTROY:
        tray_->Remove();
        control_.StopServer();
        window_ = nullptr;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

} // namespace serverui
