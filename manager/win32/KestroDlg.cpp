// The main dialog: start-up in order, the hidden-window rule, the tray icon and its menu, the
// popups as port effects, and the routing of messages to the session controller.
#include <winsock2.h>

#include "manager/win32/KestroDlg.h"

#include <commctrl.h>

#include "common/control/ControlNames.h"
#include "common/handoff/HandOffNames.h"
#include "common/handoff/HandOffReader.h"
#include "common/text/DebugPrint.h"
#include "common/win32/MessageFilter.h"
#include "common/win32/Text.h"
#include "manager/win32/AboutDlg.h"
#include "manager/win32/ActiveCodeDlg.h"
#include "manager/win32/HelpDlg.h"
#include "manager/win32/ManagerMessages.h"
#include "manager/win32/ManagerServices.h"
#include "manager/win32/ManagerWindow.h"
#include "manager/win32/Resource.h"
#include "manager/win32/TargetListDlg.h"
#include "manager/win32/TargetStatusDlg.h"

namespace manager {

namespace {

using win32::AsWide;

// The tray menu's items relabelled with an access key: position and letter.
struct Relabel {
    UINT position;
    wchar_t key;
};
constexpr std::array<Relabel, 4> kTrayRelabels{{{0, L'D'}, {2, L'H'}, {3, L'A'}, {5, L'Q'}}};

// The commands the session controller takes (buttons of the panel and menu commands).
bool IsSessionCommand(int id) {
    switch (id) {
    case IDC_CONNECT_SERVER:
    case IDC_PLAY:
    case IDC_PAUSE:
    case IDC_STOP:
    case IDC_FAST_FORWARD:
    case IDC_REWIND:
    case IDC_DISCONNECT:
    case IDC_DISCOVERY:
    case IDC_CONNECT_REQ:
    case IDC_ASSIGN_FILE_REQ:
    case IDC_UPDATE_FILE_LIST:
    case IDC_GET_STATUS:
    case IDC_CLEAR_LOG:
    case IDC_DEACTIVATE_CLOSE:
    case IDC_AUTO_CONNECT:
    case IDM_CONNECT:
    case IDM_DISCONNECT:
        return true;
    default:
        return false;
    }
}

// A registered message's parameter as its sender meant it: a 32-bit sender's -1 arrives
// zero-extended in wParam.
std::intptr_t Parameter(WPARAM value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::u16string LoadResourceString(UINT id) {
    wchar_t buffer[256] = {};
    const int length = LoadStringW(ResourceInstance(), id, buffer, 256);
    return win32::ToU16(std::wstring_view(buffer, length > 0 ? length : 0));
}

} // namespace

ManagerMessageIds RegisterManagerMessages() {
    ManagerMessageIds ids;
    ids.taskbarCreated = RegisterWindowMessageW(AsWide(control::kTaskbarCreated));
    ids.debugToManager = RegisterWindowMessageW(AsWide(control::kDebugToManagerAp));
    ids.cmdToNfsServer = RegisterWindowMessageW(AsWide(control::kCmdToNfsServer));
    ids.cmdToManager = RegisterWindowMessageW(AsWide(control::kCmdToManagerAp));
    ids.cmdDllToManager = RegisterWindowMessageW(AsWide(handoff::kHandOffMessageName));
    return ids;
}

CKestroDlg::CKestroDlg(ServerHost* serverHost)
    : CDialog(IDD_KESTRO_DIALOG), Win32Port(nullptr), serverHost_(serverHost),
      icon_(LoadIconW(ResourceInstance(), MAKEINTRESOURCEW(IDI_MAIN))), session_(*this) {
    SetLogSink([this](std::u16string_view line) { AppendLogLine(line); });
}

CKestroDlg::~CKestroDlg() = default;

bool CKestroDlg::OnInitDialog() {
    SetWindow(Handle());

    if (const HMENU systemMenu = GetSystemMenu(Handle(), FALSE)) {
        const std::u16string about = LoadResourceString(IDS_ABOUTBOX);
        if (!about.empty()) {
            AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, AsWide(about.c_str()));
        }
    }
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    // Another manager already running: this one ends at once, without a word to the other.
    if (IsAnotherInstanceRunning())
        ExitProcess(1);

    WriteIpAddressField(Item(IDC_TARGET_ADDRESS), InitialAddressField());
    is64_ = IsWow64Windows();

    messages_ = RegisterManagerMessages();
    // An elevated manager still hears the extension, the server and the tray.
    for (const UINT message :
         {messages_.taskbarCreated, messages_.debugToManager, messages_.cmdToNfsServer,
          messages_.cmdToManager, messages_.cmdDllToManager, kTrayCallbackMessage})
        win32::AllowFromLowerIntegrity(Handle(), message);

    listFolder_ = handoff::ListFolder(handoff::kManagerFolderFailure);
    listPaths_ = handoff::BuildListPaths(listFolder_);

    if (!BuildPaths()) {
        ShowErrorText(u"Unknown Error.");
        QuitManager();
        return true;
    }

    StartServer(/*quitOnFailure=*/true);

    SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    text::DebugPrint(u"TaskBar inf: \n");
    QueryTaskbarFreeArea(freeArea_);
    text::DebugPrint(u"\t(%d,%d)-(%d,%d) \n", freeArea_.left, freeArea_.top, freeArea_.right,
                     freeArea_.bottom);

    icon_ = LoadIconW(ResourceInstance(), MAKEINTRESOURCEW(IDI_TRAY));
    LoadTrayMenu();
    tray_ = std::make_unique<win32::TTrayIcon>(Handle(), kTrayIconId, kTrayCallbackMessage, icon_,
                                               AsWide(control::kManagerWindowTitle),
                                               win32::TTrayLayout::kCurrent);
    tray_->Add();
    return true;
}

bool CKestroDlg::IsServerRunning() {
    Win32ServerHost win32Host(nullptr, nullptr);
    return (serverHost_ != nullptr ? *serverHost_ : win32Host).ServerWindowExists();
}

// A failed restart at a hand-off shows its box but keeps the manager (and a player's open
// session) running; the next hand-off tries again.
bool CKestroDlg::RestartServer() {
    return StartServer(/*quitOnFailure=*/false);
}

bool CKestroDlg::StartServer(bool quitOnFailure) {
    Win32ServerHost win32Host([this](const std::u16string& text) { ShowErrorText(text); },
                              [this, quitOnFailure] {
                                  if (quitOnFailure)
                                      QuitManager();
                              });
    return ResetServer(serverHost_ != nullptr ? *serverHost_ : win32Host, serverPath_);
}

bool CKestroDlg::IsAnotherInstanceRunning() {
    wchar_t className[256] = {};
    wchar_t title[256] = {};
    GetClassNameW(Handle(), className, 256);
    GetWindowTextW(Handle(), title, 256);
    // Our own window must not be the one found.
    SetWindowTextW(Handle(), L"");
    const HWND other = FindWindowW(className, title);
    SetWindowTextW(Handle(), title);
    return other != nullptr;
}

bool CKestroDlg::BuildPaths() {
    if (!ModulePath(managerPath_))
        return false;
    managerFolder_ = FolderOf(managerPath_);
    const char16_t* extension = is64_ ? u"Tavomenu64.dll" : u"Tavomenu.dll";
    extensionPath_ = text::FormatCut(kPathUnits, u"%s%s", managerFolder_, extension);
    helpPath_ = text::FormatCut(kPathUnits, u"%s%s", managerFolder_, u"Lumavert Help.txt");
    serverPath_ = text::FormatCut(kPathUnits, u"%s%s", managerFolder_, u"Server.exe");
    return true;
}

void RelabelTrayMenu(HMENU popup) {
    for (const Relabel& item : kTrayRelabels) {
        wchar_t label[128] = {};
        GetMenuStringW(popup, item.position, label, 128, MF_BYPOSITION);
        const UINT id = GetMenuItemID(popup, static_cast<int>(item.position));
        const std::u16string text =
            text::Format(u"%s (&%c)", win32::AsU16(label), static_cast<char16_t>(item.key));
        ModifyMenuW(popup, item.position, MF_BYPOSITION | MF_STRING, id, AsWide(text.c_str()));
    }
}

void CKestroDlg::LoadTrayMenu() {
    trayMenu_.Reset(LoadMenuW(ResourceInstance(), MAKEINTRESOURCEW(IDR_TRAY_MENU)));
    if (const HMENU popup = GetSubMenu(trayMenu_.Get(), 0))
        RelabelTrayMenu(popup);
}

void CKestroDlg::QuitManager() {
    ClosePrompts();
    if (statusPopup_ && statusPopup_->Handle() != nullptr)
        PostMessageW(statusPopup_->Handle(), WM_CLOSE, 0, 0);
    PostMessageW(Handle(), WM_CLOSE, 0, 0);
    End(IDOK);
}

void CKestroDlg::ShowErrorText(std::u16string_view text) {
    RunErrorBox(text);
}

void CKestroDlg::ShowHelp() {
    HelpDlg dialog(helpPath_, ShowSystemErrorBox);
    dialog.DoModal(Handle());
}

void CKestroDlg::ShowAbout() {
    CAboutDlg dialog(managerPath_, serverPath_, extensionPath_);
    dialog.DoModal(Handle());
}

void CKestroDlg::AppendLogLine(std::u16string_view line) {
    const HWND log = Item(IDC_MESSAGE_LOG);
    if (log == nullptr)
        return;
    while (SendMessageW(log, LB_GETCOUNT, 0, 0) >= kLogLineLimit)
        SendMessageW(log, LB_DELETESTRING, 0, 0);
    const std::wstring text = win32::ToWide(line);
    const LRESULT index =
        SendMessageW(log, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index >= 0)
        SendMessageW(log, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

void CKestroDlg::ClearLog() {
    SendMessageW(Item(IDC_MESSAGE_LOG), LB_RESETCONTENT, 0, 0);
}

void CKestroDlg::RefreshStatusPopup(const SessionDisplay& display, bool showAlways) {
    if (IsPromptOpen())
        return;
    if (!showAlways && (!statusPopup_ || !statusPopup_->IsVisible()))
        return;
    QueryTaskbarFreeArea(freeArea_);
    if (!statusPopup_) {
        statusPopup_ = std::make_unique<TargetStatusDlg>(Handle());
        if (!statusPopup_->Create(Handle())) {
            statusPopup_.reset();
            return;
        }
    }
    statusPopup_->Refresh(
        display, freeArea_,
        [this](std::uint32_t fileIndex, std::uint32_t mediaType) -> std::optional<std::u16string> {
            std::u16string line;
            if (handoff::ReadListLine(listPaths_, static_cast<int>(fileIndex),
                                      static_cast<int>(mediaType), line) != handoff::kListLineRead)
                return std::nullopt;
            return line;
        });
}

void CKestroDlg::HideStatusPopup() {
    if (statusPopup_ && statusPopup_->IsVisible())
        statusPopup_->Hide();
}

void CKestroDlg::CloseStatusPopup() {
    statusPopup_.reset();
}

void CKestroDlg::AskAccessCode(const SessionDisplay& display, DialogTicket ticket) {
    QueryTaskbarFreeArea(freeArea_);
    HideStatusPopup();
    std::string code;
    const bool confirmed = RunAccessCodePrompt(Handle(), freeArea_, display, code, &activeCodeDlg_);
    PostAccessCodeEntered(ticket, confirmed, code);
}

void CKestroDlg::ChooseTarget(const TargetTable& table, DialogTicket ticket) {
    QueryTaskbarFreeArea(freeArea_);
    HideStatusPopup();
    int index = -1;
    const bool chosen = RunTargetList(Handle(), table, freeArea_, index, &targetListDlg_);
    PostTargetChosen(ticket, !chosen, index);
}

bool CKestroDlg::IsPromptOpen() {
    return activeCodeDlg_ != nullptr || targetListDlg_ != nullptr;
}

void CKestroDlg::ClosePrompts() {
    if (activeCodeDlg_ != nullptr && activeCodeDlg_->Handle() != nullptr)
        PostMessageW(activeCodeDlg_->Handle(), WM_CLOSE, 0, 0);
    if (targetListDlg_ != nullptr && targetListDlg_->Handle() != nullptr)
        PostMessageW(targetListDlg_->Handle(), WM_CLOSE, 0, 0);
}

void CKestroDlg::ShowTargetFields(std::uint32_t address, std::u16string_view port,
                                  std::u16string_view deviceName,
                                  std::u16string_view targetStatus) {
    WriteIpAddressField(Item(IDC_TARGET_ADDRESS), address);
    SetItemText(IDC_TARGET_PORT, AsWide(port));
    SetItemText(IDC_DEVICE_NAME, AsWide(deviceName));
    SetItemText(IDC_TARGET_STATUS, AsWide(targetStatus));
}

void CKestroDlg::ShowOnRequest(bool show) {
    visible_ = show;
    if (!show) {
        ShowWindow(Handle(), SW_HIDE);
        return;
    }
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
}

bool CKestroDlg::OnCommand(int id, int code, HWND) {
    switch (id) {
    case IDOK:
        End(IDOK);
        return true;
    case IDCANCEL: // Escape hides the window as its close box does.
        ShowOnRequest(false);
        return true;
    case IDM_HELP:
        ShowHelp();
        return true;
    case IDM_ABOUT:
        ShowAbout();
        return true;
    case IDM_QUIT:
        QuitManager();
        return true;
    default:
        break;
    }
    if (code != BN_CLICKED || !IsSessionCommand(id))
        return false;
    session_.OnCommand(static_cast<std::uint32_t>(id));
    return true;
}

LRESULT CKestroDlg::OnTrayCallback(LPARAM lParam) {
    switch (LOWORD(lParam)) {
    case WM_LBUTTONUP:
        RefreshStatusPopup(session_.Display(), true);
        break;
    case WM_RBUTTONUP: {
        SetForegroundWindow(Handle());
        POINT cursor{};
        GetCursorPos(&cursor);
        win32::TrackTrayMenu(Handle(), GetSubMenu(trayMenu_.Get(), 0), cursor,
                             TPM_RIGHTALIGN | TPM_RIGHTBUTTON);
        break;
    }
    default:
        break;
    }
    return 1;
}

std::optional<LRESULT> CKestroDlg::OnRegisteredMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == messages_.taskbarCreated) {
        // The new taskbar has no icons: ours is added again.
        if (tray_ && !tray_->Restore())
            tray_->Add();
        return 0;
    }
    if (message == messages_.debugToManager) {
        if (wParam == 0 && lParam == 1)
            ShowOnRequest(true);
        else if (wParam == 0 && lParam == 0)
            ShowOnRequest(false);
        return 0;
    }
    if (message == messages_.cmdToManager) {
        session_.OnServerMessage(Parameter(wParam), Parameter(static_cast<WPARAM>(lParam)));
        return 0;
    }
    if (message == messages_.cmdDllToManager) {
        session_.OnHandOffMessage(Parameter(wParam), Parameter(static_cast<WPARAM>(lParam)));
        return 0;
    }
    return std::nullopt;
}

void CKestroDlg::PaintMinimised() {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(Handle(), &paint);
    SendMessageW(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(Handle(), &client);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(Handle(), &paint);
}

void CKestroDlg::OnDestroy() {
    session_.OnDestroy();
    if (tray_)
        tray_->Remove();
}

std::optional<LRESULT> CKestroDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (DeliverManagerMessage(session_, message, wParam, lParam) ||
        DeliverDialogOutcome(session_, message) || ServeClosingSockets(message, wParam))
        return 0;
    switch (message) {
    case WM_WINDOWPOSCHANGING:
        // The hidden-window rule: nobody shows the window unless it was asked for.
        if (!visible_)
            reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
        return std::nullopt;
    case WM_CLOSE:
        ShowOnRequest(false);
        return 0;
    case WM_TIMER:
        session_.OnTimer(static_cast<int>(wParam));
        return 0;
    case WM_STOP_STREAMING:
        session_.OnStopStreaming();
        return 0;
    case kTrayCallbackMessage:
        return OnTrayCallback(lParam);
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ShowAbout();
            return 0;
        }
        return std::nullopt;
    case WM_PAINT:
        if (!IsIconic(Handle()))
            return std::nullopt;
        PaintMinimised();
        return 0;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(icon_);
    case WM_DESTROY:
        OnDestroy();
        return std::nullopt;
    default:
        break;
    }
    if (message >= 0xC000 && message <= 0xFFFF)
        return OnRegisteredMessage(message, wParam, lParam);
    return std::nullopt;
}

} // namespace manager
