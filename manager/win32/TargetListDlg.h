// TargetListDlg: the device list in which the user picks one of several free players, in the
// bottom-right corner of the free screen area.
#pragma once

#include <windows.h>

#include <vector>

#include "manager/core/Placement.h"
#include "manager/core/TargetTable.h"
#include "manager/win32/BmpBtn.h"
#include "manager/win32/RadioListBox.h"
#include "manager/win32/SkinnedDialog.h"

namespace manager {

class TargetListDlg : public CSkinnedDialog {
  public:
    TargetListDlg(const TargetTable& table, const TaskbarFreeArea& area);

    // The chosen record's slot in the table, -1 for none.
    int Result() const { return result_; }
    const CRadioListBox& List() const { return list_; }

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

  private:
    void Fill();

    const TargetTable& table_;
    TaskbarFreeArea area_;
    CRadioListBox list_;
    CBmpBtn ok_;
    CBmpBtn close_;
    std::vector<int> slots_; // table slot of each list position
    int result_ = -1;
};

// Runs the device list modally: true for OK with `index` the chosen slot (-1 for none), false
// when cancelled. `open` points at the dialog while it runs.
bool RunTargetList(HWND owner, const TargetTable& table, const TaskbarFreeArea& area, int& index,
                   TargetListDlg** open = nullptr);

} // namespace manager
