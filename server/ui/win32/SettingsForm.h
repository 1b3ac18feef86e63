// TDSettings: the settings form "Server Settings". It is the server's main window and receives
// the control channel's messages, so it stays a (hidden) top-level window that broadcasts reach.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "common/win32/Handle.h"
#include "common/win32/TrayIcon.h"
#include "server/ui/win32/CodePageList.h"
#include "server/ui/win32/ControlChannel.h"

namespace serverui {

class TServerControl;

class TDSettings {
  public:
    TDSettings(HINSTANCE instance, HICON icon, TServerControl& control,
               const TControlMessages& messages);
    ~TDSettings();
    TDSettings(const TDSettings&) = delete;
    TDSettings& operator=(const TDSettings&) = delete;

    // Creates the hidden form and its controls.
    bool Create();
    HWND Handle() const { return window_; }

    // Keyboard navigation of the visible form; true when the message was used.
    bool PreTranslateMessage(MSG& message);

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    bool CreateControls();
    HWND CreatePage(const RECT& area);
    HWND AddControl(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style,
                    int x, int y, int width, int height, int id = 0, DWORD exStyle = 0);

    void ShowForm();
    void HideForm();
    void SelectPage(int index);
    void UpdateOkButton();
    void OnOk();
    void OnReload();
    void OnDebugMessage(WPARAM wParam, LPARAM lParam);
    bool OnTrayCallback(LPARAM lParam);

    HINSTANCE instance_;
    HICON icon_;
    TServerControl& control_;
    TControlMessages messages_;
    std::unique_ptr<win32::TTrayIcon> tray_;
    std::vector<TCodePageEntry> codePages_;
    bool shown_ = false;

    HWND window_ = nullptr;
    win32::TFont font_;
    HWND tabs_ = nullptr;
    HWND pages_[3] = {};
    HWND root_ = nullptr;      // FRoot
    HWND host_ = nullptr;      // FHost
    HWND codepages_ = nullptr; // FCodepages
    HWND ok_ = nullptr;        // FBOk
    HWND cancel_ = nullptr;    // FBCancel
};

} // namespace serverui
