// HelpDlg: the help text viewer, 480 x 480 in the middle of the screen.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "common/win32/Handle.h"
#include "manager/win32/Dialog.h"

namespace manager {

class HelpDlg : public CDialog {
  public:
    // Shows an error text (the manager's error box, without its message-box flag).
    using ErrorBox = std::function<void(HWND owner, std::u16string_view text)>;

    HelpDlg(std::u16string helpPath, ErrorBox errorBox);

  protected:
    bool OnInitDialog() override;
    std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;

  private:
    void LoadText();

    std::u16string helpPath_;
    ErrorBox errorBox_;
    win32::TBrush white_;
};

// The error box of the manager: modal, titled "ERROR", error icon and OK.
void ShowSystemErrorBox(HWND owner, std::u16string_view text);

} // namespace manager
