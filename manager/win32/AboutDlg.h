// CAboutDlg: the About box with the versions of the manager, the server and the extension.
#pragma once

#include <windows.h>

#include <string>

#include "manager/win32/Dialog.h"

namespace manager {

class CAboutDlg : public CDialog {
  public:
    CAboutDlg(std::u16string managerPath, std::u16string serverPath, std::u16string extensionPath);

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

  private:
    std::u16string managerPath_;
    std::u16string serverPath_;
    std::u16string extensionPath_;
};

} // namespace manager
