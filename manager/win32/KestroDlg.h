// CKestroDlg: the manager's hidden main dialog. It starts the program (single instance,
// registered messages, companion paths, the server's restart, the tray icon), keeps its window
// hidden unless asked, implements the manager's port for the session controller and routes the
// window messages, timers and commands to it.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "common/handoff/ListFiles.h"
#include "common/win32/Handle.h"
#include "common/win32/TrayIcon.h"
#include "manager/core/Placement.h"
#include "manager/core/ServerReset.h"
#include "manager/core/SessionController.h"
#include "manager/win32/Dialog.h"
#include "manager/win32/Win32Port.h"

namespace manager {

class ActiveCodeDlg;
class TargetListDlg;
class TargetStatusDlg;

// The tray icon's id and callback message (the first user message plus 2).
inline constexpr UINT kTrayIconId = 150;
inline constexpr UINT kTrayCallbackMessage = WM_USER + 2;
// The "Message Receive" box keeps this many lines; older ones are dropped.
inline constexpr int kLogLineLimit = 1000;

// The registered messages, in the order they are registered.
struct ManagerMessageIds {
    UINT taskbarCreated = 0;
    UINT debugToManager = 0;
    UINT cmdToNfsServer = 0;
    UINT cmdToManager = 0;
    UINT cmdDllToManager = 0;
};
ManagerMessageIds RegisterManagerMessages();

// Gives the tray menu's items at positions 0, 2, 3 and 5 their access keys D, H, A and Q
// ("%s (&%c)"), keeping their commands.
void RelabelTrayMenu(HMENU popup);

class CKestroDlg : public CDialog, public Win32Port {
  public:
    // `serverHost` replaces the Win32 one (tests); null for the real one.
    explicit CKestroDlg(ServerHost* serverHost = nullptr);
    ~CKestroDlg() override;

    SessionController& Session() { return session_; }
    bool IsShownOnRequest() const { return visible_; }
    const TaskbarFreeArea& FreeArea() const { return freeArea_; }
    const std::u16string& ManagerPath() const { return managerPath_; }
    const std::u16string& ServerPath() const { return serverPath_; }
    const std::u16string& ExtensionPath() const { return extensionPath_; }
    const std::u16string& HelpPath() const { return helpPath_; }
    const ManagerMessageIds& Messages() const { return messages_; }
    HMENU TrayMenu() const { return trayMenu_.Get(); }

    // Asks the popups and the main window to close and ends the main dialog.
    void QuitManager();
    // ResetServer through the Win32 host; only start-up quits when it fails.
    bool StartServer(bool quitOnFailure);
    // The error box without a continuation (start-up failures).
    void ShowErrorText(std::u16string_view text);
    void ShowHelp();
    void ShowAbout();

    // The port's user-interface effects.
    void ClearLog() override;
    void RefreshStatusPopup(const SessionDisplay& display, bool showAlways) override;
    void HideStatusPopup() override;
    void CloseStatusPopup() override;
    void AskAccessCode(const SessionDisplay& display, DialogTicket ticket) override;
    void ChooseTarget(const TargetTable& table, DialogTicket ticket) override;
    bool IsPromptOpen() override;
    void ClosePrompts() override;
    // The server supervision of start-up, again when a hand-off finds the server ended.
    bool IsServerRunning() override;
    bool RestartServer() override;
    void ShowTargetFields(std::uint32_t address, std::u16string_view port,
                          std::u16string_view deviceName,
                          std::u16string_view targetStatus) override;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    bool IsAnotherInstanceRunning();
    bool BuildPaths();
    void LoadTrayMenu();
    void AppendLogLine(std::u16string_view line);
    void ShowOnRequest(bool show);
    LRESULT OnTrayCallback(LPARAM lParam);
    std::optional<LRESULT> OnRegisteredMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void PaintMinimised();
    void OnDestroy();

    ServerHost* serverHost_;
    HICON icon_ = nullptr;
    ManagerMessageIds messages_;
    std::u16string listFolder_;
    handoff::ListPaths listPaths_;
    std::u16string managerPath_;
    std::u16string managerFolder_;
    std::u16string extensionPath_;
    std::u16string helpPath_;
    std::u16string serverPath_;
    bool is64_ = false;
    TaskbarFreeArea freeArea_;
    win32::TMenu trayMenu_;
    std::unique_ptr<win32::TTrayIcon> tray_;
    bool visible_ = false;
    ActiveCodeDlg* activeCodeDlg_ = nullptr;
    TargetListDlg* targetListDlg_ = nullptr;
    std::unique_ptr<TargetStatusDlg> statusPopup_;
    SessionController session_;
};

} // namespace manager
