// The application's start-up.
#include "manager/win32/KestroApp.h"

#include <windows.h>

#include <commctrl.h>

#include "common/platform/Socket.h"
#include "manager/win32/Dialog.h"
#include "manager/win32/KestroDlg.h"
#include "manager/win32/Resource.h"

namespace manager {

int CKestroApp::Run() {
    if (!platform::StartSocketLibrary()) {
        wchar_t text[256] = {};
        LoadStringW(ResourceInstance(), IDS_SOCKETS_INIT_FAILED, text, 256);
        MessageBoxW(nullptr, text, L"Lumavert", MB_OK | MB_ICONERROR);
        return 0;
    }
    // The address field of the main dialog is a SysIPAddress32.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);

    CKestroDlg dialog;
    dialog.DoModal(nullptr);
    // The disconnect sent at the end reaches the player before the connection closes.
    dialog.FinishClosingSockets();
    return 0;
}

} // namespace manager
