// TargetStatusDlg: the status popup with the connected player and what it plays, and "Stop
// Streaming". Modeless; created on its first refresh, then only hidden and shown.
#pragma once

#include <windows.h>

#include "manager/core/ManagerPort.h"
#include "manager/core/Placement.h"
#include "manager/core/StatusText.h"
#include "manager/win32/BmpBtn.h"
#include "manager/win32/SkinnedDialog.h"

namespace manager {

class TargetStatusDlg : public CSkinnedDialog {
  public:
    // "Stop Streaming" posts WM_STOP_STREAMING to `mainDialog`.
    explicit TargetStatusDlg(HWND mainDialog);

    // Sets the size used by Refresh (369 x 100 when 0).
    void SetSize(int width, int height) {
        width_ = width;
        height_ = height;
    }
    // Copies the display values and the free area, sizes and places the popup, fills its fields
    // and shows it again (hidden first when it was visible).
    void Refresh(const SessionDisplay& display, const TaskbarFreeArea& area,
                 const ListLineReader& readListLine);
    void Hide();

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    HWND mainDialog_;
    CBmpBtn stop_;
    CBmpBtn close_;
    SessionDisplay display_;
    TaskbarFreeArea area_;
    int width_ = 0;
    int height_ = 0;
};

} // namespace manager
