// The About box's lines, filled each time it is shown.
#include "manager/win32/AboutDlg.h"

#include "common/text/Format.h"
#include "common/win32/Text.h"
#include "manager/win32/ManagerServices.h"
#include "manager/win32/Resource.h"

namespace manager {

CAboutDlg::CAboutDlg(std::u16string managerPath, std::u16string serverPath,
                     std::u16string extensionPath)
    : CDialog(IDD_ABOUTBOX), managerPath_(std::move(managerPath)),
      serverPath_(std::move(serverPath)), extensionPath_(std::move(extensionPath)) {}

bool CAboutDlg::OnInitDialog() {
    SetWindowTextW(Handle(), L"About");
    // The buffers start empty: a file without a version resource leaves its legal notice alone.
    std::u16string version;
    std::u16string legal;
    GetFileVersionStrings(managerPath_, version, kVersionUnits, legal, kVersionUnits);
    SetItemText(IDC_AP_VERSION,
                win32::AsWide(text::FormatCut(kVersionUnits, u"Lumavert AP Version %s", version)));
    SetItemText(IDC_AP_COPYRIGHT, win32::AsWide(legal));

    std::u16string unused;
    version.clear();
    GetFileVersionStrings(serverPath_, version, kVersionUnits, unused, kVersionUnits);
    SetItemText(IDC_SERVER_VERSION, win32::AsWide(text::FormatCut(
                                        kVersionUnits, u"Lumavert Server Version %s", version)));
    version.clear();
    GetFileVersionStrings(extensionPath_, version, kVersionUnits, unused, kVersionUnits);
    SetItemText(IDC_DLL_VERSION,
                win32::AsWide(text::FormatCut(kVersionUnits, u"Lumavert DLL Version %s", version)));
    return true;
}

bool CAboutDlg::OnCommand(int id, int, HWND) {
    if (id == IDOK || id == IDCANCEL) {
        End(id);
        return true;
    }
    return false;
}

} // namespace manager
