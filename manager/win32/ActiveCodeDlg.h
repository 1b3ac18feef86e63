// ActiveCodeDlg: the popup in which the user types the player's access code ("Pin Code:"),
// above the taskbar at the right edge of the screen.
#pragma once

#include <windows.h>

#include <string>

#include "manager/core/ManagerPort.h"
#include "manager/core/Placement.h"
#include "manager/win32/BmpBtn.h"
#include "manager/win32/SkinnedDialog.h"

namespace manager {

// The typed code is ANSI text of up to this many bytes with its terminator.
inline constexpr std::size_t kCodeBufferBytes = 256;

class ActiveCodeDlg : public CSkinnedDialog {
  public:
    ActiveCodeDlg(const TaskbarFreeArea& area, std::u16string addressText,
                  std::u16string deviceName);

    bool Accepted() const { return accepted_; }
    // The pin-code field's text as read by OK (ANSI, at most 255 bytes).
    const std::string& EnteredCode() const { return code_; }

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void OnShown();

    TaskbarFreeArea area_;
    std::u16string addressText_;
    std::u16string deviceName_;
    CBmpBtn ok_;
    CBmpBtn close_;
    bool accepted_ = false;
    std::string code_;
};

// Runs the access-code prompt modally for the player in `display`. When the user confirms, the
// entered text is copied into `code` (at most capacity - 1 bytes) and cut to 8 characters;
// otherwise `code` stays as it was. `open` points at the dialog while it runs.
bool RunAccessCodePrompt(HWND owner, const TaskbarFreeArea& area, const SessionDisplay& display,
                         std::string& code, ActiveCodeDlg** open = nullptr,
                         std::size_t capacity = kCodeBufferBytes);

} // namespace manager
