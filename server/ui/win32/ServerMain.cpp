// Server.exe process start: one instance per session, the hidden application window, the
// settings form, the first start of the server thread from the registry, the message loop.
#include <windows.h>

#include <commctrl.h>

#include "common/platform/ListFolder.h"
#include "common/platform/Socket.h"
#include "server/ui/win32/AppWindow.h"
#include "server/ui/win32/ControlChannel.h"
#include "server/ui/win32/Resource.h"
#include "server/ui/win32/ServerControl.h"
#include "server/ui/win32/SettingsForm.h"

namespace {

int RunMessageLoop(serverui::TDSettings& form) {
    MSG message{};
    for (;;) {
        const BOOL status = GetMessageW(&message, nullptr, 0, 0);
        if (status == 0)
            return static_cast<int>(message.wParam);
        if (status < 0)
            return 1;
        if (form.PreTranslateMessage(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The first start: a type error in the registry or a set-up failure is shown; a root folder that
// does not exist leaves the server stopped without a word.
void StartFromRegistry(serverui::TServerControl& control) {
    std::u16string error;
    if (!control.LoadAtStart(error)) {
        serverui::ShowServerError(error);
        return;
    }
    if (!serverui::IsExistingFolder(control.Settings().root))
        return;
    if (!control.StartServer(error))
        serverui::ShowServerError(error);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // A second start ends at once and silently; the first one keeps serving.
    if (serverui::TAppWindow::IsAnotherRunning())
        return 0;

    platform::StartSocketLibrary();
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SERVER));

    serverui::TAppWindow app(instance);
    if (!app.Create(icon))
        return 1;
    const serverui::TControlMessages messages = serverui::RegisterControlMessages();

    serverui::TServerControl control(
        platform::ListFolder(platform::ListFolderFallback::kExecutableFolder));
    serverui::TDSettings form(instance, icon, control, messages);
    if (!form.Create())
        return 1;
    serverui::AllowControlMessages(app.Handle(), form.Handle(), messages);
    StartFromRegistry(control);
    // The form is destroyed first (its destruction stops the server), then the app window.
    return RunMessageLoop(form);
}
